// Redirects: followed by the object itself (same output, no second Connected, the 302's
// body not stored), relative locations, another host or port, the bound on their number,
// reported to the owner when AutoRedirect is off, and a redirect's connection that closes
// before its header.
#include <gtest/gtest.h>

#include "net/data_connection.h"
#include "net/socket_layer.h"
#include "tests/net/net_test_support.h"
#include "tests/support/scripted_server.h"
#include "tests/support/temp_dir.h"

namespace upd::net::test {
namespace {

using upd::test::Script;
using upd::test::ScriptedServer;

class Redirect : public ::testing::Test {
  protected:
    void SetUp() override { setConnectTimeoutMs(2000); }
    upd::test::TempDir m_dir;
};

std::string moved(int status, std::string_view location, std::string_view body = "moved") {
    return httpReply(status, body, true, "Location: " + std::string(location) + "\r\n");
}

TEST_F(Redirect, FollowedIntoTheSameFileWithoutASecondConnected) {
    ScriptedServer server({Script().readRequest().send(moved(302, "/new/place.bin")).close(),
                           Script().readRequest().send(httpReply(200, "the file")).close()});
    Download d;
    d->setUseTempFile(false);
    d->setFilename(m_dir.file("out.bin"));
    d->FetchURLString(server.url("/old.bin"));
    ASSERT_TRUE(d.runToEnd());

    EXPECT_EQ(readWholeFile(m_dir.file("out.bin")), "the file");
    EXPECT_EQ(d.recorder.lines,
              (std::vector<std::string>{"Connected 0", "QuerySent 0", "QuerySent 0",
                                        "BytesReceived 8 0", "Disconnected 0"}));
    EXPECT_EQ(server.received(1), plainRequest(server.url("/new/place.bin"), "127.0.0.1"));
    EXPECT_EQ(d->URL(), server.url("/new/place.bin"));
}

TEST_F(Redirect, RelativeLocationsAreResolvedAgainstTheCurrentUrl) {
    ScriptedServer server({Script().readRequest().send(moved(301, "sub/../next.txt")).close(),
                           Script().readRequest().send(moved(302, "?page=2")).close(),
                           Script().readRequest().send(httpReply(200, "ok")).close()});
    Download d;
    d->setDownloadType(1);
    d->FetchURLString(server.url("/a/b/start.txt"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(server.received(1), plainRequest(server.url("/a/b/next.txt"), "127.0.0.1"));
    EXPECT_EQ(server.received(2), plainRequest(server.url("/a/b/next.txt?page=2"), "127.0.0.1"));
    EXPECT_EQ(d->GetBufferAsString(), "ok");
}

TEST_F(Redirect, AnotherHostOrPortIsConnectedToThere) {
    ScriptedServer target(Script().readRequest().send(httpReply(200, "from the other")).close());
    ScriptedServer first(Script().readRequest().send(moved(302, target.url("/x.bin"))).close());
    Download d;
    d->setDownloadType(1);
    d->FetchURLString(first.url("/x.bin"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(first.connections(), 1u);
    EXPECT_EQ(target.received(0), plainRequest(target.url("/x.bin"), "127.0.0.1"));
    EXPECT_EQ(d->Port(), target.port());
    EXPECT_EQ(d->GetBufferAsString(), "from the other");
}

TEST_F(Redirect, ThroughAnHttpProxyTheNewUrlGoesToTheSameProxy) {
    ScriptedServer proxy(
        {Script().readRequest().send(moved(302, "http://other.example:8080/y")).close(),
         Script().readRequest().send(httpReply(200, "via proxy")).close()});
    Download d;
    d->setDownloadType(1);
    d->setProxyType(1);
    d->setProxyHostname("127.0.0.1");
    d->setProxyPort(proxy.port());
    d->FetchURLString("http://origin.example/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_TRUE(proxy.received(1).starts_with("GET http://other.example:8080/y HTTP/1.0\r\n"))
        << proxy.received(1);
    EXPECT_NE(proxy.received(1).find("\r\nHost: other.example\r\n"), std::string::npos);
    EXPECT_EQ(d->GetBufferAsString(), "via proxy");
}

TEST_F(Redirect, MoreThanTenRedirectsFail) {
    ScriptedServer server(Script().readRequest().send(moved(302, "/again", "loop")).close());
    Download d;
    d->setDownloadType(1);
    d->FetchURLString(server.url("/again"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(server.connections(), 11u);  // the first request and ten redirects
    EXPECT_EQ(d.recorder.lines, (std::vector<std::string>{
                                    "Connected 0", "QuerySent 0", "QuerySent 0", "QuerySent 0",
                                    "QuerySent 0", "QuerySent 0", "QuerySent 0", "QuerySent 0",
                                    "QuerySent 0", "QuerySent 0", "QuerySent 0", "QuerySent 0",
                                    "DownloadFailed 4 0", "BytesReceived 4 0", "Disconnected 0"}));
}

TEST_F(Redirect, WithoutAutoRedirectTheOwnerIsTold) {
    ScriptedServer server(Script().readRequest().send(moved(302, "http://h/x", "body")).close());
    Download d;
    d->setDownloadType(1);
    d->setAutoRedirect(false);
    d->FetchURLString(server.url("/x"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines,
              (std::vector<std::string>{"Connected 0", "QuerySent 0", "ObjectMoved http://h/x 0",
                                        "BytesReceived 4 0", "Disconnected 0"}));
    EXPECT_EQ(d->GetBufferAsString(), "body");
    EXPECT_EQ(server.connections(), 1u);
}

TEST_F(Redirect, WithoutLocationItIsAFailure) {
    ScriptedServer server(Script().readRequest().send(httpReply(301, "x")).close());
    Download d;
    d->setDownloadType(1);
    d->FetchURLString(server.url("/x"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines[2], "DownloadFailed 4 0");
    EXPECT_EQ(d.recorder.lines.back(), "Disconnected 0");
    EXPECT_EQ(server.connections(), 1u);
}

TEST_F(Redirect, ALocationOfAnEarlierTransferIsNotFollowed) {
    ScriptedServer server({Script().readRequest().send(moved(302, "/elsewhere")).close(),
                           Script().readRequest().send(httpReply(302, "no location")).close()});
    Download d;
    d->setDownloadType(1);
    d->setAutoRedirect(false);
    d->FetchURLString(server.url("/first"));
    ASSERT_TRUE(d.runToEnd());
    d.recorder.lines.clear();
    d.recorder.finalEvents = 0;
    d->setAutoRedirect(true);
    d->FetchURLString(server.url("/second"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines[2], "DownloadFailed 4 0");
    EXPECT_EQ(server.connections(), 2u);
}

TEST_F(Redirect, ToAnotherSchemeIsAFailure) {
    ScriptedServer server(Script().readRequest().send(moved(302, "https://secure/x")).close());
    Download d;
    d->setDownloadType(1);
    d->FetchURLString(server.url("/x"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines[2], "DownloadFailed 4 0");
    EXPECT_EQ(server.connections(), 1u);
}

TEST_F(Redirect, NewConnectionClosingBeforeItsHeaderIsCutShort) {
    ScriptedServer server(
        {Script().readRequest().send(moved(302, "/next")).close(), Script().readRequest().close()});
    Download d;
    d->setDownloadType(1);
    d->FetchURLString(server.url("/x"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines, (std::vector<std::string>{"Connected 0", "QuerySent 0",
                                                          "QuerySent 0", "DownloadFailed 0 0"}));
    EXPECT_FALSE(d->IsConnected());
}

TEST_F(Redirect, NewHostThatCannotBeReachedFailsWith5) {
    ScriptedServer server(Script().readRequest().send(moved(302, "http://127.0.0.1:1/x")).close());
    Download d;
    d->setDownloadType(1);
    d->FetchURLString(server.url("/x"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines.back(), "DownloadFailed 5 0");
    EXPECT_EQ(d.recorder.finalEvents, 1);
}

}  // namespace
}  // namespace upd::net::test
