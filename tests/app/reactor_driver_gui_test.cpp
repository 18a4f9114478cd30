// The download engine inside Qt's event loop: during a fast loopback transfer whose socket
// never runs dry, a zero-interval timer and a queued button click run long before the
// transfer ends.
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/reactor_driver.h"
#include "net/data_connection.h"
#include "net/reactor.h"
#include "platform/monotonic_clock.h"
#include "tests/support/loopback.h"

namespace upd::app {
namespace {

constexpr std::int64_t kTotal = std::int64_t{1} << 30;
constexpr int kPacket = 10000;

// Serves one GET with kTotal bytes in small sends, counting what the socket took.
struct Sender {
    const test::LoopbackListener listener;
    std::atomic<bool> done{false};
    std::thread thread{[this] { run(); }};

    ~Sender() { thread.join(); }
    void run() {
        const int fd = listener.accept();
        char request[4096];
        bool ok = fd >= 0 && recv(fd, request, sizeof request, 0) > 0;
        const std::string header =
            "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kTotal) + "\r\n\r\n";
        ok = ok && send(fd, header.data(), header.size(), MSG_NOSIGNAL) > 0;
        const std::vector<char> chunk(64 << 10, 'x');
        for (std::int64_t sent = 0; ok && sent < kTotal;) {
            const ssize_t n = send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            ok = n > 0;
            sent += ok ? n : 0;
        }
        done = true;
        if (fd >= 0) {
            close(fd);
        }
    }
};

TEST(ReactorDriver, AFastTransferLeavesTheEventLoopFree) {
    const ReactorDriver driver(net::mainReactor());
    ASSERT_TRUE(driver.attached());
    Sender sender;

    std::int64_t streamed = 0;
    bool ended = false;
    std::int64_t postedAt = -1;
    std::int64_t atTimer = -1;
    std::int64_t atClick = -1;
    QPushButton button;
    QObject::connect(&button, &QPushButton::clicked, [&] { atClick = streamed; });
    net::DataConnectionEvents events;
    net::DataConnection* connection = nullptr;
    // Each chunk returns only once the next packet waits in the socket, so the socket never
    // runs dry and only the engine's own limit can end a read notification.
    events.StreamBytes = [&](std::int64_t, std::span<const std::uint8_t> bytes, std::int32_t) {
        streamed += static_cast<std::int64_t>(bytes.size());
        const std::int64_t deadline = platform::monotonicMs() + 100;
        int waiting = 0;
        while (!sender.done && platform::monotonicMs() < deadline &&
               ioctl(connection->liveSocket(), FIONREAD, &waiting) == 0 && waiting < kPacket) {
            sched_yield();
        }
        // In full flow, from inside a read notification: a timer and a click of the user.
        if (postedAt < 0 && streamed >= (4 << 20)) {
            postedAt = streamed;
            QTimer::singleShot(0, [&] { atTimer = streamed; });
            QMetaObject::invokeMethod(&button, "click", Qt::QueuedConnection);
        }
    };
    events.Disconnected = [&](std::int32_t) { ended = true; };
    events.DownloadFailed = [&](std::int32_t, std::int32_t) { ended = true; };
    net::DataConnection download(events);
    connection = &download;
    download.setDownloadType(2);
    download.setPacketSize(kPacket);
    download.FetchURLString(sender.listener.url("/large"));

    EXPECT_TRUE(QTest::qWaitFor([&] { return (atTimer >= 0 && atClick >= 0) || ended; }, 30'000));
    EXPECT_FALSE(ended);
    EXPECT_LT(atTimer - postedAt, kTotal / 8);
    EXPECT_LT(atClick - postedAt, kTotal / 8);
    download.Disconnect();
}

}  // namespace
}  // namespace upd::app
