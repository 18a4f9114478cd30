// The reactor's Winsock rules on real loopback TCP sockets: one write after the watch and
// another only after a send would block; a read while data waits, re-armed by a receive;
// one close, after the data or behind an outstanding read, with the error in the high
// half; a deferred read; unwatch drops what is queued; timers; and the descriptor a GUI
// loop watches.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <utility>

#include "net/reactor.h"
#include "net/socket_layer.h"
#include "tests/support/loopback.h"
#include "tests/support/reactor_pump.h"

namespace upd::net {
namespace {

using upd::test::pumpUntil;
using upd::test::TcpPair;
using Events = std::vector<std::uint32_t>;

bool waitReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 5000) == 1;
}

// The client end of a loopback pair, watched; every notification's lParam lands in `events`
// and then `also` runs.
class ReactorSocket : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(r.watch(p.client, [this](int, std::uint32_t lParam) {
            events.push_back(lParam);
            if (also) {
                also();
            }
        }));
    }
    bool pumpTo(std::size_t n) {
        return pumpUntil(r, [&] { return events.size() >= n; });
    }
    void processReady(int times) {
        for (int i = 0; i < times; ++i) {
            r.processReady();
        }
    }
    Reactor r;
    TcpPair p;
    Events events;
    std::function<void()> also;
};

TEST_F(ReactorSocket, OneWriteAfterTheWatchWakingTheDescriptor) {
    // What a QSocketNotifier on descriptor() does: wait for it, then processReady().
    ASSERT_TRUE(waitReadable(r.descriptor()));
    r.processReady();
    send(p.client, "abc", 3, 0);  // a send that does not block re-arms nothing
    processReady(3);
    EXPECT_EQ(events, Events{kFdWrite});
}

TEST_F(ReactorSocket, WriteComesAgainOnlyAfterASendWouldBlock) {
    ASSERT_TRUE(pumpTo(1));
    const std::string chunk(65536, 'x');
    std::size_t sent = 0;
    for (SendResult s{}; !s.wouldBlock;) {
        s = trySend(p.client, chunk, r);
        ASSERT_FALSE(s.failed);
        sent += static_cast<std::size_t>(s.sent);
    }
    r.processReady();
    EXPECT_EQ(events.size(), 1u);  // still full
    std::size_t drained = 0;
    char buffer[65536];
    while (drained < sent && waitReadable(p.server)) {
        drained += static_cast<std::size_t>(recv(p.server, buffer, sizeof buffer, 0));
    }
    ASSERT_EQ(drained, sent);
    ASSERT_TRUE(pumpTo(2));
    EXPECT_EQ(events, (Events{kFdWrite, kFdWrite}));
}

