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
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/locale_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::wizard {
namespace {

using test::LocaleGuard;
using test::readFile;
using test::TempDir;

ProfileDocument parse(std::string bytes, platform::CodePage cp = 1252) {
    return ProfileDocument::parse(std::move(bytes), cp);
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

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// ---- How names and values are read -------------------------------------------------------

TEST(ProfileSyntax, NamesMatchWithoutRegardToCaseAndBlanks) {
    const auto doc = parse("  [ Proxy ]  \r\n\tServer =  proxy.example  \r\nPORT=1080\r\n");
    EXPECT_EQ(doc.value("proxy", "server"), "proxy.example");
    EXPECT_EQ(doc.value("PROXY", "Port"), "1080");
    EXPECT_EQ(doc.value(" Proxy ", " port "), "1080");
}

TEST(ProfileSyntax, OnePairOfMatchingQuotesIsRemoved) {
    const auto doc = parse(
        "[S]\n"
        "double=\"two words\"\n"
        "single='x'\n"
        "inner=\" spaced \"\n"
        "nested=\"a\"b\"\n"
        "open=\"unbalanced\n"
        "mixed=\"mixed'\n"
        "lone=\"\n"
        "empty=\"\"\n");
    EXPECT_EQ(doc.value("S", "double"), "two words");
    EXPECT_EQ(doc.value("S", "single"), "x");
    EXPECT_EQ(doc.value("S", "inner"), " spaced ");
    EXPECT_EQ(doc.value("S", "nested"), "a\"b");
    EXPECT_EQ(doc.value("S", "open"), "\"unbalanced");
    EXPECT_EQ(doc.value("S", "mixed"), "\"mixed'");
    EXPECT_EQ(doc.value("S", "lone"), "\"");
    EXPECT_EQ(doc.value("S", "empty"), "");
}

TEST(ProfileSyntax, CommentLinesAreNeitherKeysNorSections) {
    const auto doc = parse(
        ";[Hidden]\n"
        "[S]\n"
        ";Server=commented\n"
        "   ; Port=1\n"
        "Note=a ; not a comment\n");
    EXPECT_EQ(doc.find("S", ";Server"), std::nullopt);
    EXPECT_EQ(doc.find("S", "Server"), std::nullopt);
    EXPECT_EQ(doc.find("S", "Port"), std::nullopt);
    EXPECT_EQ(doc.find("Hidden", "Server"), std::nullopt);
    EXPECT_EQ(doc.value("S", "Note"), "a ; not a comment");
}

TEST(ProfileSyntax, FirstMatchingSectionAndKeyWin) {
    const auto doc = parse("[Ver]\nk=1\nK=2\n[VER]\nk=3\nonlyLater=4\n");
    EXPECT_EQ(doc.value("ver", "k"), "1");
    EXPECT_EQ(doc.find("ver", "onlyLater"), std::nullopt);
}

TEST(ProfileSyntax, AbsentValuesReadAsEmpty) {
    const auto doc = parse("orphan=above every section\n[S]\nk=v\nbare\nbare=later\n");
    EXPECT_EQ(doc.find("S", "missing"), std::nullopt);
    EXPECT_EQ(doc.find("Missing", "k"), std::nullopt);
    EXPECT_EQ(doc.value("", "orphan"), "");
    // A key line without "=" is a key with no value, and it comes first.
    EXPECT_EQ(doc.find("S", "bare"), std::string());
    EXPECT_EQ(parse("").find("S", "k"), std::nullopt);
}

TEST(ProfileSyntax, CrLfAndLfLinesReadAlike) {
    const auto crlf = parse("[S]\r\na=1\r\nurl = http://h/x?a=b \r\n[T]\r\nb=2");
    const auto lf = parse("[S]\na=1\nurl = http://h/x?a=b \n[T]\nb=2");
    for (const auto* doc : {&crlf, &lf}) {
        EXPECT_EQ(doc->value("S", "a"), "1");
        EXPECT_EQ(doc->value("S", "url"), "http://h/x?a=b");
        EXPECT_EQ(doc->value("T", "b"), "2");
    }
}

TEST(ProfileSyntax, HeaderTextAfterTheBracketAndNulBytes) {
    const auto doc = parse(std::string("[Ver] old entries\nk=ab\0cd\n[Open\nx=1\n", 37));
    EXPECT_EQ(doc.value("Ver", "k"), "ab");
    // "[Open" has no closing bracket: it is no header, so x still belongs to Ver.
    EXPECT_EQ(doc.value("Ver", "x"), "1");
}

// ---- Code pages --------------------------------------------------------------------------

TEST(ProfileCodePage, ChineseValuesRoundTripThroughGbk) {
    LocaleGuard guard("zh_CN.UTF-8");
    TempDir dir;
    const std::string file = dir.file("proxy.ini");
    ASSERT_TRUE(tryWriteIniValue("Proxy", "Username", "中文用户", file));
    ASSERT_TRUE(tryWriteIniValue("代理", "服务器", "服务器地址", file));
    EXPECT_NE(readFile(file).find("Username=\xD6\xD0\xCE\xC4\xD3\xC3\xBB\xA7\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadIniValue("Proxy", "Username", file), "中文用户");
    EXPECT_EQ(ReadIniValue("代理", "服务器", file), "服务器地址");
}

TEST(ProfileCodePage, SecondBytesThatLookLikeAsciiAreNotFolded) {
    // "\x81\x41" and "\x81\x61" are two characters whose second bytes are 'A' and 'a'.
    const auto doc = parse("[S]\n\x81\x41=first\n\x81\x61=second\n", 936);
    EXPECT_EQ(doc.value("S", platform::fromAnsi("\x81\x61", 936)), "second");
    EXPECT_EQ(doc.value("S", platform::fromAnsi("\x81\x41", 936)), "first");
}

TEST(ProfileCodePage, BracketAsSecondByteDoesNotEndTheHeader) {
    // "\x81\x5D" is one character whose second byte is ']'.
    const auto doc = parse("[\x81\x5D]\nk=v\n", 936);
    EXPECT_EQ(doc.value(platform::fromAnsi("\x81\x5D", 936), "k"), "v");
    EXPECT_EQ(doc.find("\x81", "k"), std::nullopt);
}

TEST(ProfileCodePage, ByteOrderMarkMeansUtf8) {
    const auto doc = parse("\xEF\xBB\xBF[Proxy]\r\nServer=代理.example\r\n", 1252);
    EXPECT_EQ(doc.encoding(), ProfileEncoding::Utf8);
    EXPECT_EQ(doc.value("Proxy", "Server"), "代理.example");
}

// ---- The 254-byte limit ------------------------------------------------------------------

TEST(ProfileValueLimit, LongAsciiValueIsCutTo254Bytes) {
    LocaleGuard guard("zh_CN.UTF-8");
    TempDir dir;
    const std::string value(300, 'x');
    const std::string file = dir.write("update.ini", "[Ver]\r\nLong=" + value + "\r\n");
    EXPECT_EQ(ReadIniValue("Ver", "Long", file), value.substr(0, 254));
    EXPECT_EQ(parse("[S]\nq=\"" + value + "\"\n").value("S", "q"), value.substr(0, 254));
}

TEST(ProfileValueLimit, CutKeepsWholeTwoByteCharacters) {
    const std::string zhong = "\xD6\xD0";  // 中
    // Bytes 253 and 254 hold one character: it fits.
    EXPECT_EQ(parse("[S]\nk=" + std::string(252, 'a') + zhong + "zz\n", 936).value("S", "k"),
              std::string(252, 'a') + "中");
    // Bytes 254 and 255 would hold it: the value ends before it.
    EXPECT_EQ(parse("[S]\nk=" + std::string(253, 'a') + zhong + "\n", 936).value("S", "k"),
              std::string(253, 'a'));
    std::string chinese;
    std::string expected;
    for (int i = 0; i < 150; ++i) {
        chinese += zhong;
        expected += i < 127 ? "中" : "";
    }
    EXPECT_EQ(parse("[S]\nk=" + chinese + "\n", 936).value("S", "k"), expected);
}

TEST(ProfileValueLimit, Utf8FileIsMeasuredInAnsiBytes) {
    std::string utf8;
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        utf8 += "中";  // 3 bytes in UTF-8, 2 in code page 936
        expected += i < 127 ? "中" : "";
    }
    EXPECT_EQ(parse("\xEF\xBB\xBF[S]\nk=" + utf8 + "\n", 936).value("S", "k"), expected);
}

// ---- Writing -----------------------------------------------------------------------------

TEST(ProfileWriting, ChangesOneKeyInPlaceAndKeepsEveryOtherByte) {
    auto doc = parse(
        "; proxy settings\r\n"
        "[Proxy]\r\n"
        "Type = 3\r\n"
        "  server = \"old.example\"  \r\n"
        "\r\n"
        "Port=1080\r\n");
    ASSERT_TRUE(doc.setValue("PROXY", "Server", "new.example"));
    EXPECT_EQ(doc.bytes(),
              "; proxy settings\r\n"
              "[Proxy]\r\n"
              "Type = 3\r\n"
              "  server = new.example\r\n"
              "\r\n"
              "Port=1080\r\n");
    ASSERT_TRUE(doc.setValue("Proxy", "Port", ""));
    EXPECT_EQ(doc.value("Proxy", "Port"), "");
    EXPECT_TRUE(doc.bytes().ends_with("\r\nPort=\r\n"));
}

TEST(ProfileWriting, AddsAMissingKeyAfterTheLastKeyLineOfItsSection) {
    auto doc = parse("[Proxy]\nType=1\n; end of proxy\n\n[Other]\nx=1\n");
    ASSERT_TRUE(doc.setValue("proxy", "Password", "secret"));
    EXPECT_EQ(doc.bytes(), "[Proxy]\nType=1\nPassword=secret\n; end of proxy\n\n[Other]\nx=1\n");
    auto headerOnly = parse("[Proxy]\r\n[Other]\r\n");
    ASSERT_TRUE(headerOnly.setValue("Proxy", "Type", "0"));
    EXPECT_EQ(headerOnly.bytes(), "[Proxy]\r\nType=0\r\n[Other]\r\n");
}

TEST(ProfileWriting, AddsAMissingSectionAtTheEndInTheFileLineStyle) {
    auto lf = parse("[A]\na=1");
    ASSERT_TRUE(lf.setValue("Proxy", "Type", "2"));
    EXPECT_EQ(lf.bytes(), "[A]\na=1\n[Proxy]\nType=2\n");
    auto fresh = parse("");
    ASSERT_TRUE(fresh.setValue(" Proxy ", " Type ", "0"));
    EXPECT_EQ(fresh.bytes(), "[Proxy]\r\nType=0\r\n");
    auto lastLineUnended = parse("[Proxy]\r\nType=1");
    ASSERT_TRUE(lastLineUnended.setValue("Proxy", "Port", "8080"));
    EXPECT_EQ(lastLineUnended.bytes(), "[Proxy]\r\nType=1\r\nPort=8080");
}

TEST(ProfileWriting, WritesIntoTheSectionAndKeyThatReadsSee) {
    auto doc = parse("[S]\nk=1\nk=2\nbare\n[s]\nk=3\n");
    ASSERT_TRUE(doc.setValue("S", "k", "new"));
    ASSERT_TRUE(doc.setValue("S", "bare", "set"));
    EXPECT_EQ(doc.bytes(), "[S]\nk=new\nk=2\nbare=set\n[s]\nk=3\n");
}

TEST(ProfileWriting, KeepsTheFileEncoding) {
    auto utf8 = parse("\xEF\xBB\xBF[Proxy]\nUsername=a\n", 936);
    ASSERT_TRUE(utf8.setValue("Proxy", "Username", "用户"));
    EXPECT_EQ(utf8.bytes(), "\xEF\xBB\xBF[Proxy]\nUsername=用户\n");
    auto gbk = parse("[Proxy]\nUsername=a\n", 936);
    ASSERT_TRUE(gbk.setValue("Proxy", "Username", "用户"));
    EXPECT_EQ(gbk.bytes(), "[Proxy]\nUsername=\xD3\xC3\xBB\xA7\n");
}

TEST(ProfileWriting, RefusesTextThatWouldBreakTheLineStructure) {
    const std::string original = "[Proxy]\nType=1\n";
    auto doc = parse(original);
    EXPECT_EQ(doc.setValue("Proxy", "Server", "a\r\n[Evil]").error, IniWriteError::InvalidValue);
    EXPECT_EQ(doc.setValue("Proxy", "a=b", "x").error, IniWriteError::InvalidName);
    EXPECT_EQ(doc.setValue("Proxy", "  ", "x").error, IniWriteError::InvalidName);
    EXPECT_EQ(doc.setValue("Proxy", ";x", "x").error, IniWriteError::InvalidName);
    EXPECT_EQ(doc.setValue("Pro]xy", "Type", "x").error, IniWriteError::InvalidName);
    EXPECT_EQ(doc.bytes(), original);

    TempDir dir;
    const std::string file = dir.write("proxy.ini", original);
    const IniWriteResult result = tryWriteIniValue("Proxy", "Type", std::string("1\0", 2), file);
    EXPECT_FALSE(result);
    EXPECT_FALSE(result.message.empty());
    EXPECT_EQ(readFile(file), original);
}

// ---- The parsed-file cache ---------------------------------------------------------------

TEST(ProfileFileCache, ManyReadsLoadTheFileOnce) {
    TempDir dir;
    const std::string file = dir.write("update.ini", "[Ver]\nA=1\nB=2\n");
    const std::uint64_t before = profileFileLoadCount();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(ReadIniValue("Ver", i % 2 == 0 ? "A" : "B", file), i % 2 == 0 ? "1" : "2");
    }
    EXPECT_EQ(profileFileLoadCount() - before, 1u);
}

TEST(ProfileFileCache, SeesAnInPlaceChangeOfTheSameSize) {
    TempDir dir;
    const std::string file = dir.write("update.ini", "[Ver]\nA=1\n");
    ASSERT_EQ(ReadIniValue("Ver", "A", file), "1");
    const struct stat old = statOf(file);
    dir.write("update.ini", "[Ver]\nA=2\n");
    timespec later = old.st_mtim;
    later.tv_sec += 1;
    setModified(file, later);
    ASSERT_EQ(statOf(file).st_ino, old.st_ino);
    EXPECT_EQ(ReadIniValue("Ver", "A", file), "2");
}

TEST(ProfileFileCache, SeesAFileReplacedByAnotherWithTheSameSizeAndTime) {
    TempDir dir;
    const std::string file = dir.write("update.ini", "[Ver]\nA=1\n");
    ASSERT_EQ(ReadIniValue("Ver", "A", file), "1");
    const struct stat old = statOf(file);
    const std::string other = dir.write("other.ini", "[Ver]\nA=9\n");
    setModified(other, old.st_mtim);
    ASSERT_EQ(std::rename(other.c_str(), file.c_str()), 0);
    ASSERT_NE(statOf(file).st_ino, old.st_ino);
    EXPECT_EQ(ReadIniValue("Ver", "A", file), "9");
    std::filesystem::remove(file);
    EXPECT_EQ(ReadIniValue("Ver", "A", file), "");
}

TEST(ProfileFileCache, SeesAFileMovedAwayAndAnotherPutInItsPlace) {
    TempDir dir;
    const std::string file = dir.write("update.ini", "[Ver]\nA=1\n");
    ASSERT_EQ(ReadIniValue("Ver", "A", file), "1");
    const struct stat old = statOf(file);
    ASSERT_EQ(std::rename(file.c_str(), dir.file("update.old").c_str()), 0);
    dir.write("update.ini", "[Ver]\nA=5\n");
    setModified(file, old.st_mtim);
    EXPECT_EQ(ReadIniValue("Ver", "A", file), "5");
}

TEST(ProfileFileCache, OwnWriteRefreshesWithoutReloading) {
    TempDir dir;
    const std::string file = dir.write("proxy.ini", "[Proxy]\nType=0\n");
    ASSERT_EQ(ReadIniValue("Proxy", "Type", file), "0");
    const std::uint64_t before = profileFileLoadCount();
    WriteIniValue("Proxy", "Type", "3", file);
    EXPECT_EQ(ReadIniValue("Proxy", "Type", file), "3");
    EXPECT_EQ(profileFileLoadCount(), before);
}

TEST(ProfileFileCache, ChangeOfCodePageRereadsTheFile) {
    TempDir dir;
    const std::string file = dir.write("update.ini", "[S]\nk=\xD6\xD0\n");
    {
        LocaleGuard guard("en_US.UTF-8");
        EXPECT_EQ(ReadIniValue("S", "k", file), "\xC3\x96\xC3\x90");  // "ÖÐ" in 1252
    }
    LocaleGuard guard("zh_CN.UTF-8");
    EXPECT_EQ(ReadIniValue("S", "k", file), "中");
}

// ---- Safe writes -------------------------------------------------------------------------

TEST(ProfileFileSafety, NewFileIsReadableByItsOwnerOnly) {
    TempDir dir;
    const std::string file = dir.file("proxy.ini");
    const mode_t oldMask = ::umask(0);
    const IniWriteResult result = tryWriteIniValue("Proxy", "Password", "secret", file);
    ::umask(oldMask);
    ASSERT_TRUE(result) << result.message;
    EXPECT_EQ(statOf(file).st_mode & 07777, 0600u);
    EXPECT_EQ(readFile(file), "[Proxy]\r\nPassword=secret\r\n");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"proxy.ini"});
}

TEST(ProfileFileSafety, ExistingFileKeepsItsPermissionBits) {
    TempDir dir;
    const std::string file = dir.write("proxy.ini", "[Proxy]\nType=0\n");
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    ASSERT_TRUE(tryWriteIniValue("Proxy", "Type", "1", file));
    EXPECT_EQ(statOf(file).st_mode & 07777, 0644u);
}

TEST(ProfileFileSafety, ReplacesTheFileInsteadOfRewritingIt) {
    TempDir dir;
    const std::string original = "[Proxy]\nType=0\nServer=old\n";
    const std::string file = dir.write("proxy.ini", original);
    std::ifstream reader(file, std::ios::binary);  // holds the old file open
    const ino_t oldInode = statOf(file).st_ino;
    ASSERT_TRUE(tryWriteIniValue("Proxy", "Server", "new", file));
    EXPECT_NE(statOf(file).st_ino, oldInode);
    const std::string seen((std::istreambuf_iterator<char>(reader)),
                           std::istreambuf_iterator<char>());
    EXPECT_EQ(seen, original);
    EXPECT_EQ(readFile(file), "[Proxy]\nType=0\nServer=new\n");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"proxy.ini"});
}

