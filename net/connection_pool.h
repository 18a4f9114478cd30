// The idle persistent connections of the download objects, shared by all of them: a
// transfer that ends with its reply read whole on a connection the peer keeps open leaves it
// here, and the next transfer along the same route (the same origin through the same proxy
// with the same proxy login) takes it instead of connecting, handshaking with the proxy and
// with TLS again. Whatever page or object asks, so the update information's transfers and
// the files after them share connections.
//
// An idle connection belongs to nobody: its socket is out of the reactor (no notification
// reaches anyone) until a transfer takes it and watches it again. One that the peer has
// closed meanwhile, or that holds bytes nobody asked for, is dropped when taken; one idle
// longer than kMaxIdleMs is dropped too. A peer may still close one just as it is taken:
// the download object then sends its request again once, on a new connection.
//
// Ownership: the pool owns the sockets and TLS sessions it holds and closes them when it
// drops them. connectionPool() lives as long as the process, on the program's one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "net/tls_session.h"

namespace upd::net {

struct IdleConnection {
    int socket = -1;
    std::unique_ptr<TlsSession> tls;  // nullptr over plain TCP
};

class ConnectionPool {
  public:
    // Servers close idle connections after a time of their own (5 s to a few minutes); one
    // older than this is not worth the failed attempt.
    static constexpr std::int64_t kMaxIdleMs = 60'000;
    // Each route keeps what parallel transfers along it need, the pool a few routes' worth.
    static constexpr std::size_t kMaxPerRoute = 16;
    static constexpr std::size_t kMaxIdle = 32;

    ConnectionPool() = default;
    ~ConnectionPool();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // Keeps the connection for `route`. The socket must be connected and out of the
    // reactor; the oldest connection goes when a limit is reached.
    void put(const std::string& route, IdleConnection connection);
    // The most recently kept connection of `route` that is still open and holds nothing
    // unread; nothing when there is none.
    std::optional<IdleConnection> take(const std::string& route);
    // Closes every idle connection.
    void clear();

  private:
    struct Entry {
        std::string route;
        IdleConnection connection;
        std::int64_t sinceMs = 0;
    };
    static void drop(Entry& entry);
    void dropExpired(std::int64_t nowMs);

    std::deque<Entry> m_idle;  // oldest first
};

ConnectionPool& connectionPool();

}  // namespace upd::net