TEST_F(ReactorSocket, ReadWhileDataWaitsReArmedByEachReceive) {
    ASSERT_TRUE(pumpTo(1));
    send(p.server, std::string(100, 'd').data(), 100, 0);
    ASSERT_TRUE(pumpTo(2));
    processReady(3);  // no receive yet: no second read
    EXPECT_EQ(events, (Events{kFdWrite, kFdRead}));
    std::uint8_t buffer[100];
    ASSERT_EQ(receiveData(p.client, buffer, 10, r), 10);
    ASSERT_TRUE(pumpTo(3));  // 90 still waiting
    EXPECT_EQ(events.back(), kFdRead);
    ASSERT_EQ(receiveData(p.client, buffer, 100, r), 90);
    r.processReady();
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(ReactorSocket, CloseComesOnceBehindTheOutstandingRead) {
    ASSERT_TRUE(pumpTo(1));
    send(p.server, "0123456789", 10, 0);
    close(std::exchange(p.server, -1));
    ASSERT_TRUE(pumpTo(3));
    std::uint8_t buffer[16];
    EXPECT_EQ(receiveData(p.client, buffer, sizeof buffer, r), 10);
    processReady(3);
    EXPECT_EQ(events, (Events{kFdWrite, kFdRead, kFdClose}));
}

TEST_F(ReactorSocket, ResetIsACloseWithTheErrorInTheHighHalf) {
    ASSERT_TRUE(pumpTo(1));
    const linger hard{1, 0};
    setsockopt(p.server, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(std::exchange(p.server, -1));
    ASSERT_TRUE(pumpTo(2));
    r.processReady();  // and nothing else: no read for a connection without data
    EXPECT_EQ(events, (Events{kFdWrite, kFdClose | std::uint32_t{ECONNRESET} << 16}));
}

// Bytes held above the socket (TLS): the read asked for comes at the next pass, so the loop
// (a window) gets its turn first; it counts as outstanding, and a close queues behind it.
TEST_F(ReactorSocket, DeferredReadComesAtTheNextPassAndHoldsTheClose) {
    ASSERT_TRUE(pumpTo(1));
    also = [&] {
        std::uint8_t buffer[4];
        EXPECT_EQ(receiveData(p.client, buffer, sizeof buffer, r), -1);  // the socket has none
        r.deferRead(p.client);  // from inside the dispatch: for the next pass
    };
    r.deferRead(p.client);
    r.deferRead(p.client);  // outstanding already: no second one
    EXPECT_EQ(r.nextTimeoutMs(), 0);
    r.processReady();
    EXPECT_EQ(events, (Events{kFdWrite, kFdRead}));
    EXPECT_EQ(r.nextTimeoutMs(), 0);
    also = nullptr;
    close(std::exchange(p.server, -1));
    ASSERT_TRUE(waitReadable(p.client));
    r.processReady();
    EXPECT_EQ(events, (Events{kFdWrite, kFdRead, kFdRead, kFdClose}));
}

TEST_F(ReactorSocket, UnwatchDropsADeferredRead) {
    ASSERT_TRUE(pumpTo(1));
    r.deferRead(p.client);
    r.unwatch(p.client);
    r.processReady();
    EXPECT_EQ(events, Events{kFdWrite});
    EXPECT_FALSE(r.nextTimeoutMs().has_value());
}

TEST_F(ReactorSocket, ASinkMayRunTheReactorAgain) {
    also = [&] { r.processReady(); };
    ASSERT_TRUE(pumpTo(1));
    r.processReady();
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(ReactorSocket, WatchRefusesBadAndDuplicateSockets) {
    EXPECT_FALSE(r.watch(-1, {}));
    EXPECT_FALSE(r.watch(p.client, {}));
}

TEST(Reactor, UnwatchDropsNotificationsAlreadyQueued) {
    Reactor r;
    TcpPair a;
    TcpPair b;
    int delivered = 0;
    bool reading = false;
    auto sink = [&](int s, std::uint32_t) {
        if (reading) {
            ++delivered;
            r.unwatch(s == a.client ? b.client : a.client);
        }
    };
    ASSERT_TRUE(r.watch(a.client, sink) && r.watch(b.client, sink));
    r.processReady();  // both first writes, ignored
    r.processReady();
    send(a.server, "x", 1, 0);
    send(b.server, "y", 1, 0);
    ASSERT_TRUE(waitReadable(a.client) && waitReadable(b.client));
    reading = true;
    r.processReady();  // both reads queued in one pass; the first drops the second
    EXPECT_EQ(delivered, 1);
}

TEST(ReactorTimers, NextTimeoutFollowsTheEarliestTimer) {
    Reactor r;
    EXPECT_FALSE(r.nextTimeoutMs().has_value());
    const auto slow = r.setTimer(60'000, {});
    const auto fast = r.setTimer(1'000, {});
    EXPECT_LE(r.nextTimeoutMs().value_or(0), 1'000);
    EXPECT_GT(r.nextTimeoutMs().value_or(0), 500);
    r.killTimer(fast);
    EXPECT_GT(r.nextTimeoutMs().value_or(0), 50'000);
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
    ASSERT_TRUE(waitReadable(r.descriptor()));
    r.processReady();
    EXPECT_EQ(fired, 1);
    r.killTimer(id);
    EXPECT_EQ(changes, 2);
}

}  // namespace
}  // namespace upd::net
