// The CONNECT exchange without sockets: the request on the wire, the trace of its states,
// and one row per proxy reply, fed whole and one byte at a time.
#include <gtest/gtest.h>

#include <ostream>

#include "net/connect_tunnel.h"

namespace upd::net {
namespace {

using namespace std::string_literals;
using State = ConnectTunnel::State;

TEST(ConnectTunnel, RequestCarriesTheAuthorityAndTheProxyCredentials) {
    ConnectTunnel t({"[::1]", 8443, "Agent/1", "Basic dTpw"});
    std::vector<std::string> trace;
    t.setTrace([&](std::string_view line) { trace.emplace_back(line); });
    EXPECT_EQ(t.onWritable(),
              "CONNECT [::1]:8443 HTTP/1.1\r\nHost: [::1]:8443\r\nUser-Agent: Agent/1\r\n"
              "Proxy-Authorization: Basic dTpw\r\n\r\n");
    EXPECT_EQ(t.onWritable(), "");  // sent once
    EXPECT_EQ(t.onReceived("HTTP/1.1 200 OK\r\n\r\n"), State::Established);
    EXPECT_EQ(t.onReceived("more"), State::Established);
    EXPECT_EQ(trace, (std::vector<std::string>{"connect: SendRequest => AwaitReply",
                                               "connect: AwaitReply => Established"}));
}

struct ReplyRow {
    const char* name;
    std::string reply;
    State state;
    std::string refusal = {};
};

void PrintTo(const ReplyRow& row, std::ostream* os) {
    *os << row.name;
}

const std::string kAnswered = "the proxy answered CONNECT with ";
const std::string kNotHttp = "the proxy's reply to CONNECT is not HTTP: ";

std::vector<ReplyRow> replyRows() {
    return {
        {"InterimReplyFirst", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 204 No Content\r\n\r\n",
         State::Established},
        {"CaptivePortalRedirect", "HTTP/1.1 302 Found\r\nLocation: http://portal/\r\n\r\nbody",
         State::Refused, kAnswered + "\"HTTP/1.1 302 Found\""},
        {"StatusBelow100", "HTTP/1.1 099 Odd\r\n\r\n", State::Refused,
         kAnswered + "\"HTTP/1.1 099 Odd\""},
        {"ControlBytesAreNotQuoted", "HTTP/1.1 403 \x01\xFF\r\n\r\n"s, State::Refused,
         kAnswered + "\"HTTP/1.1 403 ??\""},
        {"NotHttpAtAll", "SSH-2.0-OpenSSH_9.2\r\n\r\n", State::Refused,
         kNotHttp + "\"SSH-2.0-OpenSSH_9.2\""},
        {"StatusThatIsNoNumber", "HTTP/1.1 2x0 OK\r\n\r\n", State::Refused,
         kNotHttp + "\"HTTP/1.1 2x0 OK\""},
        {"StatusOfFourDigits", "HTTP/1.1 2000 OK\r\n\r\n", State::Refused,
         kNotHttp + "\"HTTP/1.1 2000 OK\""},
        {"HeaderWithoutEnd", "HTTP/1.1 200 OK\r\nX: " + std::string(70'000, 'a'), State::Refused,
         "the proxy's reply to CONNECT has a header longer than 64 KiB"},
    };
}

class ConnectTunnelReply : public ::testing::TestWithParam<ReplyRow> {};

TEST_P(ConnectTunnelReply, WholeAndByteByByte) {
    const ReplyRow& row = GetParam();
    ConnectTunnel whole({"h", 443, "A", ""});
    whole.onWritable();
    EXPECT_EQ(whole.onReceived(row.reply), row.state);
    EXPECT_EQ(whole.refusal(), row.refusal);
    EXPECT_EQ(whole.takeTunnelBytes(), "");

    ConnectTunnel split({"h", 443, "A", ""});
    split.onWritable();
    for (const char c : row.reply) {
        split.onReceived(std::string_view(&c, 1));
    }
    EXPECT_EQ(split.state(), row.state);
    EXPECT_EQ(split.refusal(), row.refusal);
}

INSTANTIATE_TEST_SUITE_P(Rows, ConnectTunnelReply, ::testing::ValuesIn(replyRows()),
                         [](const auto& each) { return std::string(each.param.name); });

}  // namespace
}  // namespace upd::net
