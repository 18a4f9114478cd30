// The reactor's Winsock rules on real loopback TCP sockets: one write after the watch and
// another only after a send would block; a read while data waits, re-armed by a receive;
// one close, after the data or behind an outstanding read, with the error in the high
// half; unwatch drops what is queued; timers; and the descriptor a GUI loop watches.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "net/reactor.h"
#include "net/socket_layer.h"
#include "tests/support/loopback.h"
#include "tests/support/reactor_pump.h"

namespace upd::net {
namespace {

using upd::test::pumpUntil;
using upd::test::TcpPair;

struct Log {
    std::vector<std::uint32_t> events;  // lParam values
    Reactor::Sink sink() {
        return [this](int, std::uint32_t lParam) { events.push_back(lParam); };
    }
};

bool waitReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 5000) == 1;
}

TEST(Reactor, OneWriteAfterTheWatchWakingTheDescriptor) {
    Reactor r;
    TcpPair p;
    Log log;
    ASSERT_TRUE(r.watch(p.client, log.sink()));
    // What a QSocketNotifier on descriptor() does: wait for it, then processReady().
    pollfd ready{r.descriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 5000), 1);
    r.processReady();
    send(p.client, "abc", 3, 0);  // a send that does not block re-arms nothing
    for (int i = 0; i < 3; ++i) {
        r.processReady();
    }
    EXPECT_EQ(log.events, (std::vector<std::uint32_t>{kFdWrite}));
}

TEST(Reactor, WriteComesAgainOnlyAfterASendWouldBlock) {
    Reactor r;
    TcpPair p;
    Log log;
    ASSERT_TRUE(r.watch(p.client, log.sink()));
    ASSERT_TRUE(pumpUntil(r, [&] { return log.events.size() == 1; }));
    const std::string chunk(65536, 'x');
    std::size_t sent = 0;
    for (;;) {
        const SendResult s = trySend(p.client, chunk, r);
        sent += static_cast<std::size_t>(s.sent);
        ASSERT_FALSE(s.failed);
        if (s.wouldBlock) {
            break;
        }
    }
    r.processReady();
    EXPECT_EQ(log.events.size(), 1u);  // still full
    std::size_t drained = 0;
    char buffer[65536];
    while (drained < sent && waitReadable(p.server)) {
        drained += static_cast<std::size_t>(recv(p.server, buffer, sizeof buffer, 0));
    }
    ASSERT_EQ(drained, sent);
    ASSERT_TRUE(pumpUntil(r, [&] { return log.events.size() == 2; }));
    EXPECT_EQ(log.events, (std::vector<std::uint32_t>{kFdWrite, kFdWrite}));
}

TEST(Reactor, ReadWhileDataWaitsReArmedByEachReceive) {
    Reactor r;
    TcpPair p;
    Log log;
    ASSERT_TRUE(r.watch(p.client, log.sink()));
    ASSERT_TRUE(pumpUntil(r, [&] { return log.events.size() == 1; }));
    send(p.server, std::string(100, 'd').data(), 100, 0);
    ASSERT_TRUE(pumpUntil(r, [&] { return log.events.size() == 2; }));
    for (int i = 0; i < 3; ++i) {
        r.processReady();  // no receive yet: no second read
    }
    EXPECT_EQ(log.events, (std::vector<std::uint32_t>{kFdWrite, kFdRead}));
    std::uint8_t buffer[100];
    ASSERT_EQ(receiveData(p.client, buffer, 10, r), 10);
    ASSERT_TRUE(pumpUntil(r, [&] { return log.events.size() == 3; }));  // 90 still waiting
    EXPECT_EQ(log.events.back(), kFdRead);
    ASSERT_EQ(receiveData(p.client, buffer, 100, r), 90);
    r.processReady();
    EXPECT_EQ(log.events.size(), 3u);
}

TEST(Reactor, CloseComesOnceBehindTheOutstandingRead) {
    Reactor r;
    TcpPair p;
    Log log;
    ASSERT_TRUE(r.watch(p.client, log.sink()));
    ASSERT_TRUE(pumpUntil(r, [&] { return log.events.size() == 1; }));
    send(p.server, "0123456789", 10, 0);
    close(p.server);
    p.server = -1;
    ASSERT_TRUE(pumpUntil(r, [&] { return log.events.size() == 3; }));
    std::uint8_t buffer[16];
    EXPECT_EQ(receiveData(p.client, buffer, sizeof buffer, r), 10);
    for (int i = 0; i < 3; ++i) {
        r.processReady();
    }
    EXPECT_EQ(log.events, (std::vector<std::uint32_t>{kFdWrite, kFdRead, kFdClose}));
}

