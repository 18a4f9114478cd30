// A row's partial file is resumed only when its record says it is this row's: same URL, same
// digest, a validator a header line can carry, read from the record itself and not through a
// link. Otherwise the file comes whole, and a resumed file the server changed comes whole too.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/net/net_test_support.h"
#include "tests/support/scripted_server.h"
#include "tests/support/temp_dir.h"
#include "wizard/resume_record.h"
#include "wizard/row_download.h"

namespace upd::wizard {
namespace {

using net::test::httpReply;

std::string urlOf(const test::ScriptedServer& server) {
    return "http://127.0.0.1:" + std::to_string(server.port()) + "/f.bin";
}

// Fetches the row f.bin from `url` into app's update folder; true when it finished.
bool fetched(const test::TempDir& app, const std::string& url, bool resume) {
    bool finished = false, failed = false;
    RowDownload row(
        app.path(), nullptr,
        {.Finished = [&] { finished = true; }, .Failed = [&](auto&) { failed = true; }});
    row.start({.source = url, .listedName = "f.bin", .resume = resume});
    return test::pumpUntil([&] { return finished || failed; }) && finished;
}

TEST(RowDownload, ResumesOnlyItsOwnPartialFile) {
    const std::string etag = "ETag: \"v2\"\r\n";
    const std::string rest = "HTTP/1.1 206 Partial\r\nContent-Length: 4\r\n" + etag + "\r\n6789";
    // clang-format off
    const struct { const char* name; bool resume; std::string digest, validator; bool link;
                   std::string reply; bool ranged; } cases[] = {
        {"its own bytes", true, "", "\"v1\"", false, rest, true},
        {"the box unchecked", false, "", "\"v1\"", false, httpReply(200, "0123456789"), false},
        {"another update's bytes", true, std::string(64, 'a'), "\"v1\"", false,
         httpReply(200, "0123456789"), false},
        {"a validator with a control byte", true, "", "\"v\x01\"", false,
         httpReply(200, "0123456789"), false},
        {"a record through a link", true, "", "\"v1\"", true, httpReply(200, "0123456789"), false},
        {"no validator to ask with, no digest", true, "", "", false, httpReply(200, "0123456789"), false},
        {"changed on the server", true, "", "\"v1\"", false,
         httpReply(200, "0123456789", true, etag), true},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir app;
        test::ScriptedServer server(test::Script().readRequest().send(c.reply).close());
        const std::string url = urlOf(server);
        const std::string partial = app.write("update/f.bin", "012345");
        const std::string record =
            "[Resume]\nRow=" + rowIdentity(url, c.digest) + "\nValidator='" + c.validator + "'\n";
        if (c.link) {
            ASSERT_EQ(::symlink(app.write("elsewhere", record).c_str(),
                                resumeRecordPath(partial).c_str()),
                      0);
        } else {
            app.write("update/.upd-resume-f.bin", record);
        }
        EXPECT_TRUE(fetched(app, url, c.resume));
        EXPECT_EQ(test::readFile(partial), "0123456789");
        const std::string request = server.received(0);
        EXPECT_EQ(request.find("\r\nRange: bytes=6-\r\nIf-Range: \"v1\"\r\n") != std::string::npos,
                  c.ranged)
            << request;
        EXPECT_EQ(request.find("Range:") != std::string::npos, c.ranged) << request;
        struct stat info {};
        EXPECT_NE(::lstat(resumeRecordPath(partial).c_str(), &info), 0) << "record left behind";
        if (c.link) {
            EXPECT_EQ(test::readFile(app.file("elsewhere")), record);
        }
    }
}

// A restart resumes from the record that the cut transfer of an earlier run left.
TEST(RowDownload, ResumesWhatACutTransferLeft) {
    const test::TempDir app;
    test::ScriptedServer server(
        {test::Script()
             .readRequest()
             .send(httpReply(200, "012345", false,
                             "Content-Length: 10\r\n"
                             "ETag: \"v1\"\r\n"))
             .close(),
         test::Script().readRequest().send(httpReply(206, "6789")).close()});
    EXPECT_FALSE(fetched(app, urlOf(server), true));  // cut after 6 of 10 bytes
    EXPECT_TRUE(fetched(app, urlOf(server), true));   // a new run, as after a restart
    EXPECT_EQ(test::readFile(app.file("update/f.bin")), "0123456789");
    EXPECT_NE(server.received(1).find("\r\nRange: bytes=6-\r\nIf-Range: \"v1\"\r\n"),
              std::string::npos)
        << server.received(1);
}

}  // namespace
}  // namespace upd::wizard
