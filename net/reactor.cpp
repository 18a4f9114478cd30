#include "net/reactor.h"

#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>
#include <vector>
#include "platform/monotonic_clock.h"

namespace upd::net {
namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;

using platform::monotonicNs;

int bytesWaiting(int socket) {
    int n = 0;
    if (ioctl(socket, FIONREAD, &n) != 0) {
        return 0;
    }
    return n;
}

int pendingError(int socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return 0;
    }
    return error;
}

}  // namespace

Reactor::Reactor() = default;

Reactor::~Reactor() {
    if (m_timerFd >= 0) {
        close(m_timerFd);
    }
    if (m_epoll >= 0) {
        close(m_epoll);
    }
}

bool Reactor::open() {
    if (m_epoll >= 0) {
        return true;
    }
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0) {
        return false;
    }
    const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer < 0) {
        close(epoll);
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = timer;
    if (epoll_ctl(epoll, EPOLL_CTL_ADD, timer, &ev) != 0) {
        close(timer);
        close(epoll);
        return false;
    }
    m_epoll = epoll;
    m_timerFd = timer;
    armTimerDescriptor();
    return true;
}

bool Reactor::watch(int socket, Sink sink) {
    if (socket < 0 || !open() || m_sockets.contains(socket)) {
        return false;
    }
    SocketEntry entry;
    entry.sink = std::move(sink);
    auto [it, inserted] = m_sockets.emplace(socket, std::move(entry));
    updateInterest(socket, it->second);
    if (it->second.interest == 0) {
        m_sockets.erase(it);
        return false;
    }
    return true;
}

void Reactor::unwatch(int socket) {
    auto it = m_sockets.find(socket);
    if (it == m_sockets.end()) {
        return;
    }
    if (it->second.interest != 0) {
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, socket, nullptr);
    }
    m_sockets.erase(it);
    std::erase_if(m_queue, [socket](const Notification& n) { return n.socket == socket; });
    std::erase(m_deferredReads, socket);
}

void Reactor::rearmRead(int socket) {
    auto it = m_sockets.find(socket);
    if (it != m_sockets.end() && !it->second.readEnabled) {
        it->second.readEnabled = true;
        it->second.readMasked = false;
        updateInterest(socket, it->second);
    }
}

void Reactor::deferRead(int socket) {
    auto it = m_sockets.find(socket);
    if (it == m_sockets.end() || !it->second.readEnabled || it->second.closePosted) {
        return;
    }
    // Outstanding from now on: waiting data does not post a second read, and a close
    // queues behind this one.
    it->second.readEnabled = false;
    m_deferredReads.push_back(socket);
}

void Reactor::releaseDeferredReads() {
    for (const int socket : std::exchange(m_deferredReads, {})) {
        post(socket, kFdRead);
    }
}

void Reactor::rearmWrite(int socket) {
    auto it = m_sockets.find(socket);
    if (it != m_sockets.end() && !it->second.writeEnabled) {
        it->second.writeEnabled = true;
        updateInterest(socket, it->second);
    }
}

// Level-triggered epoll with an interest set that follows the enable flags: a read that is
// outstanding (posted, not yet followed by a recv) takes EPOLLIN out of the set once waiting
// data wakes the loop for it, so that data does not wake the loop again and again. Taking it
// out only then saves two epoll changes per packet in the usual case, where the recv and
// the rearm come before the next wait. EPOLLRDHUP stays in until the close is
// posted; after that the socket leaves the epoll set, since EPOLLHUP cannot be masked.
void Reactor::updateInterest(int socket, SocketEntry& entry) {
    std::uint32_t wanted = 0;
    if (!entry.closePosted) {
        wanted = EPOLLRDHUP;
        if (entry.readEnabled || !entry.readMasked) {
            wanted |= EPOLLIN;
        }
        if (entry.writeEnabled) {
            wanted |= EPOLLOUT;
        }
    }
    if (wanted == entry.interest) {
        return;
    }
    epoll_event ev{};
    ev.events = wanted;
    ev.data.fd = socket;
    int rc = 0;
    if (wanted == 0) {
        rc = epoll_ctl(m_epoll, EPOLL_CTL_DEL, socket, nullptr);
    } else if (entry.interest == 0) {
        rc = epoll_ctl(m_epoll, EPOLL_CTL_ADD, socket, &ev);
    } else {
        rc = epoll_ctl(m_epoll, EPOLL_CTL_MOD, socket, &ev);
    }
    if (rc == 0 || wanted == 0) {
        entry.interest = wanted;
    }
}

void Reactor::post(int socket, std::uint32_t lParam) {
    m_queue.push_back({socket, lParam});
}

