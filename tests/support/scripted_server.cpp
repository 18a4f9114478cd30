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

enum class Wait { Ready, Stopped, TimedOut };

// Waits for `events` on fd or for the stop pipe, until the deadline.
Wait waitFor(int fd, short events, int stopFd, std::int64_t deadline) {
    for (;;) {
        const std::int64_t left = deadline - monotonicMs();
        if (left <= 0) {
            return Wait::TimedOut;
        }
        pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int rc = poll(p, 2, static_cast<int>(left));
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc < 0 || (p[1].revents & POLLIN) != 0) {
            return Wait::Stopped;
        }
        if (rc > 0) {
            return Wait::Ready;
        }
    }
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
    return m_received.size();
}

std::string ScriptedServer::received(std::size_t connection) const {
    std::lock_guard lock(m_mutex);
    return connection < m_received.size() ? m_received[connection] : std::string();
}

std::vector<std::string> ScriptedServer::errors() const {
    std::lock_guard lock(m_mutex);
    return m_errors;
}

bool ScriptedServer::waitFinished(std::size_t connection, int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return connection < m_finished.size() && m_finished[connection];
    });
}

void ScriptedServer::fail(std::size_t index, std::size_t step, const std::string& what) {
    std::lock_guard lock(m_mutex);
    m_errors.push_back("connection " + std::to_string(index) + ", step " + std::to_string(step) +
                       ": " + what);
}

void ScriptedServer::acceptLoop() {
    for (;;) {
        const Wait w = waitFor(m_listener.fd(), POLLIN, m_stopPipe[0], monotonicMs() + 3'600'000);
        if (w != Wait::Ready) {
            return;
        }
        const int fd = m_listener.accept();
        if (fd < 0) {
            continue;
        }
        fcntl(fd, F_SETFL, O_NONBLOCK);
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::size_t index = 0;
        {
            std::lock_guard lock(m_mutex);
            index = m_received.size();
            m_received.emplace_back();
            m_finished.push_back(false);
        }
        serve(index, fd);
    }
}

void ScriptedServer::serve(std::size_t index, int fd) {
    using Kind = Script::Step::Kind;
    const Script& script = m_scripts[std::min(index, m_scripts.size() - 1)];
    std::string pending;  // received and not yet consumed by a read step
    bool peerClosed = false;
    bool open = true;

    // Reads what is there (waiting until something is) and records it.
    auto readSome = [&](std::int64_t deadline) -> Wait {
        const Wait w = waitFor(fd, POLLIN, m_stopPipe[0], deadline);
        if (w != Wait::Ready) {
            return w;
        }
        char buffer[16384];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            pending.append(buffer, static_cast<std::size_t>(n));
            std::lock_guard lock(m_mutex);
            m_received[index].append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            peerClosed = true;
        }
        return Wait::Ready;
    };
    auto readToTheEnd = [&](std::int64_t deadline) {
        while (!peerClosed && readSome(deadline) == Wait::Ready) {
        }
    };

    const auto& steps = script.steps();
    for (std::size_t i = 0; i < steps.size() && open; ++i) {
        const auto& step = steps[i];
        const std::int64_t deadline = monotonicMs() + kStepTimeoutMs;
        switch (step.kind) {
            case Kind::ReadUntil:
            case Kind::ReadBytes: {
                auto used = [&]() -> std::size_t {
                    if (step.kind == Kind::ReadBytes) {
                        return pending.size() >= step.count ? step.count : 0;
                    }
                    const auto at = pending.find(step.bytes);
                    return at == std::string::npos ? 0 : at + step.bytes.size();
                };
                while (used() == 0 && !peerClosed && readSome(deadline) == Wait::Ready) {
                }
                if (used() == 0) {
                    fail(index, i,
                         peerClosed ? "the client closed before the expected bytes"
                                    : "timed out waiting for the expected bytes");
                    open = false;
                    break;
                }
                pending.erase(0, used());
                break;
            }
            case Kind::Send: {
                std::size_t sent = 0;
                while (sent < step.bytes.size()) {
                    const ssize_t n = ::send(fd, step.bytes.data() + sent, step.bytes.size() - sent,
                                             MSG_NOSIGNAL);
                    if (n > 0) {
                        sent += static_cast<std::size_t>(n);
                    } else if (n >= 0 || (errno != EAGAIN && errno != EINTR) ||
                               waitFor(fd, POLLOUT, m_stopPipe[0], deadline) != Wait::Ready) {
                        break;
                    }
                }
                if (sent < step.bytes.size()) {
                    fail(index, i, "could not send all bytes");
                    open = false;
                }
                break;
            }
            case Kind::Close:
                shutdown(fd, SHUT_WR);
                readToTheEnd(deadline);
                open = false;
                break;
            case Kind::Reset: {
                const linger hard{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                open = false;
                break;
            }
            case Kind::ReadUntilClosed:
                readToTheEnd(deadline);
                if (!peerClosed) {
                    fail(index, i, "the client did not close");
                    open = false;
                }
                break;
        }
    }
    // A script that ends with the connection open keeps it until the client closes.
    if (open) {
        readToTheEnd(monotonicMs() + kStepTimeoutMs);
    }
    ::close(fd);
    {
        std::lock_guard lock(m_mutex);
        m_finished[index] = true;
    }
    m_changed.notify_all();
}

}  // namespace upd::test
