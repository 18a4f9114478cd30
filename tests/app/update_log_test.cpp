#include "app/update_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::app {
namespace {

TEST(UpdateLogLine, QuotesBlanksEscapesControlsAndHidesSecrets) {
    const std::string secrets[] = {"hunter2"};
    // clang-format off
    const std::pair<std::vector<LogField>, const char*> cases[] = {
        {{{"server", "Far server"}, {"name", "sub\\data.dat"}, {"bytes", 300000}, {"digest", "ok"}},
         R"(server="Far server" name=sub\data.dat bytes=300000 digest=ok)"},
        {{{"name", "a\nb\x1b[2J\x7f"}}, R"(name=a\x0ab\x1b[2J\x7f)"},
        {{{"why", "say \"x=1\""}, {"to", ""}}, R"(why="say \x22x=1\x22" to="")"},
        {{{"address", "http://u:hunter2@h/"}, {"from", "hunt%65r2"}}, "address=*** from=***"},
        // Addresses go through redactedUrl: only the credentials of the address itself go.
        {{{"a", redactedUrl("http://user:pw@host:8080/a@b")}, {"b", redactedUrl("u:p@w@proxy:3128")}},
         "a=http://host:8080/a@b b=proxy:3128"},
        {{{"a", redactedUrl("socks5://u@[::1]:1080")}, {"b", redactedUrl("h/?n=http://u:p@x")}},
         "a=socks5://[::1]:1080 b=h/?n=http://u:p@x"},
    };
    // clang-format on
    for (const auto& [fields, line] : cases) {
        EXPECT_EQ(logLine(1796655845, "file", fields, secrets),
                  std::string("2026-12-07T15:04:05Z file ") + line);
    }
}

// What lies at app/update before the log opens; with anything there the log goes elsewhere.
TEST(UpdateLog, WritesInTheUpdateFolderElseInTheStateFolderNeverThroughALink) {
    for (const std::string setup : {"", "file", "link", "link at the log", "read-only"}) {
        SCOPED_TRACE(setup);
        test::TempDir dir;
        const std::string app = dir.path() + "app/", update = app + "update";
        const std::string outside = dir.write("outside/update.log", "keep");
        test::EnvGuard env;
        env.set("XDG_STATE_HOME", (dir.path() + "state").c_str());
        dir.write(setup == "file" ? "app/update" : "app/.keep", "");
        if (setup == "link") {
            ASSERT_EQ(symlink((dir.path() + "outside").c_str(), update.c_str()), 0);
        } else if (setup == "link at the log") {
            ASSERT_EQ(mkdir(update.c_str(), 0755), 0);
            ASSERT_EQ(symlink(outside.c_str(), (update + "/update.log").c_str()), 0);
        } else if (setup == "read-only") {
            ASSERT_EQ(mkdir(update.c_str(), 0555), 0);
            if (access(update.c_str(), W_OK) == 0) {
                continue;  // as root: "file" stands for a folder that cannot be written
            }
        }
        UpdateLog log = UpdateLog::open(app);
        log.setSecrets({"hunter2"});
        log.event("server", {{"address", "http://u:hunter2@h/"}, {"status", 0}});
        EXPECT_TRUE(log.ok());
        EXPECT_EQ(log.path(),
                  setup.empty() ? update + "/update.log" : fallbackLogFolder(app) + "update.log");
        EXPECT_TRUE(std::regex_match(
            test::readFile(log.path()),
            std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ server address=\*\*\* status=0\n)")));
        EXPECT_TRUE(std::regex_match(fallbackLogFolder(app),
                                     std::regex(dir.path() + "state/update-wizard/[0-9a-f]{16}/")));
        EXPECT_EQ(test::readFile(outside), "keep");
    }
}

TEST(UpdateLog, BeginsAnewBeforePassingOneMebibyteKeepingOneOldCopy) {
    test::TempDir dir;
    UpdateLog log = UpdateLog::open(dir.path());
    // 1032 bytes a line: 1016 fit in 1 MiB. 2600 lines: two turns, 568 lines in the new file.
    for (int i = 0; i < 2600; ++i) {
        log.event("file", {{"name", std::string(1000, 'x')}});
    }
    EXPECT_EQ(test::readFile(dir.file("update/update.log")).size(), 568u * 1032);
    EXPECT_EQ(test::readFile(dir.file("update/update.log.1")).size(), 1016u * 1032);
    EXPECT_NE(access(dir.file("update/update.log.2").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace upd::app
