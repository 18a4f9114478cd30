// The installation over generated application folders, each case once with the update folder
// beside the files and once on another file system (copies instead of renames); then a
// read-only folder, a running program and a killed installation.
#include "wizard/installation.h"

#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace upd::wizard {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;

struct File {
    std::string path;  // under the application folder; downloads under "update/"
    std::string content;
    mode_t mode = 0;  // 0: left as created, not compared
};
using Files = std::vector<File>;

const std::string kElf = "\177ELF\x02\x01";

// An application folder whose update folder may be a link to another file system.
struct AppFolder {
    explicit AppFolder(bool updateElsewhere, const Files& files) {
        if (updateElsewhere) {
            std::string pattern = "/dev/shm/upd-test-XXXXXX";
            struct stat here {};
            struct stat there {};
            if (::mkdtemp(pattern.data()) == nullptr || ::stat(pattern.c_str(), &there) != 0 ||
                ::stat(dir.path().c_str(), &here) != 0 || here.st_dev == there.st_dev) {
                fs::remove(pattern);
                return;
            }
            elsewhere = pattern;
            fs::create_directory_symlink(elsewhere, dir.file("update"));
        }
        fs::create_directories(dir.file("update"));
        for (const File& f : files) {
            dir.write(f.path, f.content);
            if (f.mode != 0) {
                fs::permissions(dir.file(f.path), static_cast<fs::perms>(f.mode));
            }
        }
    }
    ~AppFolder() {
        if (!elsewhere.empty()) {
            fs::remove_all(elsewhere);
        }
    }
    // Every file and folder (path + "/"), following the update folder's link.
    std::map<std::string, File> tree() const {
        std::map<std::string, File> found;
        for (const auto& e : fs::recursive_directory_iterator(
                 dir.path(), fs::directory_options::follow_directory_symlink)) {
            const std::string path = e.path().string().substr(dir.path().size());
            struct stat info {};
            ::stat(e.path().c_str(), &info);
            const bool folder = e.is_directory();
            found[path + (folder ? "/" : "")] = {path, folder ? "" : readFile(e.path()),
                                                 info.st_mode & 07777};
        }
        return found;
    }
    // Compares with `files`, their folders and the update folder.
    void expectTree(const Files& files, const std::string& label) const {
        std::map<std::string, File> expected{{"update/", {}}};
        for (const File& f : files) {
            expected[f.path] = f;
            for (auto p = fs::path(f.path).parent_path(); !p.empty(); p = p.parent_path()) {
                expected[p.string() + "/"] = {};
            }
        }
        const auto actual = tree();
        for (const auto& [path, file] : expected) {
            const auto it = actual.find(path);
            ASSERT_NE(it, actual.end()) << label << ": missing " << path;
            EXPECT_EQ(it->second.content, file.content) << label << ": " << path;
            if (file.mode != 0) {
                EXPECT_EQ(it->second.mode, file.mode) << label << ": mode of " << path;
            }
        }
        for (const auto& [path, file] : actual) {
            EXPECT_TRUE(expected.count(path)) << label << ": unexpected " << path;
        }
    }

    TempDir dir;
    std::string elsewhere;
};

std::string summary(const InstallResult& result) {
    if (result) {
        return "ok";
    }
    const InstallFailure& f = *result.failure;
    return f.entry + " errno " + std::to_string(f.error) + (f.inUseOrDenied ? " denied" : "");
}

struct Case {
    const char* label;
    Files before;
    std::vector<InstallEntry> entries;
    const char* failure;  // summary(); "ok" on success
    Files after;          // empty on failure: `before`, untouched
};

