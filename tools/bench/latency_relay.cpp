// A TCP relay on loopback that makes a server look far away, for the benchmarks: each byte
// reaches the other end a fixed time after the relay read it, in both directions, and each new
// connection pays one round trip more before its first byte, as its handshake would on such a
// link. Both ends are read as fast as they send, so the link has the latency of a far one
// without a bandwidth limit of its own.
//
// usage: latency_relay --to HOST:PORT --one-way-ms MS [--listen-port P]
// It listens on 127.0.0.1 (P 0 or absent: a port the system picks), prints that port as its
// first line on standard output, and runs until SIGTERM or SIGINT. Exit status: 0 after a
// signal, 1 when it cannot start, 2 for a command-line error.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

using Nanos = std::int64_t;  // on the monotonic clock

constexpr const char* kUsage =
    "usage: latency_relay --to HOST:PORT --one-way-ms MS [--listen-port P]\n";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr std::int64_t kMaxOneWayMs = 60000;
constexpr std::size_t kReadSize = 256 * 1024;
// A read this much smaller than its buffer is copied out, so that a queue of small requests
// does not hold a large buffer for each.
constexpr std::size_t kSmallRead = kReadSize / 4;
// A side is not read while its queue holds more than this: one end slower than the other
// must not make the relay's memory grow without bound.
constexpr std::size_t kMaxQueued = std::size_t{64} << 20;
// Taken from one socket per wake-up at most, so that a fast sender does not starve the others.
constexpr std::size_t kReadBurst = std::size_t{4} << 20;
constexpr int kMaxEvents = 256;
// epoll tags: the listener, the signals, then (link id << 1 | side).
constexpr std::uint64_t kListenerTag = 0;
constexpr std::uint64_t kSignalTag = 1;
enum Side { kClient = 0, kServer = 1 };

Nanos monotonicNow() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

void note(const std::string& text) {
    std::fprintf(stderr, "latency_relay: %s\n", text.c_str());
}

std::string systemError(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

struct Chunk {
    Nanos due;
    std::unique_ptr<char[]> bytes;
    std::size_t size;
    std::size_t sent = 0;
};

// One direction of a link: what was read from `from`, waiting for its time to go to `to`.
struct Flow {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    std::size_t queued = 0;       // bytes of the chunks in `queue`
    std::optional<Nanos> finDue;  // `from` ended its stream; `to` learns of it at this time
    bool finSent = false;
    bool blocked = false;  // `to` took less than was due: wait until it is writable again

    bool reading() const { return !finDue && queued <= kMaxQueued; }
};

struct Link {
    int fds[2] = {-1, -1};  // by Side
    bool connecting = true;
    Nanos openAt = 0;                    // the handshake's extra round trip ends here
    Flow up;                             // client to server
    Flow down;                           // server to client
    std::uint32_t interest[2] = {0, 0};  // as registered with epoll; 0: not registered
    bool broken = false;

    bool done() const { return broken || (up.finSent && down.finSent); }
};

struct Options {
    std::string host;
    std::string port;
    std::int64_t oneWayMs = -1;
    int listenPort = 0;
};

std::optional<std::int64_t> parseNumber(std::string_view text, std::int64_t max) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    bool haveTarget = false;
    for (int i = 1; i < argc; i += 2) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        const std::string_view value = argv[i + 1];
        if (option == "--to") {
            // "[::1]:8080" as well as "127.0.0.1:8080": the port follows the last colon.
            const std::size_t colon = value.rfind(':');
            if (colon == std::string_view::npos || colon == 0 || colon + 1 == value.size() ||
                !parseNumber(value.substr(colon + 1), 65535)) {
                return std::nullopt;
            }
            std::string_view host = value.substr(0, colon);
            if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
                host = host.substr(1, host.size() - 2);
            }
            options.host = std::string(host);
            options.port = std::string(value.substr(colon + 1));
            haveTarget = true;
        } else if (option == "--one-way-ms") {
            const auto ms = parseNumber(value, kMaxOneWayMs);
            if (!ms) {
                return std::nullopt;
            }
            options.oneWayMs = *ms;
        } else if (option == "--listen-port") {
            const auto port = parseNumber(value, 65535);
            if (!port) {
                return std::nullopt;
            }
            options.listenPort = static_cast<int>(*port);
        } else {
            return std::nullopt;
        }
    }
    if (!haveTarget || options.oneWayMs < 0) {
        return std::nullopt;
    }
    return options;
}

