// The analysis of update.ini and the download plan, over generated update.ini files and
// application folders: PE files with version resources, files with chosen modification
// times, and a time zone with daylight saving in summer.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <optional>
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
        {"2005-02-29", {}}, {"2005-13-01", {}}, {"2005-06-01 24:00", {}}, {"2005-06-01 18:60", {}},
        {"2005-06/01", {}}, {"2005-06-01 18", {}}, {"2005-06-01x", {}}, {"", {}},
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
    const auto oneVer = [&](const std::string& name) {
        return head + "[Ver]\nNum=1\nFile1=" + name + "\n";
    };
    const char* unknown = "a.exe||Unknown type";
    // clang-format off
    const struct {
        const char* name; std::string ini; bool ok = false; const char* versionRows = "";
        const char* dateRows = ""; platform::LangId lang = kEn;
    } cases[] = {
        {"empty sections", head + "[Ver]\nNum=0\n[Time]\nNum=-3\n", true},
        {"descriptions: tagged, then plain, as read, else 127",
         head + "[Ver]\nNum=3\nFile1=Main.exe\nVer1=2.1.0.0\nFile2=sub\\r.dll\nVer2=1.0\n"
                "File3=readme\n[Time]\nNum=1\nFile1=a.dat\nDate1=2005-06-01\n[Descript]\n"
                "EXE=Program\nEXECHS=程序\nDLL=Library\nREADME=Text\n",
         true, "Main.exe|2.1.0.0|程序;sub\\r.dll|1.0|Library;readme||Text",
         "a.dat|2005-06-01|未知类型", kChs},
        {"Num rounds a fraction", head + "[Ver]\nNum=1.4\nFile1=a.exe\n[Time]\nNum=0\n", true, unknown},
        {"no file", ""},
        {"Num missing", oneVer("a.exe"), false, unknown},
        {"Num above 32767", head + "[Ver]\nNum=32768\n[Time]\nNum=0\n"},
        {"a name twice", head + "[Ver]\nNum=2\nFile1=a.exe\nFile2=a.exe\n[Time]\nNum=0\n", false, unknown},
        {"a name in both sections", oneVer("a.exe") + "[Time]\nNum=1\nFile1=a.exe\n", true, unknown, unknown},
        {"a numeric name", oneVer("12") + "[Time]\nNum=0\n"},
        {"an empty name", head + "[Ver]\nNum=1\n[Time]\nNum=0\n"},
        {"a name leaving the folder", head + "[Ver]\nNum=0\n[Time]\nNum=1\nFile1=..\\..\\etc\\x\n"},
        {"an absolute name", oneVer("/etc/passwd")}, {"a drive letter", oneVer("C:\\x.exe")},
        // Names the installer keeps for itself, and control bytes that reach terminals.
        {"the journal", head + "[Ver]\nNum=0\n[Time]\nNum=1\nFile1=Install.Journal\n"},
        {"in the backups", oneVer(".install-backup\\files\\a")}, {"the lock", oneVer(".\\install.lock")},
        {"a copy part", oneVer("sub\\.upd-x-1.part")}, {"the log", oneVer("Update.Log")},
        {"an escape byte", oneVer("a\x1b[2J.exe")},
        {"DEL", oneVer("a\x7f.exe")}, {"a tab", oneVer("a\tb.exe")},
        {"not reserved deeper", oneVer("sub\\install.journal") + "[Time]\nNum=0\n", true,
         "sub\\install.journal||Unknown type"},
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
    const auto update = [&](const std::string& flags) { return "[Update]\n" + flags + files; };
    const auto updater = [&](const std::string& flags) {
        return update("ForceUp=0\nUpdate=1\n" + flags);
    };
    const auto fullPack = [&](const std::string& agreed) {
        return update("ForceUp=1\nUpURL=http://x/f.zip\nUpdate=" + agreed + "\n");
    };
    const std::string quiet = "[Update]\nForceUp=0\nUpdate=0\n";  // no full package, no updater
    const std::string none = quiet + files;
    const auto oneDate = [&](const std::string& date) {
        return quiet + "[Ver]\nNum=0\n[Time]\nNum=1\nFile1=a.dat\nDate1=" + date + "\n";
    };
    const std::vector<LocalFile> current = {
        {"Main.exe", "2.1.0.0"}, {"sub/Report.dll", "2.1.0.4"}, {"data/t.dat", "", kJune1}};
    using enum PlanNext;
    // self: the running updater's version; server: the address it was given; answer: to the
    // question about the full package; rows: "source|target|description|image;..."; next,
    // unless given: Download with rows, else Finish; sizes, when given: the rows' "10,-,7".
    // clang-format off
    const struct {
        const char* name; std::string ini; std::vector<LocalFile> local = {};
        const char* self = "1"; const char* server = ""; bool answer = true;
        std::string rows = {}; std::optional<PlanNext> next = {}; bool fails = false;
        std::string sizes = {};
    } cases[] = {
        {.name = "older versions compare as text", .ini = none,
         .local = {{"Main.exe", "2.1.0.00"}, {"sub/Report.dll", "2.1.0.3"}, {"data/t.dat", "", kJune1}},
         .rows = "sub\\Report.dll|sub\\Report.dll|Library|0"},
        {.name = "full package, agreed", .ini = fullPack("1"), .rows = "http://x/f.zip|Setup.zip|FullPack|1"},
        {.name = "full package, declined", .ini = fullPack("0"), .answer = false, .next = Stay},
        {.name = "updater older, FileMove current", .ini = updater("UpdateVer=1.0.0.4\nMoveVer=1.0.0.1\n"),
         .local = {{"FileMove.exe", "1.0.0.1"}}, .self = "1.0.0.3", .server = "http://srv/updates/app/",
         .rows = "http://srv/updates/update.exe|update.exe|Update|0"},
        {.name = "updater current: the files count", .ini = updater("UpdateVer=1.0.0.3\nMoveVer=9\n"),
         .local = current, .self = "1.0.0.3"},
        {.name = "UpdateVer empty: never older", .ini = updater(""), .local = current, .self = "1.0.0.3"},
        {.name = "out of date by version and by date: planned once",
         .ini = quiet + "[Ver]\nNum=1\nFile1=a.exe\nVer1=2\n[Time]\nNum=1\nFile1=a.exe\nDate1=2030-01-01\n",
         .local = {{"a.exe", "1", kJune1}}, .rows = "a.exe|a.exe|Unknown type|0"},
        {.name = "ForceUp not a number", .ini = update("ForceUp=\nUpdate=0\n"), .fails = true},
        {.name = "Update out of range", .ini = update("ForceUp=0\nUpdate=40000\n"), .fails = true},
        {.name = "an unreadable date of an existing file", .ini = oneDate("2005-02-30"),
         .local = {{"a.dat", "", kJune1}}, .fails = true},
        {.name = "an unreadable date of a missing file", .ini = oneDate("soon"), .rows = "a.dat|a.dat|Unknown type|0"},
        {.name = "a named pipe is no file to date", .ini = oneDate("2005-06-01"),
         .local = {{"a.dat", "fifo"}}, .rows = "a.dat|a.dat|Unknown type|0"},
        {.name = "sizes go with their rows", .ini = quiet + "[Ver]\nNum=2\nFile1=a.exe\nVer1=2\nSize1=10\n"
         "File2=b.exe\nVer2=2\n[Time]\nNum=1\nFile1=c.dat\nDate1=2005-06-01\nSize1=7\n",
         .rows = "a.exe|a.exe|Unknown type|0;b.exe|b.exe|Unknown type|0;c.dat|c.dat|Unknown type|0",
         .sizes = "10,-,7"},
        {.name = "the package's size", .ini = update("ForceUp=1\nUpURL=http://x/f.zip\nUpSize=5\nUpdate=0\n"),
         .rows = "http://x/f.zip|Setup.zip|FullPack|1", .sizes = "5"},
        {.name = "the updater's sizes", .ini = updater("UpdateVer=1.0.0.4\nMoveVer=1.0.0.2\nUpdateSize=3\n"
         "MoveSize=4\n"), .local = {{"FileMove.exe", "1.0.0.1"}}, .self = "1.0.0.3", .server = "http://s/u/a/",
         .rows = "http://s/u/update.exe|update.exe|Update|0;http://s/u/FileMove.exe|FileMove.exe|Update Assistant|0",
         .sizes = "3,4"},
        {.name = "a size that is no size, planned or not", .ini = quiet + "[Ver]\nNum=1\nFile1=a.exe\nVer1=1\n"
         "Size1=12k\n[Time]\nNum=0\n", .local = {{"a.exe", "1"}}, .fails = true},
        {.name = "an empty MoveSize", .ini = update("ForceUp=0\nUpdate=0\nMoveSize=\n"), .fails = true},
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
        std::string rows, sizes;
        for (const PlanRow& row : plan.rows) {
            rows += (rows.empty() ? "" : ";") + row.source + "|" + row.target + "|" +
                    row.description + "|" + std::to_string(row.image);
            sizes += (sizes.empty() ? "" : ",") + (row.size ? std::to_string(*row.size) : "-");
        }
        EXPECT_EQ(rows, c.rows);
        EXPECT_TRUE(c.sizes.empty() || sizes == c.sizes) << sizes;
        EXPECT_TRUE(c.fails || plan.next == c.next.value_or(c.rows.empty() ? Finish : Download));
        EXPECT_EQ(asked, c.ini.find("ForceUp=1") != std::string::npos ? 1 : 0);
    }
}

}  // namespace
}  // namespace upd::wizard
