// Resuming a download: the range request, 206 replies written behind the local part, a
// server that ignores the range (200), a local file shorter than the resume point, and an
// error reply that must not overwrite what is already on disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "net/data_connection.h"
#include "net/http_request.h"
#include "net/socket_layer.h"
#include "tests/net/net_test_support.h"
#include "tests/support/scripted_server.h"
#include "tests/support/temp_dir.h"

namespace upd::net::test {
namespace {

using upd::test::Script;
using upd::test::ScriptedServer;

class ResumeDownload : public ::testing::Test {
  protected:
    void SetUp() override { setConnectTimeoutMs(2000); }

    // A download resuming dir/part.bin (which holds `local`) from `from`.
    void resume(Download& d, const std::string& local, std::int64_t from) {
        m_dir.write("part.bin", local);
        d->setUseTempFile(false);
        d->setFilename(m_dir.file("part.bin"));
        d->setUseResume(true);
        d->setResumeFrom(from);
    }
    std::string file() const { return readWholeFile(m_dir.file("part.bin")); }

    upd::test::TempDir m_dir;
};

std::string partialReply(const std::string& body) {
    return "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

TEST_F(ResumeDownload, PartialReplyIsWrittenBehindTheLocalPart) {
    const std::string local = patternBytes(5000, 1);
    const std::string rest = patternBytes(3000, 2);
    ScriptedServer server(Script().readRequest().send(partialReply(rest)).close());
    Download d;
    resume(d, local, 5000);
    d->setAllowCache(true);
    d->FetchURLString(server.url("/f.bin"));
    ASSERT_TRUE(d.runToEnd());

    EXPECT_EQ(server.received(0), "GET " + server.url("/f.bin") +
                                      " HTTP/1.1\r\n"
                                      "Accept: */*\r\n"
                                      "User-Agent: " +
                                      userAgent() +
                                      "\r\n"
                                      "Host: 127.0.0.1\r\n"
                                      "Range: bytes=5000-\r\n"
                                      "Connection: close\r\n"
                                      "\r\n");
    EXPECT_EQ(file(), local + rest);
    EXPECT_EQ(d->HTTPReply(), 206);
    EXPECT_EQ(d->DownloadLength(), 8000);
    EXPECT_EQ(d->ReceivedBytes(), 8000);
    EXPECT_EQ(d->RealReceivedBytes(), 3000);
    EXPECT_EQ(d.recorder.lines.back(), "Disconnected 0");
    // Counting starts at the resume point.
    const auto first = std::find_if(d.recorder.lines.begin(), d.recorder.lines.end(),
                                    [](const std::string& l) { return l.starts_with("Bytes"); });
    ASSERT_NE(first, d.recorder.lines.end());
    EXPECT_GT(std::stoll(first->substr(14)), 5000);
}

TEST_F(ResumeDownload, LocalBytesBeyondTheResumePointAreCut) {
    const std::string local = patternBytes(6000, 1);
    const std::string rest = patternBytes(1000, 2);
    ScriptedServer server(Script().readRequest().send(partialReply(rest)).close());
    Download d;
    resume(d, local, 5000);
    d->FetchURLString(server.url("/f.bin"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(file(), local.substr(0, 5000) + rest);
    EXPECT_EQ(d.recorder.lines.back(), "Disconnected 0");
}

TEST_F(ResumeDownload, WholeFileReplyRestartsCountingAndRewritesTheFile) {
    const std::string whole = patternBytes(4000, 9);
    ScriptedServer server(Script().readRequest().send(httpReply(200, whole)).close());
    Download d;
    resume(d, patternBytes(5000, 1), 5000);
    d->FetchURLString(server.url("/f.bin"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d->DownloadLength(), 4000);  // the plain content-length
    EXPECT_EQ(d->ReceivedBytes(), 4000);
    EXPECT_FALSE(d->UseResume());
    EXPECT_EQ(file(), whole);  // nothing of the old, longer file is left behind
    EXPECT_EQ(d.recorder.lines.back(), "Disconnected 0");
}

TEST_F(ResumeDownload, LocalFileShorterThanTheResumePointIsNeverFilledWithAHole) {
    const std::string local = patternBytes(1000, 1);
    ScriptedServer server(
        Script().readRequest().send(partialReply(patternBytes(3000))).readUntilClosed());
    Download d;
    resume(d, local, 5000);
    d->FetchURLString(server.url("/f.bin"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines,
              (std::vector<std::string>{"Connected 0", "QuerySent 0", "DownloadFailed 0 0"}));
    EXPECT_FALSE(d->IsConnected());
    EXPECT_EQ(file(), local);
}

TEST_F(ResumeDownload, ErrorReplyDoesNotOverwriteTheLocalPart) {
    const std::string local = patternBytes(5000, 1);
    ScriptedServer server(
        Script().readRequest().send(httpReply(416, "<html>range not satisfiable</html>")).close());
    Download d;
    resume(d, local, 5000);
    d->FetchURLString(server.url("/f.bin"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines[2], "DownloadFailed 4 0");
    EXPECT_EQ(file(), local);
}

TEST_F(ResumeDownload, ResumeFromZeroIsAPlainDownload) {
    ScriptedServer server(Script().readRequest().send(httpReply(200, "abc")).close());
    Download d;
    resume(d, "old contents", 0);
    d->FetchURLString(server.url("/f.bin"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_FALSE(d->UseResume());
    EXPECT_EQ(server.received(0), plainRequest(server.url("/f.bin"), "127.0.0.1"));
    EXPECT_EQ(file(), "abc");
}

TEST_F(ResumeDownload, MemoryCountStartsAtTheResumePoint) {
    ScriptedServer server(Script().readRequest().send(partialReply("tail")).close());
    Download d;
    d->setDownloadType(1);
    d->setUseResume(true);
    d->setResumeFrom(100);
    d->FetchURLString(server.url("/f.bin"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines,
              (std::vector<std::string>{"Connected 0", "QuerySent 0", "BytesReceived 104 0",
                                        "Disconnected 0"}));
    EXPECT_EQ(d->GetBufferAsString(), "tail");
}

TEST_F(ResumeDownload, OffsetsBeyondFourGigabytesAreKept) {
    constexpr std::int64_t kFrom = 5'000'000'000;
    ScriptedServer server(Script()
                              .readRequest()
                              .send("HTTP/1.1 206 Partial\r\nContent-Length: 4\r\n\r\ntail")
                              .close());
    Download d;
    d->setDownloadType(1);
    d->setUseResume(true);
    d->setResumeFrom(kFrom);
    d->FetchURLString(server.url("/huge.iso"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_NE(server.received(0).find("Range: bytes=5000000000-\r\n"), std::string::npos);
    EXPECT_EQ(d->DownloadLength(), kFrom + 4);
    EXPECT_EQ(d->ReceivedBytes(), kFrom + 4);
    EXPECT_EQ(d.recorder.lines[2], "BytesReceived 5000000004 0");
    EXPECT_EQ(d.recorder.lines.back(), "Disconnected 0");
}

TEST_F(ResumeDownload, LengthTooLargeToAddTheResumePointStaysPositive) {
    ScriptedServer server(
        Script()
            .readRequest()
            .send("HTTP/1.1 206 Partial\r\nContent-Length: 9223372036854775807\r\n\r\ntail")
            .close());
    Download d;
    d->setDownloadType(1);
    d->setUseResume(true);
    d->setResumeFrom(1000);
    d->FetchURLString(server.url("/f.bin"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d->DownloadLength(), INT64_MAX);
    EXPECT_EQ(d->ReceivedBytes(), 1004);
    EXPECT_EQ(d.recorder.lines.back(), "DownloadFailed 0 0");
}

TEST_F(ResumeDownload, FileOffsetsBeyondFourGigabytesAreWrittenThere) {
    constexpr std::int64_t kFrom = 5'000'000'000;
    const std::string path = m_dir.write("sparse.bin", "");
    ASSERT_EQ(truncate(path.c_str(), kFrom), 0);  // sparse: takes no disk space
    ScriptedServer server(Script().readRequest().send(partialReply("tail")).close());
    Download d;
    d->setUseTempFile(false);
    d->setFilename(path);
    d->setUseResume(true);
    d->setResumeFrom(kFrom);
    d->FetchURLString(server.url("/huge.iso"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines.back(), "Disconnected 0");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, kFrom + 4);
    const int fd = open(path.c_str(), O_RDONLY);
    char tail[4] = {};
    EXPECT_EQ(pread(fd, tail, 4, kFrom), 4);
    close(fd);
    EXPECT_EQ(std::string(tail, 4), "tail");
}

}  // namespace
}  // namespace upd::net::test
