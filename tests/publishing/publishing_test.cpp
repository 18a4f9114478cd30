// Signed update sets: digests and signatures against tampering, the key files, update.ini made
// from a release folder and read back by the wizard's reader, and lint's findings.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "publishing/file_digest.h"
#include "publishing/signed_info.h"
#include "publishing/update_ini_lint.h"
#include "publishing/update_ini_writer.h"
#include "tests/support/image_builder.h"
#include "tests/support/temp_dir.h"
#include "wizard/announced_date.h"
#include "wizard/profile_file.h"
#include "wizard/release_serial.h"

namespace upd::wizard {
namespace {

std::string repeat(std::string_view text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

TEST(FileDigest, KnownValuesAndWhatIsNoDigest) {
    const std::string good(64, 'a');
    // clang-format off
    const struct { std::string text; bool ok; } digests[] = {
        {good, true}, {"0123456789abcdef" + good.substr(16), true}, {good.substr(1), false},
        {good + "a", false}, {"A" + good.substr(1), false}, {"g" + good.substr(1), false},
        {" " + good.substr(1), false}, {"", false},
    };
    // clang-format on
    for (const auto& d : digests) {
        EXPECT_EQ(isSha256Hex(d.text), d.ok) << d.text;
    }
}

// The signature over update.ini: whatever is changed on the way, the check says so. (A changed
// file, another key and no signature: information_file_test and publishing_cli_test.sh.)
TEST(Tampering, TheSignatureHoldsOnlyForTheSignedBytesAndKey) {
    const auto vendor = generateKeyPair();
    ASSERT_TRUE(vendor);
    const std::string ini = "[Update]\r\nVer=2.1\r\n[Ver]\r\nNum=0\r\n[Time]\r\nNum=0\r\n";
    const std::string sig = signatureFileLine(ini, vendor->secretKey);
    using enum SignatureStatus;
    // clang-format off
    const struct { const char* name; std::string message; std::string sig;
                   SignatureStatus expected; } cases[] = {
        {"CR LF after the line", ini, sig.substr(0, 88) + "\r\n", Valid},
        {"signature changed", ini, std::string(sig).replace(10, 1, sig[10] == 'A' ? "B" : "A"),
         Invalid},
        {"63 bytes", ini, keyFileLine(test::Bytes(63, 'x')), Malformed},
        {"a second line", ini, sig + "\n", Malformed},
        {"no padding", ini, sig.substr(0, 86) + "\n", Malformed},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(checkSignature(c.message, c.sig, vendor->publicKey), c.expected) << c.name;
    }
}

// An update.pub that is there but unusable is an error, never "no key".
TEST(Tampering, AnUnusablePublicKeyIsAnErrorNotNoKey) {
    const auto pair = generateKeyPair();
    ASSERT_TRUE(pair);
    const std::string line = keyFileLine(pair->publicKey);
    const std::string body = line.substr(0, line.size() - 1);
    // clang-format off
    const struct { const char* name; std::optional<std::string> content; bool present; bool valid;
                   const char* error; } cases[] = {
        {"CR LF", body + "\r\n", true, true, ""}, {"no line end", body, true, true, ""},
        {"empty", "", true, false, "the file is empty"},
        {"31 bytes", keyFileLine(test::Bytes(31, 'k')), true, false, "holds 31 bytes, not 32"},
        {"a secret key", keyFileLine(test::Bytes(64, 'k')), true, false, "holds 64 bytes, not 32"},
        {"a byte-order mark", "\xEF\xBB\xBF" + line, true, false, "not Base64"},
        {"blanks around", " " + body + " \n", true, false, "not Base64"},
        {"a folder", std::nullopt, true, false, ""},  // no content, yet something is there
        {"two keys", keyFileLine(test::Bytes(32, 'o')) + line, true, true, ""},
        {"comments and blank lines",
         "# old key\r\n\r\n" + keyFileLine(test::Bytes(32, 'o')) + "#\n" + line, true, true, ""},
        {"a bad second line", line + "not a key\n", true, false, "line 2: the line is not Base64"},
        {"comments only", "# no key yet\n\n", true, false, "holds no key"},
    };
    // clang-format on
    for (const auto& c : cases) {
        const test::TempDir dir;
        if (c.content) {
            dir.write("update.pub", *c.content);
        } else if (c.present) {
            ASSERT_EQ(mkdir(dir.file("update.pub").c_str(), 0755), 0);
        }
        const PublicKeyFile key = readPublicKeyFile(dir.file("update.pub"));
        EXPECT_EQ(key.present, c.present) << c.name;
        EXPECT_EQ(!key.keys.empty() && key.keys.back() == pair->publicKey, c.valid) << c.name;
        EXPECT_NE(key.error.find(c.error), std::string::npos) << c.name << ": " << key.error;
        EXPECT_EQ(key.error.empty(), !c.present || c.valid) << c.name;
    }
}

TEST(UpdateIniWriter, DatesReadBackToTheSameSecond) {
    for (const std::int64_t seconds : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{951782400},
                                       std::int64_t{1117668600}, std::int64_t{253402300799}}) {
        EXPECT_EQ(parseAnnouncedDate(announcedDateText(seconds)), seconds) << seconds;
    }
    EXPECT_EQ(announcedDateText(951868799), "2000-02-29 23:59:59");
}

// A release folder of real version images and files; update.ini made from it reads back through
// the wizard's reader in either code page as given (dates, ContentsCHS: publishing_cli_test.sh).
TEST(UpdateIniWriter, WritesWhatTheWizardReadsBack) {
    const test::TempDir dir;
    const std::string release = dir.file("release/");
    const std::string updater = test::text(test::peWith(test::versionBlock("1.0.0.2")));
    // clang-format off
    const std::pair<const char*, std::string> files[] = {
        {"Main.exe", test::text(test::peWith(test::versionBlock("2.1.0.4")))},
        {"plugins/r.so", test::text(test::elfWith(test::versionBlock("2.1.0.10")))},
        {"README", "text"}, {".git/config", "x"}, {"update.exe", updater},
        {"update.ini", "old"}, {"update.ini.sig", "old"},
    };
    // clang-format on
    for (const auto& [name, bytes] : files) {
        dir.write(std::string("release/") + name, bytes);
    }
    dir.write("release/data/t.dat", "data");
    const ReleaseScan scan = scanReleaseFolder(release);
    ASSERT_TRUE(scan) << *scan.failure;
    EXPECT_EQ(scan.folder.leftOut, std::vector<std::string>{".git: hidden"});

    UpdateIniOptions options;
    options.releaseTime = "2005-06-01";
    options.contentsEn = " Faster start,Fixed printing";
    options.updateVer = "1.0.0.2";
    options.serial = 202607011230;
    options.expires = std::time(nullptr) + 30 * 86400;
    const UpdateIniText made = makeUpdateIni(scan.folder, options);
    ASSERT_TRUE(made) << *made.failure;
    const auto en = ProfileDocument::parse(made.bytes, 1252);
    const auto chs = ProfileDocument::parse(made.bytes, 936);
    // clang-format off
    const struct { const ProfileDocument& doc; const char* section; const char* key;
                   std::string expected; } reads[] = {
        {en, "Update", "Ver", "2.1.0.10"}, {en, "Update", "ContentsEN", options.contentsEn},
        {en, "Update", "ForceUp", "0"}, {en, "Update", "Update", "1"},
        {en, "Update", "UpdateVer", "1.0.0.2"}, {en, "Update", "UpdateSha256", sha256Hex(updater)},
        {en, "Ver", "Num", "2"}, {en, "Ver", "File1", "Main.exe"},
        {en, "Ver", "File2", "plugins\\r.so"}, {en, "Ver", "Ver2", "2.1.0.10"},
        {en, "Time", "Num", "2"}, {en, "Time", "File1", "README"},
        {en, "Time", "File2", "data\\t.dat"}, {en, "Time", "Sha2562", sha256Hex("data")},
        {en, "Descript", "SO", "Library"}, {chs, "Descript", "SOCHS", "程序库"},
        {en, "Descript", "README", "File"}, {chs, "Descript", "EXECHS", "程序"},
        {en, "Update", "Serial", "202607011230"},
        {en, "Update", "Expires", expiresText(*options.expires)},
    };
    // clang-format on
    for (const auto& r : reads) {
        EXPECT_EQ(r.doc.value(r.section, r.key), r.expected) << r.section << " " << r.key;
    }
    EXPECT_EQ(made.bytes.find('\n'), made.bytes.find("\r\n") + 1);  // CR LF lines
    EXPECT_EQ(parseExpires(en.value("Update", "Expires")), options.expires);
    // Its own lint finds only the versions whose parts differ in width.
    const auto findings = lintUpdateIni(made.bytes, {release, std::nullopt});
    ASSERT_EQ(findings.size(), 1u) << formatFinding(findings[0]);
    EXPECT_NE(findings[0].problem.find("parts of different widths"), std::string::npos);
}

TEST(UpdateIniWriter, RefusesWhatTheWizardCouldNotRead) {
    // clang-format off
    const struct { const char* name; std::function<void(UpdateIniOptions&)> change;
                   const char* failure; const char* file = "a.dat"; } cases[] = {
        {"Chinese in the English text", [](auto& o) { o.contentsEn = "更快"; },
         "--contents-en holds characters that code page 1252 cannot hold"},
        {"a text the reader cuts",
         [](auto& o) { o.contentsChs = std::string(128, 'x') + repeat("更快", 64); },
         "--contents-chs is 384 bytes in code page 936"},
        {"a line break", [](auto& o) { o.contentsEn = "a\nb"; }, "--contents-en holds a line break"},
        {"ftp", [](auto& o) { o.forceUpUrl = "ftp://x/Setup.zip"; }, "http:// and https:// only"},
        {"no version at all", [](auto& o) { o.version.reset(); }, "give the release's version"},
        {"a name that reads as a number", [](auto& o) { o.version = "1"; }, "", "12"},
    };
    // clang-format on
    for (const auto& c : cases) {
        ReleaseFolder folder;
        folder.byDate.push_back({c.file, "", 0, sha256Hex("")});
        UpdateIniOptions options;
        options.version = "1.0";
        c.change(options);
        const UpdateIniText made = makeUpdateIni(folder, options);
        ASSERT_FALSE(made) << c.name;
        EXPECT_TRUE(made.bytes.empty()) << c.name;
        EXPECT_NE(made.failure->find(c.failure), std::string::npos) << *made.failure;
    }
    const test::TempDir dir;
    dir.write("rel/数据.dat", "x");
    const ReleaseScan scan = scanReleaseFolder(dir.file("rel"));
    ASSERT_FALSE(scan);
    EXPECT_NE(scan.failure->find("not ASCII"), std::string::npos) << *scan.failure;
}

// Each case: update.ini, then the findings, each "LINE E|W problem" starting with the expected
// text, one for one. The release folder holds a.exe 1.0.0.3, b.dat and extra.txt.
TEST(UpdateIniLint, FindsWhatTheWizardTripsOn) {
    const test::TempDir dir;
    const std::string exe = test::text(test::peWith(test::versionBlock("1.0.0.3")));
    dir.write("rel/a.exe", exe);
    dir.write("rel/b.dat", "b");
    dir.write("rel/extra.txt", "x");
    const std::string digest(64, 'a');
    const std::string update = "[Update]\nForceUp=0\nUpdate=0\n";  // lines 1-3
    const std::string ver = "[Ver]\nNum=0\n";
    const std::string time = "[Time]\nNum=0\n";
    const std::string one = "[Ver]\nNum=1\nFile1=a.exe\nVer1=1.0\nSha2561=" + digest + "\n";
    const std::string undigested =  // each kind of download, b.exe and the [Update] ones bare
        "[Update]\nForceUp=1\nUpURL=https://x/s.zip\nUpdate=1\nUpdateVer=1.0\nMoveVer=1.0\n[Ver]\n"
        "Num=2\nFile1=a.exe\nVer1=1.0\nSha2561=" +
        digest + "\nFile2=b.exe\nVer2=1.0\n" + time;
    // clang-format off
    const struct { const char* name; std::string ini; std::vector<std::string> found;
                   bool release = false; } cases[] = {
        {"clean", update + one + time, {}}, {"no [Time]", update + one, {"0 E [Time] is missing"}},
        {"no [Update]", one + time, {"0 E [Update] ForceUp=\"\" is not a number",
                                     "0 E [Update] Update=\"\" is not a number"}},
        {"Num short of the entries", update + one + "File2=b.exe\n" + time,
         {"9 E File2 is beyond [Ver] Num=1"}},
        {"Num past the entries", update + "[Ver]\nNum=4\nFile1=a.exe\nVer1=1\nSha2561=" + digest +
         "\n" + time, {"5 E File2 to File4 are missing"}},
        {"a leading zero", update + ver + "File01=a.exe\n" + time, {"6 W File01 is never read"}},
        {"names", update + "[Ver]\nNum=3\nFile1=12\nFile2=..\\x.exe\nFile3=C:\\x.exe\n" + time,
         {"6 E File1=12 reads as a number", "7 E File2=..\\x.exe: the name leads out",
          "8 E File3=C:\\x.exe: the name starts with a drive letter"}},
        {"a repeated name", update + "[Time]\nNum=2\nFile1=a\nDate1=2005-06-01\nFile2=a\n" + ver,
         {"0 W no file has a Sha256", "8 E File2=a repeats the name of line 6"}},
        {"a cut name", update + "[Ver]\nNum=1\nFile1=" + std::string(300, 'n') + "\nVer1=1\n" + time,
         {"0 W no file has a Sha256", "6 E File1 is 300 bytes long"}},
        {"a cut text", "[Update]\nContentsEN=" + std::string(255, 'c') + "\nForceUp=0\nUpdate=0\n" +
         ver + time, {"2 W ContentsEN is 255 bytes long"}},
        {"a long Chinese text in UTF-8", "\xEF\xBB\xBF" + update + "ContentsCHS=" +
         repeat("更", 128) + "\n" + ver + time, {"4 W ContentsCHS is 256 bytes long"}},
        {"dates", update + "[Time]\nNum=3\nFile1=a\nDate1=2005-02-30\nSha2561=" + digest +
         "\nFile2=b\nSha2562=" + digest + "\nFile3=c\nDate3=2099-01-01\nSha2563=" + digest + "\n" + ver,
         {"7 E Date1=\"2005-02-30\" is no date", "9 E Date2 is missing",
          "12 W Date3=2099-01-01 is later than now"}},
        {"flags", "[Update]\nForceUp=1\nUpdate=40000\n" + ver + time,
         {"2 E ForceUp=1 without UpURL", "2 W ForceUp=1 without UpSha256",
          "3 E [Update] Update=40000 is out of range"}},
        {"an ftp package", "[Update]\nForceUp=1\nUpURL=ftp://x/s.zip\nUpSha256=" + digest +
         "\nUpdate=0\n" + ver + time, {"3 E UpURL=ftp://x/s.zip is not an http:// or https://"}},
        {"downloads without digests", undigested, {"2 W ForceUp=1 without UpSha256",
         "4 W Update=1 without UpdateSha256", "6 W Update=1 and MoveVer without MoveSha256",
         "12 W b.exe has no Sha256"}},
        {"an ESC in a name", update + "[Ver]\nNum=1\nFile1=a\x1b[2J.exe\nSha2561=" + digest + "\n" +
         time, {"6 E File1=a\\x1b[2J.exe: the name holds a character"}},
        {"an updater without its version", "[Update]\nForceUp=0\nUpdate=1\nUpdateSha256=" +
         digest + "\n" + ver + time, {"3 E Update=1 with an empty UpdateVer"}},
        {"digests", "[Update]\nForceUp=0\nUpdate=0\nMoveSha256=" + digest.substr(1) + "\n" +
         "[Ver]\nNum=1\nFile1=a.exe\nVer1=1\nSha2561=" + std::string(64, 'A') + "\n" + time,
         {"4 E MoveSha256 is not 64 lower-case hex", "9 E Sha2561 of a.exe is not 64"}},
        {"version widths", "[Update]\nForceUp=0\nUpdate=1\nUpdateVer=1.10\nUpdateSha256=" + digest +
         "\n[Ver]\nNum=2\nFile1=a.exe\nVer1=1.0\nSha2561=" + digest + "\nFile2=b.exe\nVer2=1, 0\n"
         "Sha2562=" + digest + "\n" + time,
         {"4 W UpdateVer=1.10 and Ver1=1.0 (line 9) have parts of different widths",
          "12 W Ver2=1, 0 is not digits between dots"}},
        {"an empty version", update + "[Ver]\nNum=1\nFile1=a.exe\nSha2561=" + digest + "\n" + time,
         {"6 E Ver1 of a.exe is empty"}},
        {"a repeated section and key", update + one + "Num=7\n" + time + "[ver]\nFile2=b\n",
         {"9 W Num is repeated", "12 E [ver] repeats the section of line 4"}},
        {"a line above the sections", "junk\n" + update + ver + time,
         {"1 W this line is above the first section"}},
        // The files that are served must be the ones announced.
        {"against the release folder", update + "[Ver]\nNum=2\nFile1=a.exe\nVer1=1.0.0.4\n"
         "Sha2561=" + sha256Hex(exe) + "\nFile2=gone.exe\nVer2=1\n[Time]\nNum=1\nFile1=b.dat\n"
         "Date1=2005-06-01\nSha2561=" + sha256Hex("B") + "\n",
         {"0 W extra.txt is in the release folder but not in update.ini",
          "7 E Ver1=1.0.0.4 is newer than the release's a.exe (version key 1003)",
          "9 E gone.exe is not in the release folder", "9 W gone.exe has no Sha256",
          "10 W Ver2=1 and Ver1=1.0.0.4 (line 7) have parts of different widths",
          "15 E Sha2561 does not match the release's b.dat (" + sha256Hex("b")}, true},
        {"sizes", "[Update]\nForceUp=0\nUpdate=0\nUpSize=1e3\n" + one + "Size1=12k\n" + time,
         {"4 E UpSize is not a size in bytes", "10 E Size1 of a.exe is not a size in bytes"}},
        {"a size against the release folder", update + ver + "[Time]\nNum=1\nFile1=b.dat\n"
         "Date1=2005-06-01\nSha2561=" + sha256Hex("b") + "\nSize1=2\n",
         {"0 W a.exe is in the release folder", "0 W extra.txt is in the release folder",
          "11 E Size1=2 is not the size of the release's b.dat (1 bytes)"}, true},
        {"an expiry within a week", update + "Expires=2030-01-04 00:00:00\n" + ver + time,
         {"4 W Expires=2030-01-04 00:00:00 is less than 7 days ahead"}},
        {"an expiry past", update + "Expires=2029-12-31 00:00:00\n" + ver + time,
         {"4 E Expires=2029-12-31 00:00:00 has passed"}},
        {"a serial that is no number", update + "Serial=0\n" + ver + time, {"4 E Serial=\"0\" is not"}},
        {"an expiry that is no time", update + "Expires=2030-02-01\n" + ver + time,
         {"4 E Expires=\"2030-02-01\" is not a UTC time"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = c.release ? std::optional(dir.file("rel")) : std::nullopt;
        const auto findings = lintUpdateIni(c.ini, {folder, calendarSeconds(2030, 1, 1)});
        std::vector<std::string> found;
        for (const auto& f : findings) {
            found.push_back(std::to_string(f.line) +
                            (f.severity == LintSeverity::Error ? " E " : " W ") + f.problem);
        }
        ASSERT_EQ(found.size(), c.found.size()) << ::testing::PrintToString(found);
        bool errors = false;
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_TRUE(found[i].starts_with(c.found[i])) << found[i];
            errors = errors || c.found[i].find(" E ") != std::string::npos;
        }
        EXPECT_EQ(hasErrors(findings), errors);
    }
    EXPECT_EQ(formatFinding({3, LintSeverity::Warning, "p", "f"}), "3: warning: p. fix: f");
}

}  // namespace
}  // namespace upd::wizard