// Small requests must leave at once: Nagle's wait for an acknowledgement would add to the
// delay being simulated.
void setNoDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Closes with a reset, so that the other end of a broken link does not take what it got for
// a whole stream.
void abortiveClose(int fd) {
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(fd);
}

class Relay {
  public:
    Relay(int epoll, int listener, const addrinfo& target, Nanos delay)
        : m_epoll(epoll), m_listener(listener), m_delay(delay) {
        std::memcpy(&m_target, target.ai_addr, target.ai_addrlen);
        m_targetSize = target.ai_addrlen;
        m_targetFamily = target.ai_family;
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    ~Relay() {
        for (auto& [id, link] : m_links) {
            abortiveClose(link.fds[kClient]);
            abortiveClose(link.fds[kServer]);
        }
    }

    // Until SIGTERM or SIGINT arrives on the signal descriptor registered as kSignalTag.
    int run() {
        epoll_event events[kMaxEvents];
        for (;;) {
            const int count = epoll_wait(m_epoll, events, kMaxEvents, timeoutMs());
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                note(systemError("epoll_wait", errno));
                return kExitFailure;
            }
            for (int i = 0; i < count; ++i) {
                const std::uint64_t tag = events[i].data.u64;
                if (tag == kSignalTag) {
                    return 0;
                }
                if (tag == kListenerTag) {
                    acceptAll();
                } else {
                    onSocket(tag >> 1, static_cast<Side>(tag & 1), events[i].events);
                }
            }
            sweep();
        }
    }

  private:
    Nanos dueFrom(const Link& link, Nanos readAt) const {
        return std::max(readAt, link.openAt) + m_delay;
    }

