// The one event mechanism of the program: a single-threaded reactor that delivers socket
// notifications with the rules of asynchronous Winsock sockets, and periodic timers.
//
// Socket rules (what the download objects rely on):
//   * write (2): once after watch() (the socket is connected by then), and again only after
//     a send on it would have blocked (the socket layer calls rearmWrite()).
//   * read (1): when data is waiting; then not again until the owner calls recv (the socket
//     layer calls rearmRead() after every recv), after which it comes again if data is
//     still waiting.
//   * close (32): once, when the peer has closed or reset the connection and no data is
//     left unread (or a read notification is already outstanding ahead of it). An error of
//     the connection travels in the high 16 bits of the lParam value handed to the sink.
// Notifications are queued in the order they are detected and delivered one by one, on the
// thread that calls processReady()/runOnce(). unwatch() drops every queued notification of
// that socket, so a descriptor number that the system reuses never receives a stale one.
//
// Handlers may re-enter: a sink or timer callback may watch, unwatch, set or kill timers,
// destroy what it belongs to, or call processReady() again (a nested run delivers what is
// pending and returns).
//
// Driving it:
//   * Without a GUI (updtool, tests): call runOnce(maxWaitMs) in a loop; it waits at most
//     maxWaitMs for a socket or a timer and then delivers what is ready.
//   * From Qt's event loop: descriptor() is an epoll descriptor that becomes readable
//     whenever a watched socket has news or a timer is due (the timers run on a timerfd
//     inside it), so one notifier is enough:
//         QSocketNotifier notifier(reactor.descriptor(), QSocketNotifier::Read);
//         QObject::connect(&notifier, &QSocketNotifier::activated,
//                          [&reactor] { reactor.processReady(); });
//     processReady() never blocks. Code that prefers its own timer can instead arm a
//     single-shot QTimer with nextTimeoutMs() after each processReady() and on the
//     schedule-changed hook (setScheduleChangedHook).
//
// Failure: open() fails when the system refuses an epoll or timer descriptor (descriptor
// limit); watch() fails for a socket that cannot be added. Nothing here throws.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

namespace upd::net {

// Notification codes, as WSAAsyncSelect numbers them.
inline constexpr std::uint32_t kFdRead = 1;
inline constexpr std::uint32_t kFdWrite = 2;
inline constexpr std::uint32_t kFdConnect = 16;
inline constexpr std::uint32_t kFdClose = 32;

class Reactor {
  public:
    // Receives (socket, lParam): the event in the low 16 bits, an error number in the high.
    using Sink = std::function<void(int socket, std::uint32_t lParam)>;
    using TimerId = std::uint32_t;
    using TimerCallback = std::function<void(TimerId)>;

    Reactor();
    ~Reactor();
    Reactor(const Reactor&) = delete;
    Reactor& operator=(const Reactor&) = delete;

    // Creates the epoll and timer descriptors; true when they exist (idempotent).
    bool open();
    bool isOpen() const { return m_epoll >= 0; }

    // The descriptor a GUI event loop watches for reading; -1 before open().
    int descriptor() const { return m_epoll; }

    // Starts notifications for a connected socket (opens the reactor when needed). The
    // first write notification follows as soon as the socket is writable.
    bool watch(int socket, Sink sink);
    // Stops notifications and drops queued ones. Call before closing the descriptor.
    void unwatch(int socket);
    bool isWatched(int socket) const { return m_sockets.contains(socket); }

    // Called by the socket layer after every recv / after a send that would block.
    void rearmRead(int socket);
    void rearmWrite(int socket);
    // A read notification for bytes that a layer above the socket holds (decrypted TLS
    // records) while the socket itself may show none: queued by the next processReady() or
    // runOnce(), never by the dispatch running now, so the loop gets its turn first. Nothing
    // when a read is outstanding already or the close has been posted.
    void deferRead(int socket);

    // A periodic timer (interval at least 1 ms). Returns its id, never 0; 0 on failure.
    TimerId setTimer(std::int64_t intervalMs, TimerCallback callback);
    // False when no such timer runs.
    bool killTimer(TimerId id);
    std::size_t timerCount() const { return m_timers.size(); }

    // Milliseconds until the next timer is due (0 when one is due or a notification is
    // queued); nothing when no timer runs and nothing is queued.
    std::optional<std::int64_t> nextTimeoutMs() const;

    // Called whenever a timer is set or killed, so a GUI can re-arm its own timer.
    void setScheduleChangedHook(std::function<void()> hook);

    // Delivers what is ready now (socket notifications in order, then due timers) without
    // blocking.
    void processReady();
    // Waits up to maxWaitMs (bounded by the next timer) for something to become ready, then
    // delivers it like processReady().
    void runOnce(std::int64_t maxWaitMs);

  private:
    struct SocketEntry {
        Sink sink;
        bool readEnabled = true;
        bool writeEnabled = true;
        bool closePosted = false;
        // EPOLLIN stays registered while a posted read waits for its recv, which normally
        // comes before the next wait; only a wake-up during that wait takes it out.
        bool readMasked = false;
        std::uint32_t interest = 0;  // events registered with epoll; 0 = not registered
    };
    struct Notification {
        int socket;
        std::uint32_t lParam;
    };
    struct Timer {
        std::int64_t intervalNs;
        std::int64_t deadlineNs;
        TimerCallback callback;
    };

    void gather(int waitMs);
    void releaseDeferredReads();
    void handleSocketEvents(int socket, std::uint32_t events);
    void updateInterest(int socket, SocketEntry& entry);
    void post(int socket, std::uint32_t lParam);
    void dispatchQueued();
    void runDueTimers();
    void armTimerDescriptor();
    void scheduleChanged();

    int m_epoll = -1;
    int m_timerFd = -1;
    std::unordered_map<int, SocketEntry> m_sockets;
    std::deque<Notification> m_queue;
    std::vector<int> m_deferredReads;
    std::map<TimerId, Timer> m_timers;
    TimerId m_lastTimerId = 0;
    std::function<void()> m_scheduleChanged;
};

// The reactor of the program's one thread: the download objects, the timer class and the
// GUI share it. Created on first use, lives until the process ends.
Reactor& mainReactor();

}  // namespace upd::net
