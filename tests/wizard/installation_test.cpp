// The installation over generated application folders, each case once with the update folder
// beside the files and once on another file system (copies instead of renames); then a
// read-only folder, a running program and forged journals. A kill at every step of an
// installation: install_crash_sweep.sh.
#include "wizard/installation.h"

#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
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
    // Compares every file and folder (path + "/"), following the update folder's link, with
    // `files`, their folders and the update folder; modes only where `files` gives one.
    void expectTree(const Files& files, const std::string& label) const {
        std::map<std::string, std::pair<std::string, mode_t>> expected{{"update/", {}}}, actual;
        for (const File& f : files) {
            expected[f.path] = {f.content, f.mode};
            for (auto p = fs::path(f.path).parent_path(); !p.empty(); p = p.parent_path()) {
                expected[p.string() + "/"] = {};
            }
        }
        for (const auto& e : fs::recursive_directory_iterator(
                 dir.path(), fs::directory_options::follow_directory_symlink)) {
            const bool folder = e.is_directory();
            const auto path = e.path().string().substr(dir.path().size()) + (folder ? "/" : "");
            struct stat info {};
            ::stat(e.path().c_str(), &info);
            const auto it = expected.find(path);
            const bool compareMode = it != expected.end() && it->second.second != 0;
            actual[path] = {folder ? "" : readFile(e.path()),
                            compareMode ? info.st_mode & 07777 : 0};
        }
        EXPECT_EQ(actual, expected) << label;
    }

    TempDir dir;
    std::string elsewhere;
};

std::string summary(const InstallResult& r) {
    return r ? "ok"
             : r.failure->entry + " errno " + std::to_string(r.failure->error) +
                   (r.failure->inUseOrDenied ? " denied" : "");
}

