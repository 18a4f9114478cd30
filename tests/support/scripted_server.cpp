#include "tests/support/scripted_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

#include "platform/monotonic_clock.h"

namespace upd::test {
namespace {

using platform::monotonicMs;

// Waits for `events` on fd until the deadline; false on time-out or when the stop pipe fires.
bool waitFor(int fd, short events, int stopFd, std::int64_t deadline) {
    std::int64_t left = 0;
    while ((left = deadline - monotonicMs()) > 0) {
        pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int rc = poll(p, 2, static_cast<int>(left));
        if (rc > 0 || (rc < 0 && errno != EINTR)) {
            return rc > 0 && (p[1].revents & POLLIN) == 0;
        }
    }
    return false;
}

}  // namespace

ScriptedServer::ScriptedServer(std::vector<Script> scripts) : m_scripts(std::move(scripts)) {
    if (m_scripts.empty()) {
        m_scripts.emplace_back();
    }
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    m_thread = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    [[maybe_unused]] const auto ignored = write(m_stopPipe[1], "x", 1);
    m_thread.join();
    ::close(m_stopPipe[0]);
    ::close(m_stopPipe[1]);
}

std::size_t ScriptedServer::connections() const {
    std::lock_guard lock(m_mutex);
    return m_connections.size();
}

std::string ScriptedServer::received(std::size_t connection) const {
    std::lock_guard lock(m_mutex);
    return connection < m_connections.size() ? m_connections[connection].received : "";
}

std::vector<std::string> ScriptedServer::errors() const {
    std::lock_guard lock(m_mutex);
    return m_errors;
}

bool ScriptedServer::waitFinished(std::size_t connection, int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return connection < m_connections.size() && m_connections[connection].finished;
    });
}

void ScriptedServer::acceptLoop() {
    while (waitFor(m_listener.fd(), POLLIN, m_stopPipe[0], monotonicMs() + 3'600'000)) {
        const int fd = m_listener.accept();
        if (fd < 0) {
            continue;
        }
        fcntl(fd, F_SETFL, O_NONBLOCK);
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::unique_lock lock(m_mutex);
        const std::size_t index = m_connections.size();
        m_connections.emplace_back();
        lock.unlock();
        serve(index, fd);
    }
}

void ScriptedServer::serve(std::size_t index, int fd) {
    using Kind = Script::Kind;
    const auto& steps = m_scripts[std::min(index, m_scripts.size() - 1)].steps;
    std::string pending;  // received and not yet consumed by a read step
    bool peerClosed = false;

    // Waits until something arrives and records it; false on time-out or stop.
    auto readSome = [&](std::int64_t deadline) {
        if (!waitFor(fd, POLLIN, m_stopPipe[0], deadline)) {
            return false;
        }
        char buffer[16384];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            pending.append(buffer, static_cast<std::size_t>(n));
            std::lock_guard lock(m_mutex);
            m_connections[index].received.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            peerClosed = true;
        }
        return true;
    };
    // What a read step takes off `pending`: 0 until all its bytes are there.
    auto used = [&](const Script::Step& step) -> std::size_t {
        if (step.kind == Kind::ReadBytes) {
            return pending.size() >= step.count ? step.count : 0;
        }
        const auto at = pending.find("\r\n\r\n");
        return at == std::string::npos ? 0 : at + 4;
    };

    std::string error;
    bool ended = false;  // by a close or a reset
    std::size_t i = 0;
    for (; i < steps.size() && error.empty() && !ended; ++i) {
        const auto& step = steps[i];
        const std::int64_t deadline = monotonicMs() + kStepTimeoutMs;
        switch (step.kind) {
            case Kind::ReadRequest:
            case Kind::ReadBytes:
                while (used(step) == 0 && !peerClosed && readSome(deadline)) {
                }
                if (used(step) == 0) {
                    error = peerClosed ? "the client closed before the expected bytes"
                                       : "timed out waiting for the expected bytes";
                }
                pending.erase(0, used(step));
                break;
            case Kind::Send:
                for (std::size_t sent = 0; sent < step.bytes.size() && error.empty();) {
                    const ssize_t n = ::send(fd, step.bytes.data() + sent, step.bytes.size() - sent,
                                             MSG_NOSIGNAL);
                    if (n > 0) {
                        sent += static_cast<std::size_t>(n);
                    } else if (n >= 0 || (errno != EAGAIN && errno != EINTR) ||
                               !waitFor(fd, POLLOUT, m_stopPipe[0], deadline)) {
                        error = "could not send all bytes";
                    }
                }
                break;
            case Kind::Close:
                shutdown(fd, SHUT_WR);
                while (!peerClosed && readSome(deadline)) {
                }
                ended = true;
                break;
            case Kind::Reset: {
                const linger hard{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                ended = true;
                break;
            }
        }
    }
    if (error.empty() && !ended) {
        const std::int64_t deadline = monotonicMs() + kStepTimeoutMs;
        while (!peerClosed && readSome(deadline)) {
        }
        if (!peerClosed) {
            error = "the client did not close";
        }
    }
    ::close(fd);
    std::lock_guard lock(m_mutex);
    if (!error.empty()) {
        m_errors.push_back("connection " + std::to_string(index) + ", step " + std::to_string(i) +
                           ": " + error);
    }
    m_connections[index].finished = true;
    m_changed.notify_all();
}

}  // namespace upd::test