    void acceptAll() {
        for (;;) {
            const int client = accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR || errno == ECONNABORTED) {
                    continue;
                }
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    note(systemError("accept", errno));
                }
                return;
            }
            const int server =
                socket(m_targetFamily, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (server < 0) {
                note(systemError("socket", errno));
                abortiveClose(client);
                continue;
            }
            setNoDelay(client);
            setNoDelay(server);
            const int connected =
                connect(server, reinterpret_cast<const sockaddr*>(&m_target), m_targetSize);
            if (connected < 0 && errno != EINPROGRESS) {
                note(systemError("connect", errno));
                abortiveClose(client);
                abortiveClose(server);
                continue;
            }
            const std::uint64_t id = m_nextId++;
            Link& link = m_links[id];
            link.fds[kClient] = client;
            link.fds[kServer] = server;
            link.connecting = connected < 0;
            // connect() on loopback returns at once; the far link's handshake would take a
            // round trip before the client could send anything.
            link.openAt = monotonicNow() + 2 * m_delay;
            link.up.from = client;
            link.up.to = server;
            link.down.from = server;
            link.down.to = client;
            updateInterest(id, link);
        }
    }

    void onSocket(std::uint64_t id, Side side, std::uint32_t events) {
        const auto found = m_links.find(id);
        if (found == m_links.end() || found->second.broken) {
            return;  // closed earlier in this batch of events
        }
        Link& link = found->second;
        if (side == kServer && link.connecting) {
            finishConnect(link);
            return;
        }
        if (events & EPOLLERR) {
            link.broken = true;  // a reset or another error ends both directions
            return;
        }
        Flow& into = side == kClient ? link.down : link.up;
        Flow& outOf = side == kClient ? link.up : link.down;
        // A hang-up may come without EPOLLOUT: the next write tells what happened.
        if (events & (EPOLLOUT | EPOLLHUP)) {
            into.blocked = false;
        }
        if ((events & (EPOLLIN | EPOLLHUP)) && outOf.reading()) {
            readFlow(link, outOf);
        }
    }

    void finishConnect(Link& link) {
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(link.fds[kServer], SOL_SOCKET, SO_ERROR, &error, &size) < 0) {
            error = errno;
        }
        if (error == EINPROGRESS) {
            return;
        }
        if (error != 0) {
            note(systemError("connect", error));
            link.broken = true;
            return;
        }
        link.connecting = false;
    }

    void readFlow(Link& link, Flow& flow) {
        std::size_t taken = 0;
        while (flow.queued <= kMaxQueued && taken < kReadBurst) {
            if (!m_spare) {
                m_spare = std::make_unique_for_overwrite<char[]>(kReadSize);
            }
            const ssize_t count = read(flow.from, m_spare.get(), kReadSize);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                link.broken = errno != EAGAIN && errno != EWOULDBLOCK;
                return;
            }
            const Nanos readAt = monotonicNow();
            if (count == 0) {
                flow.finDue = dueFrom(link, readAt);
                return;
            }
            const auto size = static_cast<std::size_t>(count);
            std::unique_ptr<char[]> bytes;
            if (size < kSmallRead) {
                bytes = std::make_unique_for_overwrite<char[]>(size);
                std::memcpy(bytes.get(), m_spare.get(), size);
            } else {
                bytes = std::move(m_spare);
            }
            flow.queue.push_back(Chunk{dueFrom(link, readAt), std::move(bytes), size});
            flow.queued += size;
            taken += size;
        }
    }

    // Writes everything that is due by `now`, then passes on the end of the stream once all
    // before it is out.
    void deliver(Link& link, Flow& flow, Nanos now) {
        if (flow.blocked || link.connecting) {
            return;
        }
        while (!flow.queue.empty() && flow.queue.front().due <= now) {
            Chunk& chunk = flow.queue.front();
            const ssize_t count = send(flow.to, chunk.bytes.get() + chunk.sent,
                                       chunk.size - chunk.sent, MSG_NOSIGNAL);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                flow.blocked = errno == EAGAIN || errno == EWOULDBLOCK;
                link.broken = !flow.blocked;
                return;
            }
            chunk.sent += static_cast<std::size_t>(count);
            if (chunk.sent < chunk.size) {
                flow.blocked = true;
                return;
            }
            flow.queued -= chunk.size;
            flow.queue.pop_front();
        }
        if (flow.queue.empty() && flow.finDue && !flow.finSent && *flow.finDue <= now) {
            if (shutdown(flow.to, SHUT_WR) < 0 && errno != ENOTCONN) {
                link.broken = true;
                return;
            }
            flow.finSent = true;
        }
    }

    // Registers what each socket of the link waits for; a socket that waits for nothing is
    // taken out, or a hang-up it reports would wake the loop again and again.
    void updateInterest(std::uint64_t id, Link& link) {
        std::uint32_t wanted[2];
        wanted[kClient] = (link.up.reading() ? EPOLLIN : 0u) | (link.down.blocked ? EPOLLOUT : 0u);
        wanted[kServer] = link.connecting ? EPOLLOUT
                                          : (link.down.reading() ? EPOLLIN : 0u) |
                                                (link.up.blocked ? EPOLLOUT : 0u);
        for (const Side side : {kClient, kServer}) {
            if (wanted[side] == link.interest[side]) {
                continue;
            }
            epoll_event event{};
            event.events = wanted[side];
            event.data.u64 = (id << 1) | side;
            const int op = link.interest[side] == 0 ? EPOLL_CTL_ADD
                           : wanted[side] == 0      ? EPOLL_CTL_DEL
                                                    : EPOLL_CTL_MOD;
            if (epoll_ctl(m_epoll, op, link.fds[side], &event) < 0) {
                note(systemError("epoll_ctl", errno));
                link.broken = true;
                return;
            }
            link.interest[side] = wanted[side];
        }
    }

    // After each batch of events: delivers what is due, then closes the links that ended.
    void sweep() {
        const Nanos now = monotonicNow();
        for (auto it = m_links.begin(); it != m_links.end();) {
            Link& link = it->second;
            if (!link.broken) {
                deliver(link, link.up, now);
                deliver(link, link.down, now);
            }
            if (!link.broken) {
                updateInterest(it->first, link);
            }
            if (!link.done()) {
                ++it;
                continue;
            }
            if (link.broken) {
                abortiveClose(link.fds[kClient]);
                abortiveClose(link.fds[kServer]);
            } else {
                close(link.fds[kClient]);
                close(link.fds[kServer]);
            }
            it = m_links.erase(it);
        }
    }

    // Until the earliest delivery, rounded up: waking a little late costs under a millisecond,
    // waking early costs a turn of the loop.
    int timeoutMs() const {
        std::optional<Nanos> earliest;
        const auto consider = [&earliest](const Flow& flow) {
            if (flow.blocked) {
                return;
            }
            if (!flow.queue.empty()) {
                earliest =
                    std::min(earliest.value_or(flow.queue.front().due), flow.queue.front().due);
            } else if (flow.finDue && !flow.finSent) {
                earliest = std::min(earliest.value_or(*flow.finDue), *flow.finDue);
            }
        };
        for (const auto& [id, link] : m_links) {
            if (!link.connecting) {
                consider(link.up);
                consider(link.down);
            }
        }
        if (!earliest) {
            return -1;
        }
        const Nanos wait = *earliest - monotonicNow();
        if (wait <= 0) {
            return 0;
        }
        return static_cast<int>(std::min<Nanos>((wait + 999'999) / 1'000'000, INT_MAX));
    }

    int m_epoll;
    int m_listener;
    Nanos m_delay;
    sockaddr_storage m_target{};
    socklen_t m_targetSize = 0;
    int m_targetFamily = AF_INET;
    std::unordered_map<std::uint64_t, Link> m_links;
    std::uint64_t m_nextId = 1;       // tags 0 and 1 are taken
    std::unique_ptr<char[]> m_spare;  // the next read's buffer
};

int listenOnLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        note(systemError("socket", errno));
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 ||
        listen(fd, SOMAXCONN) < 0) {
        note(systemError("cannot listen on 127.0.0.1", errno));
        close(fd);
        return -1;
    }
    return fd;
}

int boundPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) < 0) {
        return -1;
    }
    return ntohs(address.sin_port);
}

// Every client costs two descriptors: a benchmark of many parallel transfers must not run out
// at the usual soft limit.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* target = nullptr;
    if (const int error =
            getaddrinfo(options->host.c_str(), options->port.c_str(), &hints, &target);
        error != 0) {
        note("cannot resolve " + options->host + ": " + gai_strerror(error));
        return kExitFailure;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> targetOwner(target, freeaddrinfo);
    raiseDescriptorLimit();

    // The signals arrive as readable data, in turn with the sockets: no handler runs between
    // a read and its bookkeeping.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) < 0) {
        note(systemError("sigprocmask", errno));
        return kExitFailure;
    }
    const int signals = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    if (signals < 0 || epoll < 0) {
        note(systemError("signalfd or epoll_create1", errno));
        return kExitFailure;
    }
    const int listener = listenOnLoopback(options->listenPort);
    if (listener < 0) {
        return kExitFailure;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kListenerTag;
    const bool listening = epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event) == 0;
    event.data.u64 = kSignalTag;
    if (!listening || epoll_ctl(epoll, EPOLL_CTL_ADD, signals, &event) < 0) {
        note(systemError("epoll_ctl", errno));
        return kExitFailure;
    }
    std::printf("%d\n", boundPort(listener));
    std::fflush(stdout);

    Relay relay(epoll, listener, *target, options->oneWayMs * 1'000'000);
    return relay.run();
}
