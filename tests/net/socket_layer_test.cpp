// The socket layer: name lookup, the bounded connect, linger, and sending text in the system
// code page.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "net/socket_layer.h"
#include "platform/monotonic_clock.h"
#include "tests/support/env_guard.h"
#include "tests/support/loopback.h"

namespace upd::net {
namespace {

using platform::monotonicMs;
using upd::test::LoopbackListener;

int lowestFreeDescriptor() {
    const int fd = dup(0);
    close(fd);
    return fd;
}

TEST(SocketLayer, ResolvesDottedAddressesAndNames) {
    EXPECT_EQ(ResolveHost("127.0.0.1"), static_cast<std::int32_t>(htonl(0x7F000001)));
    EXPECT_EQ(ResolveHost("localhost"), static_cast<std::int32_t>(htonl(0x7F000001)));
    EXPECT_EQ(ResolveHost("255.255.255.255"), -1);
    EXPECT_EQ(ResolveHost(""), -1);
    EXPECT_EQ(ResolveHost(std::string("127.0.0.1\0evil", 14)), -1);
}

TEST(SocketLayer, ConnectsSetsLingerAndHandsTheSocketToTheReactor) {
    Reactor reactor;
    LoopbackListener listener(4);
    // The port's low 16 bits count.
    const int s = ConnectToHost("127.0.0.1", listener.port() + 65536, reactor, {});
    ASSERT_GE(s, 0);
    EXPECT_TRUE(reactor.isWatched(s));
    linger value{};
    socklen_t len = sizeof value;
    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_LINGER, &value, &len), 0);
    EXPECT_EQ(value.l_onoff, 1);
    EXPECT_EQ(value.l_linger, 0);
    closeSocket(s, reactor);
    EXPECT_FALSE(reactor.isWatched(s));
}

TEST(SocketLayer, RefusedConnectFailsAndLeavesNothingOpen) {
    Reactor reactor;
    const int port = LoopbackListener(1).port();
    const int before = lowestFreeDescriptor();
    EXPECT_EQ(ConnectToHost("127.0.0.1", port, reactor, {}), -1);
    EXPECT_EQ(ConnectToHost("255.255.255.255", 80, reactor, {}), -1);
    EXPECT_EQ(lowestFreeDescriptor(), before);
}

TEST(SocketLayer, ConnectToAPeerThatNeverAnswersGivesUpAtTheBound) {
    Reactor reactor;
    // A listener whose queue is full drops further connection attempts silently.
    LoopbackListener listener(0);
    const int filler = listener.connectClient();
    setConnectTimeoutMs(300);
    const std::int64_t start = monotonicMs();
    EXPECT_EQ(ConnectToHost("127.0.0.1", listener.port(), reactor, {}), -1);
    const std::int64_t elapsed = monotonicMs() - start;
    setConnectTimeoutMs(15'000);
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 5000);
    close(filler);
}

TEST(SocketLayer, SendDataSendsTheTextInTheSystemCodePage) {
    upd::test::LocaleGuard chinese("zh_CN.UTF-8");
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    EXPECT_EQ(SendData(pair[0], std::string_view("")), 0);
    EXPECT_EQ(SendData(pair[0], std::string_view("\xE7\x94\xA8\xE6\x88\xB7")), 4);  // 用户
    const std::uint8_t raw[] = {0xFF, 0x00, 0x41};
    EXPECT_EQ(SendData(pair[0], std::span<const std::uint8_t>(raw)), 3);
    char buffer[16];
    ASSERT_EQ(recv(pair[1], buffer, sizeof buffer, 0), 7);
    EXPECT_EQ(std::string(buffer, 7), std::string("\xD3\xC3\xBB\xA7\xFF\x00\x41", 7));
    shutdown(pair[0], SHUT_WR);
    EXPECT_EQ(SendData(pair[0], std::string_view("x")), -1);
    close(pair[0]);
    close(pair[1]);
}

TEST(SocketLayer, SetLingerFailsOnSomethingThatIsNoSocket) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    EXPECT_EQ(SetLinger(pipeEnds[0], 1, 0), -1);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

}  // namespace
}  // namespace upd::net
