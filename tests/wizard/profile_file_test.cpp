#include "wizard/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::wizard {
namespace {

using test::LocaleGuard;
using test::readFile;
using test::TempDir;

TEST(ProfileSyntax, ReadsLikeTheWindowsProfileFunctions) {
    const std::string blanks = "  [ Proxy ]  \r\n\tServer =  proxy.example  \r\nPORT=1080\r\n";
    const std::string quotes =
        "[S]\ndouble=\"two words\"\nsingle='x'\ninner=\" spaced \"\nnested=\"a\"b\"\n"
        "open=\"unbalanced\nmixed=\"mixed'\nlone=\"\nempty=\"\"\n";
    const std::string comments =
        ";[Hidden]\n[S]\n;Server=commented\n   ; Port=1\nNote=a ; not a comment\n";
    const std::string repeats = "[Ver]\nk=1\nK=2\n[VER]\nk=3\nonlyLater=4\n";
    const std::string absent = "orphan=above every section\n[S]\nk=v\nbare\nbare=later\n";
    // "[Open" has no closing bracket: it is no header, so x still belongs to Ver.
    const std::string header = std::string("[Ver] old entries\nk=ab\0cd\n[Open\nx=1\n", 37);
    // "\x81\x41", "\x81\x61" and "\x81\x5D" are characters whose second bytes are 'A', 'a'
    // and ']'.
    const std::string gbk = "[\x81\x5D]\nk=v\n[S]\n\x81\x41=first\n\x81\x61=second\n";
    const auto utf8 = [](const char* ansi) { return platform::fromAnsi(ansi, 936); };
    const std::string x300(300, 'x');
    const std::string zhong = "\xD6\xD0";  // 中 in GBK
    const auto times = [](std::string_view text, int n) {
        std::string out;
        while (n-- > 0) {
            out += text;
        }
        return out;
    };
    // clang-format off
    const struct {
        std::string file; std::string section; std::string key; std::optional<std::string> value;
        platform::CodePage cp = 1252;
    } cases[] = {
        {blanks, "proxy", "server", "proxy.example"}, {blanks, " Proxy ", " port ", "1080"},
        {quotes, "S", "double", "two words"}, {quotes, "S", "single", "x"}, {quotes, "S", "inner", " spaced "},
        {quotes, "S", "nested", "a\"b"}, {quotes, "S", "open", "\"unbalanced"}, {quotes, "S", "mixed", "\"mixed'"},
        {quotes, "S", "lone", "\""}, {quotes, "S", "empty", ""},
        {comments, "S", ";Server", {}}, {comments, "S", "Server", {}}, {comments, "S", "Port", {}},
        {comments, "Hidden", "Server", {}}, {comments, "S", "Note", "a ; not a comment"},
        {repeats, "ver", "k", "1"}, {repeats, "ver", "onlyLater", {}}, {"", "S", "k", {}},
        {absent, "S", "missing", {}}, {absent, "Missing", "k", {}}, {absent, "", "orphan", {}},
        {absent, "S", "bare", ""},  // a key line without "=" comes first
        {header, "Ver", "k", "ab"}, {header, "Ver", "x", "1"},
        {gbk, utf8("\x81\x5D"), "k", "v", 936}, {gbk, "\x81", "k", {}, 936},
        {gbk, "S", utf8("\x81\x61"), "second", 936}, {gbk, "S", utf8("\x81\x41"), "first", 936},
        // Values are cut to 254 ANSI bytes, never inside a two-byte character.
        {"[S]\nq=\"" + x300 + "\"\n", "S", "q", x300.substr(0, 254)},
        {"[S]\nk=" + std::string(252, 'a') + zhong + "zz\n", "S", "k", std::string(252, 'a') + "中", 936},
        {"[S]\nk=" + std::string(253, 'a') + zhong + "\n", "S", "k", std::string(253, 'a'), 936},
        // 中 takes 3 bytes in UTF-8, 2 in code page 936; é 2 in UTF-8, 1 in 1252.
        {"\xEF\xBB\xBF[S]\nk=" + times("中", 200) + "\n", "S", "k", times("中", 127), 936},
        {"\xEF\xBB\xBF[S]\nk=" + times("é", 300) + "\n", "S", "k", times("é", 254)},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(ProfileDocument::parse(c.file, c.cp).find(c.section, c.key), c.value)
            << "[" << c.section << "] " << c.key << " in:\n"
            << c.file.substr(0, 80);
    }
}

TEST(ProfileWriting, ChangesOnlyWhatItMustInTheFileStyle) {
    const std::string proxy = "[Proxy]\r\nType = 3\r\n  server = \"old\"  \r\n\r\nPort=1\r\n";
    const std::string repeats = "[S]\nk=1\nk=2\nbare\n[s]\nk=3\n";
    const std::string refused = "[Proxy]\nType=1\n";
    using enum IniWriteError;
    // clang-format off
    const struct {
        std::string file; const char* section; const char* key; std::string value;
        std::string after;  // the whole file
        IniWriteError error = None;
    } cases[] = {
        {proxy, "PROXY", "Server", "new", "[Proxy]\r\nType = 3\r\n  server = new\r\n\r\nPort=1\r\n"},
        {proxy, "Proxy", "Port", "", "[Proxy]\r\nType = 3\r\n  server = \"old\"  \r\n\r\nPort=\r\n"},
        // A missing key goes after the last key line of its section.
        {"[Proxy]\nType=1\n; end of proxy\n\n[Other]\nx=1\n", "proxy", "Password", "secret",
         "[Proxy]\nType=1\nPassword=secret\n; end of proxy\n\n[Other]\nx=1\n"},
        {"[Proxy]\r\n[Other]\r\n", "Proxy", "Type", "0", "[Proxy]\r\nType=0\r\n[Other]\r\n"},
        // A missing section goes at the end.
        {"[A]\na=1", "Proxy", "Type", "2", "[A]\na=1\n[Proxy]\nType=2\n"},
        {"", " Proxy ", " Type ", "0", "[Proxy]\r\nType=0\r\n"},
        {"[Proxy]\r\nType=1", "Proxy", "Port", "8080", "[Proxy]\r\nType=1\r\nPort=8080"},
        // Into the section and key that reads see.
        {repeats, "S", "k", "new", "[S]\nk=new\nk=2\nbare\n[s]\nk=3\n"},
        {repeats, "S", "bare", "set", "[S]\nk=1\nk=2\nbare=set\n[s]\nk=3\n"},
        // A UTF-8 file stays UTF-8; an ANSI one gets the code page: ProfileFileSafety below.
        {"\xEF\xBB\xBF[Proxy]\nUsername=a\n", "Proxy", "Username", "用户", "\xEF\xBB\xBF[Proxy]\nUsername=用户\n"},
        // Text that would break the line structure is refused.
        {refused, "Proxy", "Server", "a\r\n[Evil]", refused, InvalidValue},
        {refused, "Proxy", "Type", std::string("1\0", 2), refused, InvalidValue},
        {refused, "Proxy", "a=b", "x", refused, InvalidName}, {refused, "Proxy", "  ", "x", refused, InvalidName},
        {refused, "Proxy", ";x", "x", refused, InvalidName}, {refused, "Pro]xy", "Type", "x", refused, InvalidName},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        auto doc = ProfileDocument::parse(c.file, 936);
        EXPECT_EQ(doc.setValue(c.section, c.key, c.value).error, c.error);
        EXPECT_EQ(doc.bytes(), c.after);
        if (c.error == None) {
            EXPECT_EQ(doc.find(c.section, c.key), c.value) << c.key;
        }
    }
}

struct stat statOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info;
}

