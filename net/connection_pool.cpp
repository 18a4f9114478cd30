#include "net/connection_pool.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/monotonic_clock.h"

namespace upd::net {
namespace {

// An idle connection is fit for a request when the peer has not closed it and has sent
// nothing: bytes nobody asked for (a late reply, a TLS alert) would be read as the next
// reply's.
bool stillIdle(const IdleConnection& connection) {
    if (connection.tls && connection.tls->holdsBytes()) {
        return false;
    }
    char byte = 0;
    const ssize_t n = ::recv(connection.socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

}  // namespace

ConnectionPool::~ConnectionPool() {
    clear();
}

void ConnectionPool::drop(Entry& entry) {
    // The TLS session goes first: it refers to the socket.
    entry.connection.tls.reset();
    if (entry.connection.socket >= 0) {
        ::close(entry.connection.socket);
        entry.connection.socket = -1;
    }
}

void ConnectionPool::dropExpired(std::int64_t nowMs) {
    while (!m_idle.empty() && nowMs - m_idle.front().sinceMs > kMaxIdleMs) {
        drop(m_idle.front());
        m_idle.pop_front();
    }
}

void ConnectionPool::put(const std::string& route, IdleConnection connection) {
    const std::int64_t now = platform::monotonicMs();
    dropExpired(now);
    std::size_t sameRoute = 0;
    for (const Entry& entry : m_idle) {
        sameRoute += entry.route == route ? 1 : 0;
    }
    for (auto it = m_idle.begin(); it != m_idle.end() && sameRoute >= kMaxPerRoute;) {
        if (it->route == route) {
            drop(*it);
            it = m_idle.erase(it);
            --sameRoute;
        } else {
            ++it;
        }
    }
    if (m_idle.size() >= kMaxIdle) {
        drop(m_idle.front());
        m_idle.pop_front();
    }
    m_idle.push_back({route, std::move(connection), now});
}

std::optional<IdleConnection> ConnectionPool::take(const std::string& route) {
    dropExpired(platform::monotonicMs());
    // The newest first: the one least likely to have been closed by its server.
    for (auto it = m_idle.rbegin(); it != m_idle.rend();) {
        if (it->route != route) {
            ++it;
            continue;
        }
        Entry entry = std::move(*it);
        it = std::make_reverse_iterator(m_idle.erase(std::next(it).base()));
        if (stillIdle(entry.connection)) {
            return std::move(entry.connection);
        }
        drop(entry);
    }
    return std::nullopt;
}

void ConnectionPool::clear() {
    for (Entry& entry : m_idle) {
        drop(entry);
    }
    m_idle.clear();
}

ConnectionPool& connectionPool() {
    // Never destroyed: at exit OpenSSL may have been cleaned up before a static's destructor
    // would free the sessions, and the system closes the sockets anyway.
    static ConnectionPool* const pool = new ConnectionPool;
    return *pool;
}

}  // namespace upd::net