TEST(ProfileFileSafety, FollowsASymbolicLink) {
    TempDir dir;
    const std::string real = dir.write("real.ini", "[Proxy]\nType=0\n");
    const std::string link = dir.file("proxy.ini");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(tryWriteIniValue("Proxy", "Type", "2", link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(real), "[Proxy]\nType=2\n");
    EXPECT_EQ(ReadIniValue("Proxy", "Type", link), "2");
}

// Runs the write as a user without write permission on the folder: root ignores permission
// bits, so as root the write runs in a child process that has given up root.
IniWriteError writeWithoutFolderPermission(const std::string& folder, const std::string& file) {
    if (::geteuid() != 0) {
        ::chmod(folder.c_str(), 0555);
        const IniWriteResult result = tryWriteIniValue("Proxy", "Type", "3", file);
        ::chmod(folder.c_str(), 0755);
        return result.error;
    }
    constexpr int kCannotDropRoot = 100;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(kCannotDropRoot);
        }
        ::_exit(static_cast<int>(tryWriteIniValue("Proxy", "Type", "3", file).error));
    }
    int status = 0;
    EXPECT_GT(child, 0);
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), kCannotDropRoot) << "could not give up root to run the write";
    return static_cast<IniWriteError>(WEXITSTATUS(status));
}

TEST(ProfileFileSafety, FailedWriteLeavesTheFileAsItWas) {
    TempDir dir;
    const std::string original = "[Proxy]\r\nType=1\r\n";
    const std::string folder = dir.path() + "locked";
    const std::string file = dir.write("locked/proxy.ini", original);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);

    EXPECT_EQ(writeWithoutFolderPermission(folder, file), IniWriteError::WriteFailed);
    EXPECT_EQ(readFile(file), original);
    EXPECT_EQ(statOf(file).st_mode & 07777, 0644u);
    EXPECT_EQ(folderEntries(folder), std::vector<std::string>{"proxy.ini"});
    ::chmod(folder.c_str(), 0755);
}

TEST(ProfileFileSafety, UnreadableOrUnreachableTargetsAreRefused) {
    TempDir dir;
    const IniWriteResult intoFolder = tryWriteIniValue("Proxy", "Type", "1", dir.path());
    EXPECT_EQ(intoFolder.error, IniWriteError::ReadFailed);
    const IniWriteResult noFolder =
        tryWriteIniValue("Proxy", "Type", "1", dir.file("missing/proxy.ini"));
    EXPECT_EQ(noFolder.error, IniWriteError::WriteFailed);
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

}  // namespace
}  // namespace upd::wizard
