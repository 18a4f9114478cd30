// A row's partial file is resumed only when its record says it is this row's: same URL, same
// digest, a validator a header line can carry, read from the record itself and not through a
// link. Otherwise the file comes whole, and a resumed file the server changed comes whole too.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>

#include "publishing/file_digest.h"
#include "publishing/zstd_codec.h"
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

// Fetches row f.bin from `url` into app's update folder (resume allowed); true when it finished.
bool fetched(const test::TempDir& app, const std::string& url) {
    bool finished = false, failed = false;
    RowDownload row(
        app.path(), nullptr,
        {.Finished = [&] { finished = true; }, .Failed = [&](auto&) { failed = true; }});
    row.start({.source = url, .listedName = "f.bin", .resume = true});
    return test::pumpUntil([&] { return finished || failed; }) && finished;
}

TEST(RowDownload, ResumesOnlyItsOwnPartialFile) {
    const std::string etag = "ETag: \"v2\"\r\n";
    // clang-format off
    const struct { const char* name; std::string digest, validator; bool link; std::string reply;
                   bool ranged; } cases[] = {
        {"another update's bytes", std::string(64, 'a'), "\"v1\"", false,
         httpReply(200, "0123456789"), false},
        {"a validator with a control byte", "", "\"v\x01\"", false, httpReply(200, "0123456789"),
         false},
        {"a record through a link", "", "\"v1\"", true, httpReply(200, "0123456789"), false},
        {"no validator to ask with, no digest", "", "", false, httpReply(200, "0123456789"), false},
        {"changed on the server", "", "\"v1\"", false, httpReply(200, "0123456789", true, etag),
         true},
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
        EXPECT_TRUE(fetched(app, url));
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

// A file is its announced size: a longer one stops one byte past it (or at its announced
// length), a shorter one fails at its end, and neither stays for a retry to resume.
TEST(RowDownload, HoldsTheFileToItsAnnouncedSize) {
    const std::string rest =
        "HTTP/1.1 206 Partial\r\nContent-Length: 4\r\nETag: \"v1\"\r\n\r\n6789";
    // clang-format off
    const struct { const char* name; std::string reply; std::int64_t size; bool resumed;
                   std::string detail; } cases[] = {
        {"the announced size", httpReply(200, "0123456789"), 10, false, ""},
        {"resumed: the limit counts the whole file", rest, 10, true, ""},
        {"a longer length announced", httpReply(200, "0123456789"), 4, false,
         "the server announces 10 bytes"},
        {"longer, without a length", httpReply(200, "0123456789", false), 4, false,
         "more than 4 bytes arrived"},
        {"shorter, without a length", httpReply(200, "0123", false), 10, false, "4 bytes arrived"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir app;
        test::ScriptedServer server(test::Script().readRequest().send(c.reply).close());
        const std::string url = urlOf(server);
        const std::string partial = app.file("update/f.bin");
        if (c.resumed) {
            app.write("update/f.bin", "012345");
            app.write("update/.upd-resume-f.bin",
                      "[Resume]\nRow=" + rowIdentity(url, "") + "\nValidator='\"v1\"'\n");
        }
        bool finished = false;
        std::optional<RowFailure> failure;
        RowDownload row(app.path(), nullptr,
                        {.Finished = [&] { finished = true; },
                         .Failed = [&](const RowFailure& f) { failure = f; }});
        row.start({.source = url, .listedName = "f.bin", .size = c.size, .resume = c.resumed});
        ASSERT_TRUE(test::pumpUntil([&] { return finished || failure; }));
        EXPECT_EQ(failure ? failure->detail : "", c.detail);
        if (c.detail.empty()) {
            EXPECT_EQ(test::readFile(partial), "0123456789");
            continue;
        }
        EXPECT_EQ(failure->kind, RowFailureKind::SizeMismatch);
        EXPECT_TRUE(row.restartsWhole());
        struct stat info {};
        EXPECT_NE(::lstat(partial.c_str(), &info), 0) << "the file stays";
        EXPECT_NE(::lstat(resumeRecordPath(partial).c_str(), &info), 0) << "its record stays";
    }
}

// The smaller forms: the patch made against the installed file's bytes, else the compressed
// file, else the whole file; a form that fails anywhere falls back to the whole file, once, and
// the row's file is the new one in every case.
TEST(RowDownload, FetchesTheFormThatAppliesAndFallsBackToTheWholeFile) {
    const test::TempDir work;
    const std::string oldBytes = net::test::patternBytes(200'000, 1);
    std::string newBytes = oldBytes;
    newBytes.replace(1000, 64, std::string(64, 'x'));
    const std::string oldFile = work.write("old", oldBytes), newFile = work.write("new", newBytes);
    ASSERT_TRUE(publishing::makePatch(oldFile, newFile, work.file("patch")).ok);
    ASSERT_TRUE(publishing::compressFile(newFile, work.file("zst")).ok);
    const std::string patch = test::readFile(work.file("patch"));
    const std::string zst = test::readFile(work.file("zst"));
    const auto digest = [](const std::string& bytes) { return sha256Hex(bytes); };
    const FileForm patchForm{FileForm::Kind::Patch, digest(oldBytes), digest(patch),
                             static_cast<std::int64_t>(patch.size())};
    const FileForm zstForm{
        FileForm::Kind::Compressed, {}, digest(zst), static_cast<std::int64_t>(zst.size())};
    const std::string patchPath = "/f.bin." + digest(oldBytes).substr(0, 16) + ".zpatch";
    std::string corrupted = patch;
    corrupted[corrupted.size() / 2] ^= 0x55;
    // clang-format off
    const struct { const char* name; std::string installed; std::vector<std::string> served;
                   std::vector<std::string> asked; bool fallback; } cases[] = {
        {"the patch of the installed file", oldBytes, {patch}, {patchPath}, false},
        {"a file the user changed: compressed", oldBytes + "!", {zst}, {"/f.bin.zst"}, false},
        {"no installed file: compressed", "", {zst}, {"/f.bin.zst"}, false},
        {"a corrupted patch", oldBytes, {corrupted, newBytes}, {patchPath, "/f.bin"}, true},
        {"a patch missing on the server", oldBytes, {"", newBytes}, {patchPath, "/f.bin"}, true},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir app;
        if (!c.installed.empty()) {
            app.write("f.bin", c.installed);
        }
        std::vector<test::Script> scripts;
        for (const std::string& body : c.served) {
            scripts.push_back(
                test::Script()
                    .readRequest()
                    .send(body.empty() ? httpReply(404, "gone") : httpReply(200, body))
                    .close());
        }
        test::ScriptedServer server(scripts);
        bool finished = false;
        std::optional<RowFailure> failure;
        int fallbacks = 0;
        std::string why;
        RowDownload row(app.path(), nullptr,
                        {.Finished = [&] { finished = true; },
                         .Failed = [&](const RowFailure& f) { failure = f; },
                         .Fallback =
                             [&](const std::string& w) {
                                 ++fallbacks;
                                 why = w;
                             }});
        row.start({.source = "f.bin",
                   .listedName = "f.bin",
                   .serverAddress = [&] { return server.url("/"); },
                   .digest = digest(newBytes),
                   .size = static_cast<std::int64_t>(newBytes.size()),
                   .forms = {patchForm, zstForm},
                   .installedPath = app.file("f.bin")});
        ASSERT_TRUE(test::pumpUntil([&] {
            row.checkDigestSlice();
            return finished || failure;
        }));
        EXPECT_FALSE(failure) << failure->detail;
        EXPECT_TRUE(test::readFile(app.file("update/f.bin")) == newBytes);
        EXPECT_EQ(fallbacks, c.fallback ? 1 : 0) << why;
        ASSERT_EQ(server.connections(), c.asked.size());
        for (std::size_t k = 0; k < c.asked.size(); ++k) {
            EXPECT_TRUE(server.received(k).starts_with("GET " + c.asked[k] + " "))
                << server.received(k);
        }
        EXPECT_EQ(::access(app.file("update/.upd-form-f.bin").c_str(), F_OK), -1);
    }
}

}  // namespace
}  // namespace upd::wizard
