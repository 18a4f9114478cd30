// The analysis of update.ini and the download plan, over generated update.ini files and
// application folders: PE files with version resources, files with chosen modification
// times, and a time zone with daylight saving in summer.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/string_table.h"
#include "tests/support/env_guard.h"
#include "tests/support/image_builder.h"
#include "tests/support/temp_dir.h"
#include "wizard/announced_date.h"
#include "wizard/download_plan.h"
#include "wizard/file_version.h"
#include "wizard/update_info.h"

namespace upd::wizard {
namespace {

constexpr platform::LangId kEn = platform::kLangEnglishUS;
constexpr platform::LangId kChs = platform::kLangChineseSimplified;

std::string bytesOf(const test::Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

// "name|sub1|sub2" per row.
std::vector<std::string> rowsOf(const controls::ListModel& list) {
    std::vector<std::string> rows;
    for (int r = 1; r <= list.rowCount(); ++r) {
        rows.push_back(list.row(r).text + "|" + list.subItem(r, 1) + "|" + list.subItem(r, 2));
    }
    return rows;
}

TEST(AnnouncedDate, ReadsTheFormsReleaseEngineersWrite) {
    const auto at = [](int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
        return calendarSeconds(y, mo, d, h, mi, s);
    };
    const struct {
        const char* text;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {"2005-06-01 18:30:00", at(2005, 6, 1, 18, 30, 0)},
        {"2005/06/01", at(2005, 6, 1)},
        {"2005.06.01 18:30", at(2005, 6, 1, 18, 30)},
        {" 2005-6-1  7:05:09 ", at(2005, 6, 1, 7, 5, 9)},
        {"2004-02-29", at(2004, 2, 29)},
        {"2005-02-29", std::nullopt},  // not a leap year
        {"2005-02-30", std::nullopt},
        {"2005-13-01", std::nullopt},
        {"2005-06-01 24:00", std::nullopt},
        {"2005-06-01 18:60", std::nullopt},
        {"2005-06/01", std::nullopt},  // mixed separators
        {"2005-06-01 18", std::nullopt},
        {"2005-06-01x", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseAnnouncedDate(c.text), c.expected) << c.text;
    }
    EXPECT_EQ(*at(1970, 1, 2, 0, 0, 1), 86401);
}

TEST(WhatsNew, CountsItemsUpToTheFirstEmptyOne) {
    const struct {
        const char* contents;
        const char* expected;
    } cases[] = {
        {"", "V 2.1 (2005.06.01)\r\n"},
        {"a", "V 2.1 (2005.06.01)\r\n\r\na"},
        {"a,b", "V 2.1 (2005.06.01)\r\n\r\na\r\nb"},
        {"a,,b", "V 2.1 (2005.06.01)\r\n\r\na\r\n"},
        {",a", "V 2.1 (2005.06.01)\r\n\r\n"},
        {"a,", "V 2.1 (2005.06.01)\r\n\r\na\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(whatsNewText("2.1", "2005.06.01", c.contents), c.expected) << c.contents;
    }
}

TEST(UpdateInformation, AnalysesTheFileOrRefusesIt) {
    // With a byte-order mark: UTF-8 whatever the system code page.
    const std::string header =
        "\xEF\xBB\xBF[Update]\r\nVer=2.1\r\nTime=2005.06.01\r\n"
        "ContentsEN=Faster,Smaller\r\nContentsCHS=更快\r\n";
    const struct {
        const char* name;
        std::string ini;  // empty: no file at all
        platform::LangId lang;
        bool ok;
        std::vector<std::string> versionRows;
        std::vector<std::string> dateRows;
        std::string text;  // checked when not empty
    } cases[] = {
        {"empty sections",
         header + "[Ver]\r\nNum=0\r\n[Time]\r\nNum=-3\r\n",
         kEn,
         true,
         {},
         {},
         "V 2.1 (2005.06.01)\r\n\r\nFaster\r\nSmaller"},
        {"descriptions: tagged first, then plain, shown as read, else 127",
         header + "[Ver]\r\nNum=3\r\nFile1=Main.exe\r\nVer1=2.1.0.0\r\nFile2=sub\\r.dll\r\n"
                  "Ver2=1.0\r\nFile3=readme\r\n[Time]\r\nNum=1\r\nFile1=a.dat\r\n"
                  "Date1=2005-06-01\r\n[Descript]\r\nEXE=Program\r\nEXECHS=程序\r\n"
                  "DLL=Library\r\nREADME=Text\r\n",
         kChs,
         true,
         {"Main.exe|2.1.0.0|程序", "sub\\r.dll|1.0|Library", "readme||Text"},
         {"a.dat|2005-06-01|未知类型"},
         "V 2.1 (2005.06.01)\r\n\r\n更快"},
        {"Num rounds a fraction",
         header + "[Ver]\r\nNum=1.4\r\nFile1=a.exe\r\n[Time]\r\nNum=0\r\n",
         kEn,
         true,
         {"a.exe||Unknown type"},
         {},
         ""},
        {"no file",
         "",
         kEn,
         false,
         {},
         {},
         "Can't analyze the on-line upgrade document, please "
         "return to re-choose the server."},
        {"Num missing",
         header + "[Ver]\r\nNum=1\r\nFile1=a.exe\r\n",
         kEn,
         false,
         {"a.exe||Unknown type"},
         {},
         ""},
        {"Num not a number",
         header + "[Ver]\r\nNum=two\r\n[Time]\r\nNum=0\r\n",
         kEn,
         false,
         {},
         {},
         ""},
        {"Num above 32767",
         header + "[Ver]\r\nNum=32768\r\n[Time]\r\nNum=0\r\n",
         kEn,
         false,
         {},
         {},
         ""},
        {"a name twice in one section",
         header + "[Ver]\r\nNum=2\r\nFile1=a.exe\r\nFile2=a.exe\r\n[Time]\r\nNum=0\r\n",
         kEn,
         false,
         {"a.exe||Unknown type"},
         {},
         ""},
        {"the same name in both sections is allowed",
         header + "[Ver]\r\nNum=1\r\nFile1=a.exe\r\n[Time]\r\nNum=1\r\nFile1=a.exe\r\n",
         kEn,
         true,
         {"a.exe||Unknown type"},
         {"a.exe||Unknown type"},
         ""},
        {"a numeric name",
         header + "[Ver]\r\nNum=1\r\nFile1=12\r\n[Time]\r\nNum=0\r\n",
         kEn,
         false,
         {},
         {},
         ""},
        {"an empty name", header + "[Ver]\r\nNum=1\r\n[Time]\r\nNum=0\r\n", kEn, false, {}, {}, ""},
        {"a name leaving the folder",
         header + "[Ver]\r\nNum=0\r\n[Time]\r\nNum=1\r\nFile1=..\\..\\etc\\passwd\r\n",
         kEn,
         false,
         {},
         {},
         ""},
        {"an absolute name",
         header + "[Ver]\r\nNum=1\r\nFile1=/etc/passwd\r\n",
         kEn,
         false,
         {},
         {},
         ""},
        {"a drive letter",
         header + "[Ver]\r\nNum=1\r\nFile1=C:\\x.exe\r\n",
         kEn,
         false,
         {},
         {},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        if (!c.ini.empty()) {
            dir.write("update.ini", c.ini);
        }
        const UpdateInformation info =
            analyseUpdateInformation(dir.file("update.ini"), dir.path(), c.lang, c.lang);
        EXPECT_EQ(static_cast<bool>(info), c.ok);
        EXPECT_EQ(rowsOf(info.VersionList), c.versionRows);
        EXPECT_EQ(rowsOf(info.DateList), c.dateRows);
        if (!c.text.empty()) {
            EXPECT_EQ(info.text, c.text);
        }
        if (!c.ok) {
            EXPECT_EQ(info.text, app::LoadResString(119, c.lang));
        }
    }
}

// A local file of the application folder.
struct LocalFile {
    std::string name;
    std::string version;     // a PE file with this ProductVersion; empty: plain bytes
    std::int64_t mtime = 0;  // UTC seconds; 0 leaves the time of writing
};

// 2005-06-01 23:30:00 UTC: 18:30:00 in New York's standard time (EST, UTC-5), while the
// clock on the wall there shows 19:30 (daylight saving).
constexpr std::int64_t kJune1 = 1117668600;

TEST(DownloadPlan, FollowsThePrecedenceAndTheRules) {
    test::EnvGuard zone;
    zone.set("TZ", "EST5EDT,M3.2.0,M11.1.0");
    const std::string files =
        "[Ver]\r\nNum=2\r\nFile1=Main.exe\r\nVer1=2.1.0.0\r\nFile2=sub\\Report.dll\r\n"
        "Ver2=2.1.0.4\r\n[Time]\r\nNum=1\r\nFile1=data\\t.dat\r\nDate1=2005-06-01 18:30:00\r\n"
        "[Descript]\r\nEXE=Program\r\nDLL=Library\r\nDAT=Data\r\n";
    const auto update = [&](std::string flags) { return "[Update]\r\n" + flags + files; };
    const std::vector<LocalFile> allCurrent = {
        {"Main.exe", "2.1.0.0"}, {"sub/Report.dll", "2.1.0.4"}, {"data/t.dat", "", kJune1}};

    const struct {
        const char* name;
        std::string ini;
        std::vector<LocalFile> local;
        std::string self = "1.0.0.3";
        std::string server = "http://srv.example/updates/app/";
        bool answer = true;
        std::vector<std::string> rows;  // source|target|description|image
        PlanNext next = PlanNext::Download;
        bool fails = false;
    } cases[] = {
        {"all current",
         update("ForceUp=0\r\nUpdate=0\r\n"),
         allCurrent,
         "1.0.0.3",
         "",
         true,
         {},
         PlanNext::Finish},
        {"all missing",
         update("ForceUp=0\r\nUpdate=0\r\n"),
         {},
         "1.0.0.3",
         "",
         true,
         {"Main.exe|Main.exe|Program|0", "sub\\Report.dll|sub\\Report.dll|Library|0",
          "data\\t.dat|data\\t.dat|Data|0"}},
        {"older versions compare as text",
         update("ForceUp=0\r\nUpdate=0\r\n"),
         {{"Main.exe", "2.1.0.00"}, {"sub/Report.dll", "2.1.0.3"}, {"data/t.dat", "", kJune1}},
         "1.0.0.3",
         "",
         true,
         {"sub\\Report.dll|sub\\Report.dll|Library|0"}},
        {"a date one second later is planned",
         update("ForceUp=0\r\nUpdate=0\r\n"),
         {{"Main.exe", "2.1.0.0"}, {"sub/Report.dll", "2.1.0.4"}, {"data/t.dat", "", kJune1 - 1}},
         "1.0.0.3",
         "",
         true,
         {"data\\t.dat|data\\t.dat|Data|0"}},
        {"full package, agreed",
         update("ForceUp=1\r\nUpURL=http://x/full.zip\r\nUpdate=1\r\n"),
         {},
         "1.0.0.0",
         "",
         true,
         {"http://x/full.zip|Setup.zip|FullPack|1"}},
        {"full package, declined",
         update("ForceUp=1\r\nUpURL=http://x/full.zip\r\nUpdate=0\r\n"),
         {},
         "1.0.0.3",
         "",
         false,
         {},
         PlanNext::Stay},
        {"updater older, FileMove current",
         update("ForceUp=0\r\nUpdate=1\r\nUpdateVer=1.0.0.4\r\nMoveVer=1.0.0.1\r\n"),
         {{"FileMove.exe", "1.0.0.1"}},
         "1.0.0.3",
         "http://srv.example/updates/app/",
         true,
         {"http://srv.example/updates/update.exe|update.exe|Update|0"}},
        {"updater and FileMove older",
         update("ForceUp=0\r\nUpdate=1\r\nUpdateVer=1.0.0.4\r\nMoveVer=1.0.0.1\r\n"),
         {},
         "1.0.0.3",
         "http://srv.example/app",
         true,
         {"http://srv.example/update.exe|update.exe|Update|0",
          "http://srv.example/FileMove.exe|FileMove.exe|Update Assistant|0"}},
        {"a server of scheme and host only keeps full URLs",
         update("ForceUp=0\r\nUpdate=1\r\nUpdateVer=1.0.0.4\r\n"),
         {{"FileMove.exe", "1"}},
         "1.0.0.3",
         "http://host:8080/",
         true,
         {"http://host:8080/update.exe|update.exe|Update|0"}},
        {"updater current: the files are examined",
         update("ForceUp=0\r\nUpdate=1\r\nUpdateVer=1.0.0.3\r\nMoveVer=9\r\n"),
         allCurrent,
         "1.0.0.3",
         "",
         true,
         {},
         PlanNext::Finish},
        {"UpdateVer empty: never older",
         update("ForceUp=0\r\nUpdate=1\r\n"),
         allCurrent,
         "1.0.0.3",
         "",
         true,
         {},
         PlanNext::Finish},
        {"out of date by version and by date: planned once",
         "[Update]\r\nForceUp=0\r\nUpdate=0\r\n[Ver]\r\nNum=1\r\nFile1=a.exe\r\nVer1=2\r\n"
         "[Time]\r\nNum=1\r\nFile1=a.exe\r\nDate1=2030-01-01\r\n",
         {{"a.exe", "1", kJune1}},
         "1.0.0.3",
         "",
         true,
         {"a.exe|a.exe|Unknown type|0"}},
        {"an empty announced version is never planned",
         "[Update]\r\nForceUp=0\r\nUpdate=0\r\n[Ver]\r\nNum=1\r\nFile1=a.exe\r\n"
         "[Time]\r\nNum=0\r\n",
         {},
         "1.0.0.3",
         "",
         true,
         {},
         PlanNext::Finish},
        {"ForceUp not a number",
         update("ForceUp=\r\nUpdate=0\r\n"),
         {},
         "1",
         "",
         true,
         {},
         PlanNext::Finish,
         true},
        {"Update out of range",
         update("ForceUp=0\r\nUpdate=40000\r\n"),
         {},
         "1",
         "",
         true,
         {},
         PlanNext::Finish,
         true},
        {"an unreadable date of an existing file",
         "[Update]\r\nForceUp=0\r\nUpdate=0\r\n[Ver]\r\nNum=0\r\n[Time]\r\nNum=1\r\n"
         "File1=a.dat\r\nDate1=2005-02-30\r\n",
         {{"a.dat", "", kJune1}},
         "1",
         "",
         true,
         {},
         PlanNext::Finish,
         true},
        {"an unreadable date of a missing file is planned",
         "[Update]\r\nForceUp=0\r\nUpdate=0\r\n[Ver]\r\nNum=0\r\n[Time]\r\nNum=1\r\n"
         "File1=a.dat\r\nDate1=soon\r\n",
         {},
         "1",
         "",
         true,
         {"a.dat|a.dat|Unknown type|0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        dir.write("update.ini", c.ini);
        for (const LocalFile& f : c.local) {
            const std::string path = dir.write(
                f.name,
                f.version.empty() ? "data" : bytesOf(test::peWith(test::versionBlock(f.version))));
            if (f.mtime != 0) {
                const timespec times[2] = {{f.mtime, 0}, {f.mtime, 0}};
                ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
            }
        }
        const UpdateInformation info =
            analyseUpdateInformation(dir.file("update.ini"), dir.path(), kEn, kEn);
        ASSERT_TRUE(info) << *info.failure;
        PlanRequest request;
        request.iniPath = dir.file("update.ini");
        request.appFolder = dir.path();
        request.selfVersionKey = RemoveChar(c.self, ".");
        request.serverAddress = c.server;
        int asked = 0;
        request.confirmFullPackage = [&](const std::string& question) {
            ++asked;
            EXPECT_EQ(question,
                      "Because of the version,you need to download the full pack.\r\n"
                      "Are you sure downloading it now");
            return c.answer;
        };
        const DownloadPlan plan = makeDownloadPlan(info, request);
        EXPECT_EQ(static_cast<bool>(plan), !c.fails);
        std::vector<std::string> rows;
        for (const PlanRow& row : plan.rows) {
            rows.push_back(row.source + "|" + row.target + "|" + row.description + "|" +
                           std::to_string(row.image));
        }
        EXPECT_EQ(rows, c.rows);
        if (!c.fails) {
            EXPECT_EQ(plan.next, c.next);
        }
        EXPECT_EQ(asked, c.ini.find("ForceUp=1") != std::string::npos ? 1 : 0);
    }
}

}  // namespace
}  // namespace upd::wizard