TEST(Reactor, DataLeftAtTheCloseCanStillBeReceived) {
    Reactor r;
    TcpPair p;
    Log log;
    std::string received;
    ASSERT_TRUE(r.watch(p.client, [&](int s, std::uint32_t lParam) {
        log.events.push_back(lParam);
        std::uint8_t buffer[4];  // a small receive: the rest waits
        const auto n = receiveData(s, buffer, sizeof buffer, r);
        if (n > 0) {
            received.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
        }
    }));
    ASSERT_TRUE(pumpUntil(r, [&] { return log.events.size() == 1; }));
    send(p.server, "0123456789", 10, 0);
    shutdown(p.server, SHUT_WR);
    ASSERT_TRUE(pumpUntil(r, [&] { return !log.events.empty() && log.events.back() == kFdClose; }));
    // The close handler's own receives drain what is left.
    std::uint8_t rest[16];
    const auto n = receiveData(p.client, rest, sizeof rest, r);
    ASSERT_GE(n, 0);
    received.append(reinterpret_cast<char*>(rest), static_cast<std::size_t>(n));
    EXPECT_EQ(received, "0123456789");
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), kFdClose), 1);
    r.processReady();
    EXPECT_EQ(log.events.back(), kFdClose);
}

TEST(Reactor, ResetIsACloseWithTheErrorInTheHighHalf) {
    Reactor r;
    TcpPair p;
    Log log;
    ASSERT_TRUE(r.watch(p.client, log.sink()));
    ASSERT_TRUE(pumpUntil(r, [&] { return log.events.size() == 1; }));
    const linger hard{1, 0};
    setsockopt(p.server, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(p.server);
    p.server = -1;
    ASSERT_TRUE(pumpUntil(r, [&] { return log.events.size() == 2; }));
    r.processReady();  // and nothing else: no read for a connection without data
    EXPECT_EQ(log.events,
              (std::vector<std::uint32_t>{kFdWrite, kFdClose | std::uint32_t{ECONNRESET} << 16}));
}

TEST(Reactor, UnwatchDropsNotificationsAlreadyQueued) {
    Reactor r;
    TcpPair a;
    TcpPair b;
    int delivered = 0;
    bool reading = false;
    auto sink = [&](int s, std::uint32_t) {
        if (!reading) {
            return;
        }
        ++delivered;
        r.unwatch(s == a.client ? b.client : a.client);
    };
    ASSERT_TRUE(r.watch(a.client, sink));
    ASSERT_TRUE(r.watch(b.client, sink));
    r.processReady();  // both first writes, ignored
    r.processReady();
    send(a.server, "x", 1, 0);
    send(b.server, "y", 1, 0);
    ASSERT_TRUE(waitReadable(a.client) && waitReadable(b.client));
    reading = true;
    r.processReady();  // both reads queued in one pass; the first drops the second
    EXPECT_EQ(delivered, 1);
}

TEST(Reactor, ASinkMayRunTheReactorAgain) {
    Reactor r;
    TcpPair p;
    int calls = 0;
    ASSERT_TRUE(r.watch(p.client, [&](int, std::uint32_t) {
        ++calls;
        r.processReady();
    }));
    ASSERT_TRUE(pumpUntil(r, [&] { return calls == 1; }));
    r.processReady();
    EXPECT_EQ(calls, 1);
}

TEST(Reactor, WatchRefusesBadAndDuplicateSockets) {
    Reactor r;
    TcpPair p;
    EXPECT_FALSE(r.watch(-1, {}));
    EXPECT_TRUE(r.watch(p.client, {}));
    EXPECT_FALSE(r.watch(p.client, {}));
    r.unwatch(p.client);
    EXPECT_FALSE(r.isWatched(p.client));
}

TEST(ReactorTimers, FireRepeatedlyUntilKilled) {
    Reactor r;
    int fired = 0;
    Reactor::TimerId seen = 0;
    const Reactor::TimerId id = r.setTimer(5, [&](Reactor::TimerId t) {
        seen = t;
        if (++fired == 3) {
            r.killTimer(t);  // from inside its own callback
        }
    });
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(pumpUntil(r, [&] { return fired == 3; }));
    EXPECT_EQ(seen, id);
    EXPECT_EQ(r.timerCount(), 0u);
    EXPECT_FALSE(r.killTimer(id));
}

TEST(ReactorTimers, NextTimeoutFollowsTheEarliestTimer) {
    Reactor r;
    EXPECT_FALSE(r.nextTimeoutMs().has_value());
    const auto slow = r.setTimer(60'000, {});
    const auto fast = r.setTimer(1'000, {});
    ASSERT_TRUE(r.nextTimeoutMs().has_value());
    EXPECT_LE(*r.nextTimeoutMs(), 1'000);
    EXPECT_GT(*r.nextTimeoutMs(), 500);
    r.killTimer(fast);
    EXPECT_GT(*r.nextTimeoutMs(), 50'000);
    r.killTimer(slow);
    EXPECT_FALSE(r.nextTimeoutMs().has_value());
}

TEST(ReactorTimers, TheDescriptorWakesAGuiLoopWhenATimerIsDue) {
    Reactor r;
    int changes = 0;
    r.setScheduleChangedHook([&] { ++changes; });
    int fired = 0;
    const auto id = r.setTimer(20, [&](Reactor::TimerId) { ++fired; });
    EXPECT_EQ(changes, 1);
    pollfd p{r.descriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    r.processReady();
    EXPECT_EQ(fired, 1);
    r.killTimer(id);
    EXPECT_EQ(changes, 2);
}

}  // namespace
}  // namespace upd::net