void setModified(const std::string& path, const timespec& when) {
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The kept copy must go whenever the path names other bytes, even of the same size and time,
// or the code page changes; an own write refreshes it without reading the file again.
TEST(ProfileFileCache, SeesEveryChangeOfTheFile) {
    const LocaleGuard english("en_US.UTF-8");
    const TempDir dir;
    const std::string file = dir.write("update.ini", "[Ver]\nA=1\nB=\xD6\xD0\n");
    const std::uint64_t before = profileFileLoadCount();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(ReadIniValue("Ver", i % 2 == 0 ? "A" : "B", file), i % 2 == 0 ? "1" : "ÖÐ");
    }
    WriteIniValue("Ver", "A", "3", file);
    EXPECT_EQ(ReadIniValue("Ver", "A", file), "3");
    EXPECT_EQ(profileFileLoadCount() - before, 1u);
    {
        const LocaleGuard chinese("zh_CN.UTF-8");
        EXPECT_EQ(ReadIniValue("Ver", "B", file), "中");
    }

    // Changed in place, same size.
    const struct stat first = statOf(file);
    dir.write("update.ini", "[Ver]\nA=2\nB=\xD6\xD0\n");
    const timespec later{first.st_mtim.tv_sec + 1, first.st_mtim.tv_nsec};
    setModified(file, later);
    ASSERT_EQ(statOf(file).st_ino, first.st_ino);
    EXPECT_EQ(ReadIniValue("Ver", "A", file), "2");

    // Moved away, and another put in its place.
    ASSERT_EQ(std::rename(file.c_str(), dir.file("update.old").c_str()), 0);
    dir.write("update.ini", "[Ver]\nA=5\nB=\xD6\xD0\n");
    setModified(file, later);
    EXPECT_EQ(ReadIniValue("Ver", "A", file), "5");

    std::filesystem::remove(file);
    EXPECT_EQ(ReadIniValue("Ver", "A", file), "");
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// proxy.ini holds a password. Names and values go through the system code page.
TEST(ProfileFileSafety, NewFileIsReadableByItsOwnerOnly) {
    const LocaleGuard guard("zh_CN.UTF-8");
    const TempDir dir;
    const std::string file = dir.file("proxy.ini");
    const mode_t oldMask = ::umask(0);
    const IniWriteResult result = tryWriteIniValue("Proxy", "Username", "中文用户", file);
    ::umask(oldMask);
    ASSERT_TRUE(result) << result.message;
    EXPECT_EQ(statOf(file).st_mode & 07777, 0600u);
    EXPECT_EQ(readFile(file), "[Proxy]\r\nUsername=\xD6\xD0\xCE\xC4\xD3\xC3\xBB\xA7\r\n");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"proxy.ini"});
    ASSERT_TRUE(tryWriteIniValue("代理", "服务器", "服务器地址", file));
    EXPECT_EQ(ReadIniValue("Proxy", "Username", file), "中文用户");
    EXPECT_EQ(ReadIniValue("代理", "服务器", file), "服务器地址");
}