// Old a.dll and b.dll, downloads for five entries, and a folder where the fourth must go.
Files fiveWithAFolderFourth() {
    Files files{{"a.dll", "old a", 0700}, {"b.dll", "old b", 0640}, {"c.dll/inside", "in"}};
    files.push_back({"keep.txt", "keep"});
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
    const struct {
        const char* label; Files before; std::vector<InstallEntry> entries;
        const char* failure;  // summary(); "ok" on success
        Files after = {};     // empty on failure: `before`, untouched
    } cases[] = {
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
        {"fourth of five is a folder: rolled back", fiveWithAFolderFourth(), kFive, "c.dll errno 21"},
        {"missing download", {{"a.dll", "old"}, {"update/a.dll", "new"}},
         {{"a.dll", "a.dll"}, {"gone.dll", "gone.dll"}}, "gone.dll errno 2"},
        {"hostile name", {{"update/x", "x"}}, {{"..\\x", "x"}}, "..\\x errno 0"},
        {"hostile target", {{"update/x", "x"}}, {{"x", "C:\\x"}}, "x errno 0"},
        {"target in the update folder", {{"update/x", "x"}}, {{"x", "update\\y"}}, "x errno 0"},
        {"two entries, one target", {{"update/x", "x"}, {"update/y", "y"}}, {{"x", "z"}, {"y", "z"}}, "y errno 0"},
        {"the backups' folder", {{"update/.install-backup/x", "x"}}, {{".install-backup\\x", "x"}},
         ".install-backup\\x errno 0"},
    };
    // clang-format on
    for (const auto& c : cases) {
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
    if (::geteuid() == 0) {
        // Root ignores permission bits: install as "nobody" in a tree it owns.
        for (const auto& e : fs::recursive_directory_iterator(app.dir.path())) {
            ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(::chown(app.dir.path().c_str(), 65534, 65534), 0);
    }
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::geteuid() != 0 || (::setgroups(0, nullptr) == 0 &&
                                                  ::setresgid(65534, 65534, 65534) == 0 &&
                                                  ::setresuid(65534, 65534, 65534) == 0);
        std::string text = "cannot drop privileges";
        if (dropped) {
            text =
                summary(installFiles(app.dir.path(), {{"a.dll", "a.dll"}, {"b.dll", "ro\\b.dll"}}));
        }
        ::_exit(::write(out[1], text.data(), text.size()) < 0);
    }
    ::close(out[1]);
    const std::string outcome = readFile("/dev/fd/" + std::to_string(out[0]));
    ::close(out[0]);
    ::waitpid(child, nullptr, 0);
    if (outcome == "cannot drop privileges") {
        GTEST_SKIP() << "running as root without the right to become nobody";
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

// The journal on disk is hostile input: whatever lies at its name, recovery changes no file of
// the application and nothing outside it, and a journal it cannot use is set aside, not a block.
TEST(InstallationRecovery, KeepsEveryFileWhateverTheJournalHolds) {
    const std::string kOutside = "outside";
    // A planned journal with one entry: NAME SOURCE TARGET EXISTED DEV INO [NEWDEV NEWINO].
    const auto journal = [](const std::string& entry, int version = 2) {
        return "upd-install-journal " + std::to_string(version) +
               "\ntoken 0123456789abcdef\nstate planned\nentry " + entry + "\nend\n";
    };
    using Setup = std::function<void(const TempDir& app, const TempDir& outside)>;
    const auto linkOut = [](const char* at, const char* outsideName) -> Setup {
        return [=](const TempDir& app, const TempDir& outside) {
            fs::remove_all(app.file(at));
            fs::create_symlink(outside.file(outsideName), app.file(at));
        };
    };
    // A new n.txt planned from update/n.txt; `installed`: the target is the download itself.
    const auto newFile = [&](bool installed) -> Setup {
        return [=](const TempDir& app, const TempDir&) {
            struct stat download {};
            ASSERT_EQ(::lstat(app.file("update/n.txt").c_str(), &download), 0);
            if (installed) {
                fs::create_hard_link(app.file("update/n.txt"), app.file("n.txt"));
            }
            app.write("update/install.journal",
                      journal("n n.txt n.txt 0 0 0 " + std::to_string(download.st_dev) + ' ' +
                              std::to_string(download.st_ino)));
        };
    };
    const std::string selfNamed = journal("x install.journal x.txt 0 0 0 0 0");
    // Each forged journal would, if replayed, remove or overwrite a file it lists.
    // clang-format off
    const struct {
        const char* label;
        Files files;    // "update/install.journal" among them unless `setup` writes it
        bool setAside;  // else rolled back
        Setup setup = {};
    } attacks[] = {
        {"garbage", {{"a.txt", "app"}, {"update/install.journal", std::string("\0\377junk", 6)}}, true},
        {"a folder", {{"a.txt", "app"}, {"update/install.journal/x", "x"}}, true},
        {"a link out", {{"a.txt", "app"}, {"update/install.journal", kOutside}}, true,
         linkOut("update/install.journal", "victim.txt")},
        {"source in the backups", {{"x.txt", "app"}, {"update/.install-backup/x", "app"},
          {"update/install.journal", journal("x .install-backup/x x.txt 0 0 0 0 0")}}, true},
        {"source is the journal", {{"x.txt", selfNamed}, {"update/install.journal", selfNamed}}, true},
        {"target through a link out",
         {{"out/victim.txt", kOutside}, {"update/victim.txt", kOutside},
          {"update/.install-backup/files/out/victim.txt", "forged"},
          {"update/install.journal", journal("v victim.txt out/victim.txt 1 1 1 1 1")}},
         true, linkOut("out", "")},
        {"version 1, an app file as new",
         {{"a.txt", "app"}, {"update/install.journal", journal("a a.txt a.txt 0 0 0", 1)}}, true},
        {"the user's own new file", {{"n.txt", "mine"}, {"update/n.txt", "new"}}, false, newFile(false)},
        {"the installed new file", {{"update/n.txt", "new"}}, false, newFile(true)},
    };
    // clang-format on
    for (const auto& a : attacks) {
        const AppFolder app(false, a.files);
        const TempDir outside;
        outside.write("victim.txt", kOutside);
        if (a.setup) {
            a.setup(app.dir, outside);
        }
        const bool backups = fs::exists(app.dir.file("update/.install-backup"));
        const RecoveryResult r = recoverInterruptedInstall(app.dir.path());
        EXPECT_TRUE(r.journalFound && !r.failure) << a.label;
        EXPECT_EQ(r.rolledBack, !a.setAside) << a.label;
        EXPECT_EQ(r.setAsideBackups.empty(), !(a.setAside && backups)) << a.label;
        // Setting aside is a rename: the same files, the journal and backups under new names.
        const auto renamed = [](std::string& path, const std::string& from, const std::string& to) {
            if (path.compare(0, from.size(), from) == 0) {
                path = "update/" + to + path.substr(from.size());
            }
        };
        Files after = a.files;
        for (File& f : after) {
            renamed(f.path, "update/install.journal", r.setAsideJournal);
            renamed(f.path, "update/.install-backup", r.setAsideBackups);
        }
        app.expectTree(after, a.label);
        EXPECT_EQ(readFile(outside.file("victim.txt")), kOutside) << a.label;
        EXPECT_EQ(std::distance(fs::directory_iterator(outside.path()), {}), 1) << a.label;
    }
}

}  // namespace
}  // namespace upd::wizard