// Old a.dll and b.dll, downloads for five entries, and a folder `blocked` where one of them
// (or none) must go.
Files fiveWithFolderAt(const std::string& blocked) {
    Files files{{"a.dll", "old a", 0700}, {"keep.txt", "keep"}, {blocked + "/inside", "in"}};
    if (blocked != "b.dll") {
        files.push_back({"b.dll", "old b", 0640});
    }
    for (const char* name : {"a.dll", "b.dll", "c.dll", "d.dll", "sub/e.dll"}) {
        files.push_back({std::string("update/") + name, std::string("new ") + name});
    }
    return files;
}
// clang-format off
const std::vector<InstallEntry> kFive = {
    {"a.dll", "a.dll"}, {"sub\\e.dll", "new\\e.dll"}, {"b.dll", "b.dll"}, {"c.dll", "c.dll"},
    {"d.dll", "d.dll"}};
// clang-format on

class Installation : public testing::TestWithParam<bool> {};

TEST_P(Installation, PutsEveryFileInPlaceOrNone) {
    // clang-format off
    const Case cases[] = {
        {"replaced: content new, mode kept",
         {{"a.dll", "old", 0750}, {"keep.txt", "keep"}, {"update/a.dll", "new", 0600}},
         {{"a.dll", "a.dll"}}, "ok", {{"a.dll", "new", 0750}, {"keep.txt", "keep"}}},
        {"new files: modes from content, sub-folders made, update.exe renamed",
         {{"old.sh", "#!old", 0700}, {"update/old.sh", "#!new", 0600},
          {"update/plain.txt", "text", 0600}, {"update/bin/tool", kElf, 0600},
          {"update/bin/run.sh", "#!/bin/sh\n", 0600}, {"update/update.exe", "MZ", 0600}},
         {{"old.sh", "old.sh"}, {"plain.txt", "plain.txt"}, {"bin\\tool", "bin\\deep\\tool"},
          {"bin\\run.sh", "bin\\run.sh"}, {"update.exe", "reupdate.exe"}}, "ok",
         {{"old.sh", "#!new", 0700}, {"plain.txt", "text", 0644},
          {"bin/deep/tool", kElf, 0755}, {"bin/run.sh", "#!/bin/sh\n", 0755},
          {"reupdate.exe", "MZ", 0644}}},
        {"third of five is a folder: rolled back", fiveWithFolderAt("b.dll"), kFive,
         "b.dll errno 21", {}},
        {"fourth of five is a folder: rolled back", fiveWithFolderAt("c.dll"), kFive,
         "c.dll errno 21", {}},
        {"missing download", {{"a.dll", "old"}, {"update/a.dll", "new"}},
         {{"a.dll", "a.dll"}, {"gone.dll", "gone.dll"}}, "gone.dll errno 2", {}},
        {"hostile name", {{"update/x", "x"}}, {{"..\\x", "x"}}, "..\\x errno 0", {}},
        {"hostile target", {{"update/x", "x"}}, {{"x", "C:\\x"}}, "x errno 0", {}},
        {"target in the update folder", {{"update/x", "x"}}, {{"x", "update\\y"}},
         "x errno 0", {}},
        {"two entries, one target", {{"update/x", "x"}, {"update/y", "y"}},
         {{"x", "z"}, {"y", "z"}}, "y errno 0", {}},
        {"the backups' folder", {{"update/.install-backup/x", "x"}},
         {{".install-backup\\x", "x"}}, ".install-backup\\x errno 0", {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        const AppFolder app(GetParam(), c.before);
        if (GetParam() && app.elsewhere.empty()) {
            GTEST_SKIP() << "/dev/shm is not a separate file system here";
        }
        const InstallResult result = installFiles(app.dir.path(), c.entries);
        EXPECT_EQ(summary(result), c.failure) << c.label;
        EXPECT_EQ(result.installed.size(), result ? c.entries.size() : 0) << c.label;
        app.expectTree(result ? c.after : c.before, c.label);
    }
}

INSTANTIATE_TEST_SUITE_P(UpdateFolder, Installation, testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Elsewhere" : "Beside"; });

TEST(InstallationProcess, ReportsAFolderItCannotWriteAndPutsEverythingBack) {
    const Files before{
        {"a.dll", "old"}, {"ro/readme", "r"}, {"update/a.dll", "new"}, {"update/b.dll", "b"}};
    const AppFolder app(false, before);
    ::chmod(app.dir.file("ro").c_str(), 0555);
    const auto install = [&] {
        return summary(installFiles(app.dir.path(), {{"a.dll", "a.dll"}, {"b.dll", "ro\\b.dll"}}));
    };
    std::string outcome;
    if (::geteuid() != 0) {
        outcome = install();
    } else {
        // Root ignores permission bits: install as "nobody" in a tree it owns.
        for (const auto& e : fs::recursive_directory_iterator(app.dir.path())) {
            ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(::chown(app.dir.path().c_str(), 65534, 65534), 0);
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            const bool dropped = ::setgroups(0, nullptr) == 0 &&
                                 ::setresgid(65534, 65534, 65534) == 0 &&
                                 ::setresuid(65534, 65534, 65534) == 0;
            const std::string text = dropped ? install() : "cannot drop privileges";
            ::_exit(::write(out[1], text.data(), text.size()) < 0);
        }
        ::close(out[1]);
        char buffer[256];
        for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
            outcome.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(out[0]);
        ::waitpid(child, nullptr, 0);
        if (outcome == "cannot drop privileges") {
            GTEST_SKIP() << "running as root without the right to become nobody";
        }
    }
    ::chmod(app.dir.file("ro").c_str(), 0755);
    EXPECT_EQ(outcome, "b.dll errno 13 denied");
    app.expectTree(before, "read-only folder");
}

TEST(InstallationProcess, ReplacesARunningProgram) {
    const AppFolder app(false, {{"update/tool", "#!/bin/sh\n"}});
    fs::copy_file("/bin/sleep", app.dir.file("tool"));
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>("tool"), const_cast<char*>("30"), nullptr};
    ASSERT_EQ(::posix_spawn(&pid, app.dir.file("tool").c_str(), nullptr, nullptr, argv, environ),
              0);
    EXPECT_EQ(summary(installFiles(app.dir.path(), {{"tool", "tool"}})), "ok");
    EXPECT_TRUE(readFile(app.dir.file("tool")) == "#!/bin/sh\n");  // no dump of the old one
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the running program ended";
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST(InstallationProcess, RecoversFromAKilledInstallation) {
    const Files before = fiveWithFolderAt("unrelated");
    const Files after{{"a.dll", "new a.dll", 0700},   {"b.dll", "new b.dll", 0640},
                      {"c.dll", "new c.dll"},         {"d.dll", "new d.dll"},
                      {"new/e.dll", "new sub/e.dll"}, {"keep.txt", "keep"},
                      {"unrelated/inside", "in"}};
    for (const std::size_t killedAfter : {2u, 5u}) {
        const AppFolder app(false, before);
        int stopped[2];
        ASSERT_EQ(::pipe(stopped), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            setInstallStepHook([&](std::size_t done) {
                while (done == killedAfter && ::write(stopped[1], "s", 1) == 1) {
                    ::pause();
                }
            });
            installFiles(app.dir.path(), kFive);
            ::_exit(1);
        }
        ::close(stopped[1]);
        char signal = 0;
        EXPECT_EQ(::read(stopped[0], &signal, 1), 1) << "the installation did not stop";
        ::close(stopped[0]);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        const bool committed = killedAfter == kFive.size();
        const RecoveryResult recovery = recoverInterruptedInstall(app.dir.path());
        EXPECT_TRUE(recovery.journalFound && !recovery.failure);
        EXPECT_EQ(recovery.rolledBack, !committed);
        EXPECT_EQ(recovery.completed, committed);
        app.expectTree(committed ? after : before, "killed after " + std::to_string(killedAfter));
        EXPECT_FALSE(recoverInterruptedInstall(app.dir.path()).journalFound);
    }
}

}  // namespace
}  // namespace upd::wizard