// A reader of the old file sees it whole; the new one takes its place with its mode. A
// symbolic link is followed.
TEST(ProfileFileSafety, ReplacesTheFileAtomicallyKeepingItsMode) {
    const TempDir dir;
    const std::string original = "[Proxy]\nType=0\nServer=old\n";
    const std::string file = dir.write("proxy.ini", original);
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    std::ifstream reader(file, std::ios::binary);
    const ino_t oldInode = statOf(file).st_ino;
    ASSERT_TRUE(tryWriteIniValue("Proxy", "Server", "new", file));
    EXPECT_NE(statOf(file).st_ino, oldInode);
    EXPECT_EQ(statOf(file).st_mode & 07777, 0644u);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), original);
    EXPECT_EQ(readFile(file), "[Proxy]\nType=0\nServer=new\n");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"proxy.ini"});

    const std::string link = dir.file("link.ini");
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    ASSERT_TRUE(tryWriteIniValue("Proxy", "Type", "2", link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(file), "[Proxy]\nType=2\nServer=new\n");
    EXPECT_EQ(ReadIniValue("Proxy", "Type", link), "2");
}

TEST(ProfileFileSafety, FailedWriteLeavesTheFileAsItWas) {
    const TempDir dir;
    const std::string original = "[Proxy]\r\nType=1\r\n";
    const std::string folder = dir.path() + "locked";
    const std::string file = dir.write("locked/proxy.ini", original);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    // The write runs in a child without write permission on the folder; as root it first
    // gives up root, which ignores permission bits.
    constexpr int kCannotDropRoot = 100;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(kCannotDropRoot);
        }
        ::_exit(static_cast<int>(tryWriteIniValue("Proxy", "Type", "3", file).error));
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), kCannotDropRoot) << "could not give up root to run the write";
    EXPECT_EQ(static_cast<IniWriteError>(WEXITSTATUS(status)), IniWriteError::WriteFailed);
    EXPECT_EQ(readFile(file), original);
    EXPECT_EQ(statOf(file).st_mode & 07777, 0644u);
    ::chmod(folder.c_str(), 0755);

    EXPECT_EQ(tryWriteIniValue("Proxy", "Type", "1", dir.path()).error, IniWriteError::ReadFailed);
    // A hostile update.ini must not take all memory: too large a file reads as empty.
    const std::string huge = dir.write("huge.ini", "[Proxy]\nType=1\n");
    ASSERT_EQ(::truncate(huge.c_str(), kMaxProfileFileBytes + 1), 0);  // sparse
    EXPECT_EQ(ReadIniValue("Proxy", "Type", huge), "");
    EXPECT_EQ(tryWriteIniValue("Proxy", "Type", "2", huge).error, IniWriteError::TooLarge);
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"huge.ini", "locked"}));
}

}  // namespace
}  // namespace upd::wizard
