// Downloads through proxies, byte for byte on the wire: the HTTP proxy's request, SOCKS4
// and SOCKS4a, SOCKS5 with and without user/password and with the proxy resolving the
// name, every refusal, replies split across receives, and a proxy that hangs up.
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "net/data_connection.h"
#include "net/http_request.h"
#include "net/socket_layer.h"
#include "tests/net/net_test_support.h"
#include "tests/support/scripted_server.h"

namespace upd::net::test {
namespace {

using upd::test::Script;
using upd::test::ScriptedServer;
using namespace std::string_literals;

const std::string kSocks4Granted = "\x00\x5A\x00\x00\x00\x00\x00\x00"s;
const std::string kSocks5IpReply = "\x05\x00\x00\x01\x7F\x00\x00\x01\x00\x50"s;

class ProxyDownload : public ::testing::Test {
  protected:
    void SetUp() override { setConnectTimeoutMs(2000); }

    void through(Download& d, const ScriptedServer& proxy, std::int32_t type) {
        d->setDownloadType(1);
        d->setProxyType(type);
        d->setProxyHostname("127.0.0.1");
        d->setProxyPort(proxy.port());
    }
};

// The proxy plays the origin too once the tunnel stands.
Script tunnelThen(Script script) {
    return script.readRequest().send(httpReply(200, "through")).close();
}

TEST_F(ProxyDownload, HttpProxyGetsTheAbsoluteUrlAndNoProxyCredentials) {
    ScriptedServer proxy(tunnelThen(Script()));
    Download d;
    through(d, proxy, 1);
    d->setProxyUsername("proxyuser");
    d->setProxyPassword("proxypass");
    d->setUseHttpAuthorization(true);
    d->setHttpUser("u");
    d->FetchURLString("http://Origin.Example:8080/path/f.ini");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(proxy.received(0),
              "GET http://Origin.Example:8080/path/f.ini HTTP/1.0\r\n"
              "Accept: */*\r\n"
              "User-Agent: " +
                  userAgent() +
                  "\r\n"
                  "Host: origin.example\r\n"
                  "Proxy-Connection: Keep-Alive\r\n"
                  "Pragma: no-cache\r\n"
                  "Cache-Control: no-cache\r\n"
                  "Authorization: Basic dTo=\r\n"
                  "\r\n");
    EXPECT_EQ(d.recorder.lines, (std::vector<std::string>{"Connected 0", "QuerySent 0",
                                                          "BytesReceived 7 0", "Disconnected 0"}));
}

TEST_F(ProxyDownload, Socks4SendsTheResolvedAddress) {
    ScriptedServer proxy(tunnelThen(Script().readBytes(9).send(kSocks4Granted)));
    Download d;
    through(d, proxy, 2);
    d->FetchURLString("http://127.0.0.1:8080/x");
    ASSERT_TRUE(d.runToEnd());
    const std::string handshake = "\x04\x01\x1F\x90\x7F\x00\x00\x01\x00"s;
    EXPECT_EQ(proxy.received(0), handshake + plainRequest("http://127.0.0.1:8080/x", "127.0.0.1"));
    EXPECT_EQ(d->GetBufferAsString(), "through");
    EXPECT_EQ(d.recorder.lines, (std::vector<std::string>{"Connected 0", "QuerySent 0",
                                                          "BytesReceived 7 0", "Disconnected 0"}));
}

TEST_F(ProxyDownload, Socks4aLetsTheProxyResolveTheName) {
    ScriptedServer proxy(tunnelThen(Script().readBytes(22).send(kSocks4Granted)));
    Download d;
    through(d, proxy, 2);
    d->setProxyUseRemoteDNS(true);
    d->setProxyUsername("u");
    d->FetchURLString("http://example.org:8080/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(proxy.received(0).substr(0, 22),
              "\x04\x01\x1F\x90\x00\x00\x00\x01u\x00"
              "example.org\x00"s);
    EXPECT_EQ(d->GetBufferAsString(), "through");
}

TEST_F(ProxyDownload, Socks4RefusalClosesTheSocket) {
    ScriptedServer proxy(
        Script().readBytes(9).send("\x00\x5B\x00\x00\x00\x00\x00\x00"s).readUntilClosed());
    Download d;
    through(d, proxy, 2);
    d->FetchURLString("http://127.0.0.1:8080/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines, (std::vector<std::string>{"Connected 0", "DownloadFailed 8 0"}));
    EXPECT_FALSE(d->IsConnected());
    EXPECT_EQ(d->SocketHandle(), -1);
    EXPECT_TRUE(proxy.waitFinished(0));
    EXPECT_EQ(proxy.received(0).size(), 9u);  // no HTTP request followed
}

TEST_F(ProxyDownload, Socks5WithoutAuthentication) {
    ScriptedServer proxy(
        tunnelThen(Script().readBytes(3).send("\x05\x00"s).readBytes(10).send(kSocks5IpReply)));
    Download d;
    through(d, proxy, 3);
    d->FetchURLString("http://127.0.0.1/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(proxy.received(0),
              "\x05\x01\x00"
              "\x05\x01\x00\x01\x7F\x00\x00\x01\x00\x50"s +
                  plainRequest("http://127.0.0.1/x", "127.0.0.1"));
    EXPECT_EQ(d->GetBufferAsString(), "through");
}

TEST_F(ProxyDownload, Socks5WithRemoteNameResolution) {
    ScriptedServer proxy(
        tunnelThen(Script().readBytes(3).send("\x05\x00"s).readBytes(18).send(kSocks5IpReply)));
    Download d;
    through(d, proxy, 3);
    d->setProxyUseRemoteDNS(true);
    d->FetchURLString("http://example.org/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(proxy.received(0).substr(0, 21),
              "\x05\x01\x00"
              "\x05\x01\x00\x03\x0B"
              "example.org\x00\x50"s);
    EXPECT_EQ(d->GetBufferAsString(), "through");
}

TEST_F(ProxyDownload, Socks5WithUserAndPassword) {
    ScriptedServer proxy(tunnelThen(Script()
                                        .readBytes(4)
                                        .send("\x05\x02"s)
                                        .readBytes(11)
                                        .send("\x01\x00"s)
                                        .readBytes(10)
                                        .send(kSocks5IpReply)));
    Download d;
    through(d, proxy, 3);
    d->setProxyAuthentication(2);
    d->setProxyUsername("user");
    d->setProxyPassword("pass");
    d->FetchURLString("http://127.0.0.1/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(proxy.received(0).substr(0, 25),
              "\x05\x02\x02\x00"
              "\x01\x04user\x04pass"
              "\x05\x01\x00\x01\x7F\x00\x00\x01\x00\x50"s);
    EXPECT_EQ(d->GetBufferAsString(), "through");
    EXPECT_EQ(d->ProxyAuthentication(), 2);
}

TEST_F(ProxyDownload, Socks5ProxyChoosingNoAuthenticationIsRemembered) {
    const Script script =
        tunnelThen(Script().readBytes(4).send("\x05\x00"s).readBytes(10).send(kSocks5IpReply));
    ScriptedServer proxy(
        {script,
         tunnelThen(Script().readBytes(3).send("\x05\x00"s).readBytes(10).send(kSocks5IpReply))});
    Download d;
    through(d, proxy, 3);
    d->setProxyAuthentication(2);
    d->setProxyUsername("user");
    d->FetchURLString("http://127.0.0.1/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d->ProxyAuthentication(), 0);
    EXPECT_EQ(proxy.received(0).substr(0, 14),
              "\x05\x02\x02\x00"
              "\x05\x01\x00\x01\x7F\x00\x00\x01\x00\x50"s);
    d.recorder.finalEvents = 0;
    d->FetchURLString("http://127.0.0.1/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(proxy.received(1).substr(0, 3), "\x05\x01\x00"s);
}

struct Refusal {
    const char* name;
    std::int32_t authentication;
    Script script;
    std::size_t sentBytes;
    std::int32_t why;
};

TEST_F(ProxyDownload, Socks5RefusalsCloseTheSocket) {
    const std::vector<Refusal> cases = {
        {"no acceptable method", 0, Script().readBytes(3).send("\x05\xFF"s), 3, 9},
        {"method not offered", 0, Script().readBytes(3).send("\x05\x01"s), 3, 9},
        {"credentials refused", 2,
         Script().readBytes(4).send("\x05\x02"s).readBytes(5).send("\x01\x01"s), 9, 10},
        {"connection refused", 0,
         Script()
             .readBytes(3)
             .send("\x05\x00"s)
             .readBytes(10)
             .send("\x05\x05\x00\x01\x00\x00\x00\x00\x00\x00"s),
         13, 8},
    };
    for (const auto& c : cases) {
        Script script = c.script;
        ScriptedServer proxy(script.readUntilClosed());
        Download d;
        through(d, proxy, 3);
        d->setProxyAuthentication(c.authentication);
        d->setProxyUsername("u");
        d->setProxyPassword("p");
        d->FetchURLString("http://127.0.0.1/x");
        ASSERT_TRUE(d.runToEnd()) << c.name;
        EXPECT_EQ(d.recorder.lines,
                  (std::vector<std::string>{"Connected 0",
                                            "DownloadFailed " + std::to_string(c.why) + " 0"}))
            << c.name;
        EXPECT_FALSE(d->IsConnected()) << c.name;
        EXPECT_EQ(d->SocketHandle(), -1) << c.name;
        EXPECT_TRUE(proxy.waitFinished(0)) << c.name;
        EXPECT_EQ(proxy.received(0).size(), c.sentBytes) << c.name;
        EXPECT_TRUE(proxy.errors().empty()) << c.name;
    }
}

TEST_F(ProxyDownload, RepliesSplitAcrossReceivesAreCollected) {
    // Every reply arrives one byte per receive; the connect reply carries a domain name.
    ScriptedServer proxy(tunnelThen(Script()
                                        .readBytes(4)
                                        .send("\x05"s)
                                        .send("\x02"s)
                                        .readBytes(5)
                                        .send("\x01\x00"s)
                                        .readBytes(10)
                                        .send("\x05\x00\x00\x03\x09localhost\x00\x50"s)));
    Download d;
    through(d, proxy, 3);
    d->setPacketSize(1);
    d->setProxyAuthentication(2);
    d->setProxyUsername("u");
    d->setProxyPassword("p");
    d->FetchURLString("http://127.0.0.1/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d->GetBufferAsString(), "through");
    EXPECT_TRUE(proxy.errors().empty());
}

TEST_F(ProxyDownload, Socks4ReplySplitAcrossReceivesIsCollected) {
    ScriptedServer proxy(
        tunnelThen(Script().readBytes(9).send("\x00\x5A\x00"s).send("\x00\x00\x00\x00\x00"s)));
    Download d;
    through(d, proxy, 2);
    d->setPacketSize(1);
    d->FetchURLString("http://127.0.0.1:8080/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d->GetBufferAsString(), "through");
}

TEST_F(ProxyDownload, ProxyHangingUpDuringTheExchangeIsAProxyFailure) {
    ScriptedServer proxy(Script().readBytes(3).close());
    Download d;
    through(d, proxy, 3);
    d->FetchURLString("http://127.0.0.1/x");
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines, (std::vector<std::string>{"Connected 0", "DownloadFailed 7 0"}));
    EXPECT_FALSE(d->IsConnected());
}

TEST_F(ProxyDownload, SocksMessageThatCannotBeSentIsAProxyFailure) {
    ScriptedServer proxy(Script().readUntilClosed());
    Download d;
    through(d, proxy, 3);
    d->FetchURLString("http://127.0.0.1/x");
    ::shutdown(d->SocketHandle(), SHUT_WR);
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d.recorder.lines, (std::vector<std::string>{"Connected 0", "DownloadFailed 7 0"}));
    EXPECT_EQ(d->SocketHandle(), -1);
}

TEST_F(ProxyDownload, UnreachableProxyFailsWith7) {
    Download d;
    d->setDownloadType(1);
    d->setProxyType(2);
    d->setProxyHostname("127.0.0.1");
    d->setProxyPort(1);
    d->FetchURLString("http://example.org/x");
    EXPECT_EQ(d.recorder.lines, (std::vector<std::string>{"DownloadFailed 7 0"}));
}

}  // namespace
}  // namespace upd::net::test
