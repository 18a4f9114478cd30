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
#include "wizard/information_file.h"
#include "wizard/update_info.h"

namespace upd::wizard {
namespace {

constexpr platform::LangId kEn = platform::kLangEnglishUS;
constexpr platform::LangId kChs = platform::kLangChineseSimplified;

// Rows as "text|sub1|sub2;..." for one comparison per list.
std::string rowsOf(const controls::ListModel& list) {
    std::string rows;
    for (int r = 1; r <= list.rowCount(); ++r) {
        rows += (r > 1 ? ";" : "") + list.row(r).text + "|" + list.subItem(r, 1) + "|" +
                list.subItem(r, 2);
    }
    return rows;
}

// update.ini of `dir`, read as the wizard reads it without a key.
ProfileDocument documentIn(const test::TempDir& dir) {
    return loadUpdateInformation(dir.file("update.ini"), std::nullopt, std::nullopt).document;
}

TEST(AnnouncedDate, ReadsTheFormsReleaseEngineersWrite) {
    const auto at = [](int h, int mi, int s) { return calendarSeconds(2005, 6, 1, h, mi, s); };
    // clang-format off
    const struct { const char* text; std::optional<std::int64_t> expected; } cases[] = {
        {"2005-06-01 18:30:00", at(18, 30, 0)}, {"2005/06/01", at(0, 0, 0)},
        {"2005.06.01 18:30", at(18, 30, 0)},    {" 2005-6-1  7:05:09 ", at(7, 5, 9)},
        {"2004-02-29", calendarSeconds(2004, 2, 29)},
        {"2005-02-29", {}}, {"2005-02-30", {}}, {"2005-13-01", {}}, {"2005-06-01 24:00", {}},
        {"2005-06-01 18:60", {}}, {"2005-06/01", {}}, {"2005-06-01 18", {}},
        {"2005-06-01x", {}}, {"yesterday", {}}, {"", {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(parseAnnouncedDate(c.text), c.expected) << c.text;
    }
    EXPECT_EQ(calendarSeconds(1970, 1, 2, 0, 0, 1), 86401);
}

TEST(WhatsNew, CountsItemsUpToTheFirstEmptyOne) {
    // clang-format off
    const struct { const char* contents; const char* items; } cases[] = {
        {"", ""}, {"a", "\r\na"}, {"a,b", "\r\na\r\nb"}, {"a,,b", "\r\na\r\n"}, {",a", "\r\n"},
        {"a,", "\r\na\r\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(whatsNewText("2.1", "2005.06.01", c.contents),
                  std::string("V 2.1 (2005.06.01)\r\n") + c.items)
            << c.contents;
    }
}

TEST(UpdateInformation, AnalysesTheFileOrRefusesIt) {
    // With a byte-order mark: UTF-8 whatever the system code page.
    const std::string head =
        "\xEF\xBB\xBF[Update]\nVer=2.1\nTime=2005.06.01\nContentsEN=Faster,Smaller\n"
        "ContentsCHS=更快\n";
    // clang-format off
    const struct {
        const char* name; std::string ini; platform::LangId lang; bool ok;
        const char* versionRows; const char* dateRows;
    } cases[] = {
        {"empty sections", head + "[Ver]\nNum=0\n[Time]\nNum=-3\n", kEn, true, "", ""},
        {"descriptions: tagged, then plain, as read, else 127",
         head + "[Ver]\nNum=3\nFile1=Main.exe\nVer1=2.1.0.0\nFile2=sub\\r.dll\nVer2=1.0\n"
                "File3=readme\n[Time]\nNum=1\nFile1=a.dat\nDate1=2005-06-01\n[Descript]\n"
                "EXE=Program\nEXECHS=程序\nDLL=Library\nREADME=Text\n",
         kChs, true, "Main.exe|2.1.0.0|程序;sub\\r.dll|1.0|Library;readme||Text",
         "a.dat|2005-06-01|未知类型"},
        {"Num rounds a fraction", head + "[Ver]\nNum=1.4\nFile1=a.exe\n[Time]\nNum=0\n", kEn, true,
         "a.exe||Unknown type", ""},
        {"no file", "", kEn, false, "", ""},
        {"Num missing", head + "[Ver]\nNum=1\nFile1=a.exe\n", kEn, false, "a.exe||Unknown type", ""},
        {"Num not a number", head + "[Ver]\nNum=two\n[Time]\nNum=0\n", kEn, false, "", ""},
        {"Num above 32767", head + "[Ver]\nNum=32768\n[Time]\nNum=0\n", kEn, false, "", ""},
        {"a name twice", head + "[Ver]\nNum=2\nFile1=a.exe\nFile2=a.exe\n[Time]\nNum=0\n", kEn,
         false, "a.exe||Unknown type", ""},
        {"a name in both sections", head + "[Ver]\nNum=1\nFile1=a.exe\n[Time]\nNum=1\nFile1=a.exe\n",
         kEn, true, "a.exe||Unknown type", "a.exe||Unknown type"},
        {"a numeric name", head + "[Ver]\nNum=1\nFile1=12\n[Time]\nNum=0\n", kEn, false, "", ""},
        {"an empty name", head + "[Ver]\nNum=1\n[Time]\nNum=0\n", kEn, false, "", ""},
        {"a name leaving the folder", head + "[Ver]\nNum=0\n[Time]\nNum=1\nFile1=..\\..\\etc\\x\n",
         kEn, false, "", ""},
        {"an absolute name", head + "[Ver]\nNum=1\nFile1=/etc/passwd\n", kEn, false, "", ""},
        {"a drive letter", head + "[Ver]\nNum=1\nFile1=C:\\x.exe\n", kEn, false, "", ""},
        // Names the installer keeps for itself, and control bytes that reach terminals.
        {"the journal", head + "[Ver]\nNum=0\n[Time]\nNum=1\nFile1=Install.Journal\n", kEn, false, "", ""},
        {"in the backups", head + "[Ver]\nNum=1\nFile1=.install-backup\\files\\a\n", kEn, false, "", ""},
        {"the lock", head + "[Ver]\nNum=1\nFile1=.\\install.lock\n", kEn, false, "", ""},
        {"a copy part", head + "[Ver]\nNum=1\nFile1=sub\\.upd-x-1.part\n", kEn, false, "", ""},
        {"an escape byte", head + "[Ver]\nNum=1\nFile1=a\x1b[2J.exe\n", kEn, false, "", ""},
        {"DEL", head + "[Ver]\nNum=1\nFile1=a\x7f.exe\n", kEn, false, "", ""},
        {"a tab", head + "[Ver]\nNum=1\nFile1=a\tb.exe\n", kEn, false, "", ""},
        {"not reserved deeper", head + "[Ver]\nNum=1\nFile1=sub\\install.journal\n[Time]\nNum=0\n",
         kEn, true, "sub\\install.journal||Unknown type", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        if (!c.ini.empty()) {
            dir.write("update.ini", c.ini);
        }
        const UpdateInformation info =
            analyseUpdateInformation(documentIn(dir), dir.path(), c.lang, c.lang);
        EXPECT_EQ(static_cast<bool>(info), c.ok);
        EXPECT_EQ(rowsOf(info.VersionList), c.versionRows);
        EXPECT_EQ(rowsOf(info.DateList), c.dateRows);
        EXPECT_EQ(info.text, !c.ok            ? app::LoadResString(119, c.lang)
                             : c.lang == kChs ? "V 2.1 (2005.06.01)\r\n\r\n更快"
                                              : "V 2.1 (2005.06.01)\r\n\r\nFaster\r\nSmaller");
    }
}

// A file of the application folder: a PE file with a ProductVersion, or plain bytes (no
// version) with a modification time.
struct LocalFile {
    std::string name;
    std::string version;
    std::int64_t mtime = 0;  // UTC seconds; 0 leaves the time of writing
};

// 2005-06-01 23:30:00 UTC: 18:30:00 in New York's standard time (EST, UTC-5), while the
// clock on the wall there shows 19:30 (daylight saving).
constexpr std::int64_t kJune1 = 1117668600;

TEST(DownloadPlan, FollowsThePrecedenceAndTheRules) {
    test::EnvGuard zone;
    zone.set("TZ", "EST5EDT,M3.2.0,M11.1.0");
    const std::string files =
        "[Ver]\nNum=2\nFile1=Main.exe\nVer1=2.1.0.0\nFile2=sub\\Report.dll\nVer2=2.1.0.4\n"
        "[Time]\nNum=1\nFile1=data\\t.dat\nDate1=2005-06-01 18:30:00\n"
        "[Descript]\nEXE=Program\nDLL=Library\nDAT=Data\n";
    const auto update = [&](std::string flags) { return "[Update]\n" + flags + files; };
    const std::string none = "ForceUp=0\nUpdate=0\n";
    const std::string oneFile =
        "[Update]\nForceUp=0\nUpdate=0\n[Ver]\nNum=0\n[Time]\nNum=1\n"
        "File1=a.dat\nDate1=";
    const std::vector<LocalFile> current = {
        {"Main.exe", "2.1.0.0"}, {"sub/Report.dll", "2.1.0.4"}, {"data/t.dat", "", kJune1}};
    const std::string all =
        "Main.exe|Main.exe|Program|0;sub\\Report.dll|sub\\Report.dll|"
        "Library|0;data\\t.dat|data\\t.dat|Data|0";
    using enum PlanNext;
    // clang-format off
    const struct {
        const char* name; std::string ini; std::vector<LocalFile> local; const char* self;
        const char* server; bool answer; std::string rows; PlanNext next; bool fails = false;
    } cases[] = {
        {"all current", update(none), current, "1.0.0.3", "", true, "", Finish},
        {"all missing", update(none), {}, "1.0.0.3", "", true, all, Download},
        {"older versions compare as text", update(none),
         {{"Main.exe", "2.1.0.00"}, {"sub/Report.dll", "2.1.0.3"}, {"data/t.dat", "", kJune1}},
         "1", "", true, "sub\\Report.dll|sub\\Report.dll|Library|0", Download},
        {"a date one second later", update(none),
         {{"Main.exe", "2.1.0.0"}, {"sub/Report.dll", "2.1.0.4"}, {"data/t.dat", "", kJune1 - 1}},
         "1", "", true, "data\\t.dat|data\\t.dat|Data|0", Download},
        {"full package, agreed", update("ForceUp=1\nUpURL=http://x/f.zip\nUpdate=1\n"), {}, "1", "",
         true, "http://x/f.zip|Setup.zip|FullPack|1", Download},
        {"full package, declined", update("ForceUp=1\nUpURL=http://x/f.zip\nUpdate=0\n"), {}, "1",
         "", false, "", Stay},
        {"updater older, FileMove current",
         update("ForceUp=0\nUpdate=1\nUpdateVer=1.0.0.4\nMoveVer=1.0.0.1\n"),
         {{"FileMove.exe", "1.0.0.1"}}, "1.0.0.3", "http://srv/updates/app/", true,
         "http://srv/updates/update.exe|update.exe|Update|0", Download},
        {"updater and FileMove older", update("ForceUp=0\nUpdate=1\nUpdateVer=1.0.0.4\nMoveVer=1\n"),
         {}, "1.0.0.3", "http://srv/app", true,
         "http://srv/update.exe|update.exe|Update|0;"
         "http://srv/FileMove.exe|FileMove.exe|Update Assistant|0", Download},
        {"a server of scheme and host only keeps full URLs",
         update("ForceUp=0\nUpdate=1\nUpdateVer=1.0.0.4\n"), {{"FileMove.exe", "1"}}, "1.0.0.3",
         "http://host:8080/", true, "http://host:8080/update.exe|update.exe|Update|0", Download},
        {"updater current: the files count", update("ForceUp=0\nUpdate=1\nUpdateVer=1.0.0.3\n"
                                                    "MoveVer=9\n"),
         current, "1.0.0.3", "", true, "", Finish},
        {"UpdateVer empty: never older", update("ForceUp=0\nUpdate=1\n"), current, "1.0.0.3", "",
         true, "", Finish},
        {"out of date by version and by date: planned once",
         "[Update]\nForceUp=0\nUpdate=0\n[Ver]\nNum=1\nFile1=a.exe\nVer1=2\n[Time]\nNum=1\n"
         "File1=a.exe\nDate1=2030-01-01\n",
         {{"a.exe", "1", kJune1}}, "1", "", true, "a.exe|a.exe|Unknown type|0", Download},
        {"an empty announced version is never planned",
         "[Update]\nForceUp=0\nUpdate=0\n[Ver]\nNum=1\nFile1=a.exe\n[Time]\nNum=0\n", {}, "1", "",
         true, "", Finish},
        {"ForceUp not a number", update("ForceUp=\nUpdate=0\n"), {}, "1", "", true, "", Finish, true},
        {"Update out of range", update("ForceUp=0\nUpdate=40000\n"), {}, "1", "", true, "", Finish,
         true},
        {"an unreadable date of an existing file", oneFile + "2005-02-30\n", {{"a.dat", "", kJune1}},
         "1", "", true, "", Finish, true},
        {"an unreadable date of a missing file", oneFile + "soon\n", {}, "1", "", true,
         "a.dat|a.dat|Unknown type|0", Download},
        {"a named pipe is no file to date", oneFile + "2005-06-01\n", {{"a.dat", "fifo"}}, "1", "",
         true, "a.dat|a.dat|Unknown type|0", Download},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        dir.write("update.ini", c.ini);
        for (const LocalFile& f : c.local) {
            if (f.version == "fifo") {  // opening it for reading would wait for a writer
                ASSERT_EQ(mkfifo(dir.file(f.name).c_str(), 0600), 0);
                continue;
            }
            const std::string path =
                dir.write(f.name, f.version.empty()
                                      ? "data"
                                      : test::text(test::peWith(test::versionBlock(f.version))));
            const timespec times[2] = {{f.mtime, 0}, {f.mtime, 0}};
            ASSERT_TRUE(f.mtime == 0 || utimensat(AT_FDCWD, path.c_str(), times, 0) == 0);
        }
        const UpdateInformation info =
            analyseUpdateInformation(documentIn(dir), dir.path(), kEn, kEn);
        ASSERT_TRUE(info) << *info.failure;
        int asked = 0;
        const DownloadPlan plan = makeDownloadPlan(
            info,
            {dir.path(), RemoveChar(c.self, "."), c.server, kEn, [&](const std::string& question) {
                 ++asked;
                 EXPECT_EQ(question,
                           "Because of the version,you need to download the full pack.\r\n"
                           "Are you sure downloading it now");
                 return c.answer;
             }});
        EXPECT_EQ(static_cast<bool>(plan), !c.fails);
        std::string rows;
        for (const PlanRow& row : plan.rows) {
            rows += (rows.empty() ? "" : ";") + row.source + "|" + row.target + "|" +
                    row.description + "|" + std::to_string(row.image);
        }
        EXPECT_EQ(rows, c.rows);
        EXPECT_TRUE(c.fails || plan.next == c.next);
        EXPECT_EQ(asked, c.ini.find("ForceUp=1") != std::string::npos ? 1 : 0);
    }
}

}  // namespace
}  // namespace upd::wizard
