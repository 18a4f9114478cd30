// The SOCKS state machines without sockets, for what the engine's wire tests leave out:
// the length limits, replies of every address type fed one byte at a time, refusal codes,
// and the trace of the states.
#include <gtest/gtest.h>

#include "net/socks4_handshake.h"
#include "net/socks5_handshake.h"

namespace upd::net {
namespace {

using namespace std::string_literals;
using S4 = Socks4Handshake::State;
using S5 = Socks5Handshake::State;

// Feeds `reply` one byte at a time; the state after each byte but the last must stay
// `waiting`.
template <typename Handshake>
typename Handshake::State feedByBytes(Handshake& h, const std::string& reply,
                                      typename Handshake::State waiting) {
    for (std::size_t i = 0; i + 1 < reply.size(); ++i) {
        EXPECT_EQ(h.onReceived(reply.substr(i, 1)), waiting) << "byte " << i;
    }
    return h.onReceived(reply.substr(reply.size() - 1));
}

TEST(Socks4, GrantIsCollectedByteByByte) {
    Socks4Handshake h({});
    std::vector<std::string> trace;
    h.setTrace([&](std::string_view t) { trace.emplace_back(t); });
    EXPECT_FALSE(h.onWritable().empty());
    EXPECT_TRUE(h.onWritable().empty());  // sent once
    EXPECT_EQ(feedByBytes(h, "\x00\x5A\x12\x34\x01\x02\x03\x04"s, S4::AwaitReply), S4::Granted);
    EXPECT_EQ(trace, (std::vector<std::string>{"socks4: SendRequest => AwaitReply",
                                               "socks4: AwaitReply => Granted"}));
}

TEST(Socks4, RefusalIsKnownFromItsSecondByte) {
    for (const std::uint8_t code : {91, 92, 93, 0, 255}) {
        Socks4Handshake h({});
        h.onWritable();
        EXPECT_EQ(h.onReceived("\x00"s), S4::AwaitReply);
        EXPECT_EQ(h.onReceived(std::string(1, static_cast<char>(code))), S4::Rejected) << int(code);
    }
}

TEST(Socks5, FullExchangeWithUserAndPasswordByteByByte) {
    Socks5Handshake::Params p;
    p.offeredMethod = 2;
    p.user = "u";
    p.password = "p";
    p.remoteDns = true;
    p.host = "example.org";
    p.port = 80;
    Socks5Handshake h(p);
    std::vector<std::string> trace;
    h.setTrace([&](std::string_view t) { trace.emplace_back(t); });
    EXPECT_EQ(h.onWritable(), "\x05\x02\x02\x00"s);
    EXPECT_EQ(feedByBytes(h, "\x05\x02"s, S5::AwaitMethod), S5::SendAuth);
    EXPECT_EQ(h.chosenMethod(), 2);
    EXPECT_EQ(h.onWritable(), "\x01\x01u\x01p"s);
    EXPECT_EQ(feedByBytes(h, "\x01\x00"s, S5::AwaitAuth), S5::SendConnect);
    EXPECT_EQ(h.onWritable(),
              "\x05\x01\x00\x03\x0B"
              "example.org\x00\x50"s);
    EXPECT_EQ(feedByBytes(h, "\x05\x00\x00\x03\x04name\x1F\x90"s, S5::AwaitConnect), S5::Done);
    EXPECT_EQ(h.repliesHandled(), 3);
    EXPECT_TRUE(h.onWritable().empty());
    EXPECT_EQ(trace, (std::vector<std::string>{
                         "socks5: SendGreeting => AwaitMethod", "socks5: AwaitMethod => SendAuth",
                         "socks5: SendAuth => AwaitAuth", "socks5: AwaitAuth => SendConnect",
                         "socks5: SendConnect => AwaitConnect", "socks5: AwaitConnect => Done"}));
}

TEST(Socks5, ConnectRepliesOfEveryAddressTypeAreCollectedWhole) {
    const std::vector<std::string> replies = {
        "\x05\x00\x00\x01\x01\x02\x03\x04\x00\x50"s,
        "\x05\x00\x00\x04"s + std::string(16, '\x01') + "\x00\x50"s,
        "\x05\x00\x00\x03\x00\x00\x50"s,
    };
    for (const auto& reply : replies) {
        Socks5Handshake h({});
        h.onWritable();
        h.onReceived("\x05\x00"s);
        h.onWritable();
        EXPECT_EQ(feedByBytes(h, reply, S5::AwaitConnect), S5::Done) << reply.size();
    }
}

TEST(Socks5, TheVersionByteIsNotExamined) {
    Socks5Handshake h({});
    h.onWritable();
    EXPECT_EQ(h.onReceived("\x04\x00"s), S5::SendConnect);
}

TEST(Socks5, NamesAndCredentialsMustFitTheirLengthByte) {
    EXPECT_EQ(Socks5Handshake::buildUserPassword("", ""), "\x01\x00\x00"s);
    EXPECT_TRUE(Socks5Handshake::buildUserPassword(std::string(255, 'u'), "p").has_value());
    EXPECT_FALSE(Socks5Handshake::buildUserPassword(std::string(256, 'u'), "p").has_value());
    Socks5Handshake::Params connect;
    connect.remoteDns = true;
    connect.host = std::string(256, 'h');
    EXPECT_FALSE(Socks5Handshake::buildConnect(connect).has_value());
    connect.address6 = std::string(4, '\x7F');  // an IPv6 address has 16 bytes
    EXPECT_FALSE(Socks5Handshake::buildConnect(connect).has_value());

    // Credentials too long fail the exchange without sending them.
    Socks5Handshake::Params p;
    p.offeredMethod = 2;
    p.user = std::string(300, 'u');
    Socks5Handshake h(p);
    h.onWritable();
    h.onReceived("\x05\x02"s);
    EXPECT_TRUE(h.onWritable().empty());
    EXPECT_EQ(h.state(), S5::Failed);
    EXPECT_EQ(h.failureCode(), 10);
}

}  // namespace
}  // namespace upd::net
