// The SOCKS state machines without sockets: the messages byte for byte, replies fed one
// byte at a time, every refusal, and the sequence of states.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "net/socks4_handshake.h"
#include "net/socks5_handshake.h"

namespace upd::net {
namespace {

using namespace std::string_literals;

std::int32_t address(const char* dotted) {
    return static_cast<std::int32_t>(inet_addr(dotted));
}

TEST(Socks4, RequestWithAnAddressAndNoUser) {
    Socks4Handshake::Params p;
    p.port = 80;
    p.address = address("10.0.0.2");
    EXPECT_EQ(Socks4Handshake::buildRequest(p), "\x04\x01\x00\x50\x0A\x00\x00\x02\x00"s);
}

TEST(Socks4, RequestInThe4aFormCarriesTheName) {
    Socks4Handshake::Params p;
    p.port = 8080;
    p.remoteDns = true;
    p.userId = "u";
    p.host = "example.org";
    const std::string request = Socks4Handshake::buildRequest(p);
    EXPECT_EQ(request,
              "\x04\x01\x1F\x90\x00\x00\x00\x01u\x00"
              "example.org\x00"s);
    EXPECT_EQ(request.size(), 22u);
}

TEST(Socks4, FailedLookupSendsAllOnes) {
    Socks4Handshake::Params p;
    p.port = 80;
    p.address = -1;
    EXPECT_EQ(Socks4Handshake::buildRequest(p).substr(4, 4), "\xFF\xFF\xFF\xFF"s);
}

TEST(Socks4, GrantIsCollectedByteByByte) {
    Socks4Handshake h({});
    std::vector<std::string> trace;
    h.setTrace([&](std::string_view t) { trace.emplace_back(t); });
    EXPECT_FALSE(h.onWritable().empty());
    EXPECT_TRUE(h.onWritable().empty());  // sent once
    const std::string reply = "\x00\x5A\x12\x34\x01\x02\x03\x04"s;
    for (std::size_t i = 0; i + 1 < reply.size(); ++i) {
        EXPECT_EQ(h.onReceived(reply.substr(i, 1)), Socks4Handshake::State::AwaitReply) << i;
    }
    EXPECT_EQ(h.onReceived(reply.substr(7)), Socks4Handshake::State::Granted);
    EXPECT_EQ(trace, (std::vector<std::string>{"socks4: SendRequest => AwaitReply",
                                               "socks4: AwaitReply => Granted"}));
}

TEST(Socks4, RefusalIsKnownFromItsSecondByte) {
    for (const std::uint8_t code : {91, 92, 93, 0, 255}) {
        Socks4Handshake h({});
        h.onWritable();
        EXPECT_EQ(h.onReceived("\x00"s), Socks4Handshake::State::AwaitReply);
        EXPECT_EQ(h.onReceived(std::string(1, static_cast<char>(code))),
                  Socks4Handshake::State::Rejected)
            << int(code);
    }
}

TEST(Socks5, Greetings) {
    EXPECT_EQ(Socks5Handshake::buildGreeting(0), "\x05\x01\x00"s);
    EXPECT_EQ(Socks5Handshake::buildGreeting(2), "\x05\x02\x02\x00"s);
}

TEST(Socks5, UserPasswordMessage) {
    EXPECT_EQ(Socks5Handshake::buildUserPassword("user", "pw"), "\x01\x04user\x02pw"s);
    EXPECT_EQ(Socks5Handshake::buildUserPassword("", ""), "\x01\x00\x00"s);
    EXPECT_FALSE(Socks5Handshake::buildUserPassword(std::string(256, 'u'), "p").has_value());
    EXPECT_TRUE(Socks5Handshake::buildUserPassword(std::string(255, 'u'), "p").has_value());
}

TEST(Socks5, ConnectRequests) {
    Socks5Handshake::Params p;
    p.address = address("10.0.0.2");
    p.port = 8080;
    EXPECT_EQ(Socks5Handshake::buildConnect(p), "\x05\x01\x00\x01\x0A\x00\x00\x02\x1F\x90"s);
    p.remoteDns = true;
    p.host = "example.org";
    p.port = 80;
    EXPECT_EQ(Socks5Handshake::buildConnect(p),
              "\x05\x01\x00\x03\x0B"
              "example.org\x00\x50"s);
    p.host = std::string(256, 'h');
    EXPECT_FALSE(Socks5Handshake::buildConnect(p).has_value());
}

// Feeds `reply` one byte at a time; the state after each byte but the last must stay
// `waiting`.
Socks5Handshake::State feedByBytes(Socks5Handshake& h, const std::string& reply,
                                   Socks5Handshake::State waiting) {
    for (std::size_t i = 0; i + 1 < reply.size(); ++i) {
        EXPECT_EQ(h.onReceived(reply.substr(i, 1)), waiting) << "byte " << i;
    }
    return h.onReceived(reply.substr(reply.size() - 1));
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
    using S = Socks5Handshake::State;

    EXPECT_EQ(h.onWritable(), "\x05\x02\x02\x00"s);
    EXPECT_EQ(feedByBytes(h, "\x05\x02"s, S::AwaitMethod), S::SendAuth);
    EXPECT_EQ(h.chosenMethod(), 2);
    EXPECT_EQ(h.onWritable(), "\x01\x01u\x01p"s);
    EXPECT_EQ(feedByBytes(h, "\x01\x00"s, S::AwaitAuth), S::SendConnect);
    EXPECT_EQ(h.onWritable(),
              "\x05\x01\x00\x03\x0B"
              "example.org\x00\x50"s);
    EXPECT_EQ(feedByBytes(h, "\x05\x00\x00\x03\x04name\x1F\x90"s, S::AwaitConnect), S::Done);
    EXPECT_EQ(h.repliesHandled(), 3);
    EXPECT_TRUE(h.onWritable().empty());
    EXPECT_EQ(trace, (std::vector<std::string>{
                         "socks5: SendGreeting => AwaitMethod", "socks5: AwaitMethod => SendAuth",
                         "socks5: SendAuth => AwaitAuth", "socks5: AwaitAuth => SendConnect",
                         "socks5: SendConnect => AwaitConnect", "socks5: AwaitConnect => Done"}));
}

TEST(Socks5, ConnectRepliesOfEveryAddressTypeAreCollectedWhole) {
    using S = Socks5Handshake::State;
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
        EXPECT_EQ(feedByBytes(h, reply, S::AwaitConnect), S::Done) << reply.size();
    }
}

TEST(Socks5, ProxyChoosingNoAuthenticationSkipsTheCredentials) {
    Socks5Handshake::Params p;
    p.offeredMethod = 2;
    Socks5Handshake h(p);
    h.onWritable();
    EXPECT_EQ(h.onReceived("\x05\x00"s), Socks5Handshake::State::SendConnect);
    EXPECT_EQ(h.chosenMethod(), 0);
}

TEST(Socks5, TheVersionByteIsNotExamined) {
    Socks5Handshake h({});
    h.onWritable();
    EXPECT_EQ(h.onReceived("\x04\x00"s), Socks5Handshake::State::SendConnect);
}

TEST(Socks5, Refusals) {
    struct Case {
        const char* name;
        std::uint8_t offered;
        std::vector<std::string> replies;
        std::int32_t code;
    };
    const std::vector<Case> cases = {
        {"no acceptable method", 0, {"\x05\xFF"s}, 9},
        {"a method nobody speaks", 0, {"\x05\x01"s}, 9},
        {"credentials refused", 2, {"\x05\x02"s, "\x01\x01"s}, 10},
        {"connection refused", 0, {"\x05\x00"s, "\x05\x02\x00\x01"s}, 8},
    };
    for (const auto& c : cases) {
        Socks5Handshake::Params p;
        p.offeredMethod = c.offered;
        Socks5Handshake h(p);
        for (const auto& reply : c.replies) {
            h.onWritable();
            h.onReceived(reply);
        }
        EXPECT_EQ(h.state(), Socks5Handshake::State::Failed) << c.name;
        EXPECT_EQ(h.failureCode(), c.code) << c.name;
        EXPECT_TRUE(h.onWritable().empty()) << c.name;
    }
}

TEST(Socks5, CredentialsTooLongForTheirLengthByteFailWithoutSending) {
    Socks5Handshake::Params p;
    p.offeredMethod = 2;
    p.user = std::string(300, 'u');
    Socks5Handshake h(p);
    h.onWritable();
    h.onReceived("\x05\x02"s);
    EXPECT_TRUE(h.onWritable().empty());
    EXPECT_EQ(h.state(), Socks5Handshake::State::Failed);
    EXPECT_EQ(h.failureCode(), 10);
}

}  // namespace
}  // namespace upd::net