void Reactor::handleSocketEvents(int socket, std::uint32_t events) {
    auto it = m_sockets.find(socket);
    if (it == m_sockets.end()) {
        return;
    }
    SocketEntry& entry = it->second;
    if (entry.closePosted) {
        return;
    }
    const bool peerGone = (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
    // Readable without a hang-up means data for a connected stream: no need to ask.
    int waiting = (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) == EPOLLIN ? 1 : -1;
    auto dataWaiting = [&] {
        if (waiting < 0) {
            waiting = bytesWaiting(socket);
        }
        return waiting > 0;
    };
    // Write first: right after the connect it is the first notification of a socket.
    if (entry.writeEnabled && (events & EPOLLOUT) != 0) {
        post(socket, kFdWrite);
        entry.writeEnabled = false;
    }
    if (entry.readEnabled && (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0 &&
        dataWaiting()) {
        post(socket, kFdRead);
        entry.readEnabled = false;
    } else if (!entry.readEnabled && (events & EPOLLIN) != 0) {
        entry.readMasked = true;
    }
    // The close waits until no data is left, unless a read is outstanding: then it queues
    // behind that read, whose handler takes the rest in.
    if (peerGone && (!entry.readEnabled || !dataWaiting())) {
        const auto error = static_cast<std::uint32_t>(pendingError(socket)) & 0xFFFFu;
        post(socket, kFdClose | (error << 16));
        entry.closePosted = true;
    }
    updateInterest(socket, entry);
}

void Reactor::gather(int waitMs) {
    std::array<epoll_event, 64> events{};
    const int n = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), waitMs);
    for (int i = 0; i < n; ++i) {
        const int fd = events[static_cast<std::size_t>(i)].data.fd;
        if (fd == m_timerFd) {
            std::uint64_t expirations = 0;
            [[maybe_unused]] const auto ignored = read(m_timerFd, &expirations, sizeof expirations);
            continue;
        }
        handleSocketEvents(fd, events[static_cast<std::size_t>(i)].events);
    }
}

void Reactor::dispatchQueued() {
    while (!m_queue.empty()) {
        const Notification n = m_queue.front();
        m_queue.pop_front();
        auto it = m_sockets.find(n.socket);
        if (it == m_sockets.end()) {
            continue;
        }
        // A copy: the sink may unwatch this socket (erasing the entry) while it runs.
        const Sink sink = it->second.sink;
        if (sink) {
            sink(n.socket, n.lParam);
        }
    }
}

void Reactor::runDueTimers() {
    if (m_timers.empty()) {
        return;
    }
    const std::int64_t now = monotonicNs();
    std::vector<TimerId> due;
    for (const auto& [id, timer] : m_timers) {
        if (timer.deadlineNs <= now) {
            due.push_back(id);
        }
    }
    for (const TimerId id : due) {
        auto it = m_timers.find(id);
        // Killed by an earlier callback, or already fired by a nested run.
        if (it == m_timers.end() || it->second.deadlineNs > now) {
            continue;
        }
        it->second.deadlineNs = now + it->second.intervalNs;
        const TimerCallback callback = it->second.callback;
        if (callback) {
            callback(id);
        }
    }
    armTimerDescriptor();
}

void Reactor::armTimerDescriptor() {
    if (m_timerFd < 0) {
        return;
    }
    itimerspec deadline{};
    if (!m_timers.empty()) {
        std::int64_t earliest = m_timers.begin()->second.deadlineNs;
        for (const auto& [id, timer] : m_timers) {
            earliest = std::min(earliest, timer.deadlineNs);
        }
        earliest = std::max<std::int64_t>(earliest, 1);
        deadline.it_value.tv_sec = static_cast<time_t>(earliest / 1'000'000'000);
        deadline.it_value.tv_nsec = static_cast<long>(earliest % 1'000'000'000);
    }
    timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &deadline, nullptr);
}

Reactor::TimerId Reactor::setTimer(std::int64_t intervalMs, TimerCallback callback) {
    if (!open()) {
        return 0;
    }
    TimerId id = m_lastTimerId;
    do {
        ++id;
    } while (id == 0 || m_timers.contains(id));
    m_lastTimerId = id;
    const std::int64_t intervalNs = std::max<std::int64_t>(intervalMs, 1) * kNsPerMs;
    m_timers.emplace(id, Timer{intervalNs, monotonicNs() + intervalNs, std::move(callback)});
    armTimerDescriptor();
    scheduleChanged();
    return id;
}

bool Reactor::killTimer(TimerId id) {
    if (m_timers.erase(id) == 0) {
        return false;
    }
    armTimerDescriptor();
    scheduleChanged();
    return true;
}

std::optional<std::int64_t> Reactor::nextTimeoutMs() const {
    if (!m_queue.empty() || !m_deferredReads.empty()) {
        return 0;
    }
    if (m_timers.empty()) {
        return std::nullopt;
    }
    std::int64_t earliest = m_timers.begin()->second.deadlineNs;
    for (const auto& [id, timer] : m_timers) {
        earliest = std::min(earliest, timer.deadlineNs);
    }
    const std::int64_t left = earliest - monotonicNs();
    return left <= 0 ? 0 : (left + kNsPerMs - 1) / kNsPerMs;
}

void Reactor::setScheduleChangedHook(std::function<void()> hook) {
    m_scheduleChanged = std::move(hook);
}

void Reactor::scheduleChanged() {
    if (m_scheduleChanged) {
        const auto hook = m_scheduleChanged;
        hook();
    }
}

void Reactor::processReady() {
    if (m_epoll < 0) {
        return;
    }
    releaseDeferredReads();
    gather(0);
    dispatchQueued();
    runDueTimers();
}

void Reactor::runOnce(std::int64_t maxWaitMs) {
    if (m_epoll < 0) {
        return;
    }
    std::int64_t wait = std::max<std::int64_t>(maxWaitMs, 0);
    if (const auto next = nextTimeoutMs()) {
        wait = std::min(wait, *next);
    }
    releaseDeferredReads();
    gather(static_cast<int>(std::min<std::int64_t>(wait, 1'000'000)));
    dispatchQueued();
    runDueTimers();
}

Reactor& mainReactor() {
    static Reactor reactor;
    return reactor;
}

}  // namespace upd::net
