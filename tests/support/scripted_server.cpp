#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace upd::test {
namespace {

std::int64_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

enum class Wait { Ready, Stopped, TimedOut };

// Waits for `events` on fd or for the stop pipe, until the deadline.
Wait waitFor(int fd, short events, int stopFd, std::int64_t deadline) {
    for (;;) {
        const std::int64_t left = deadline - nowMs();
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

Script& Script::readUntil(std::string terminator) {
    m_steps.push_back({Step::Kind::ReadUntil, std::move(terminator), 0});
    return *this;
}
Script& Script::readBytes(std::size_t n) {
    m_steps.push_back({Step::Kind::ReadBytes, {}, n});
    return *this;
}
Script& Script::send(std::string bytes) {
    m_steps.push_back({Step::Kind::Send, std::move(bytes), 0});
    return *this;
}
Script& Script::close() {
    m_steps.push_back({Step::Kind::Close, {}, 0});
    return *this;
}
Script& Script::reset() {
    m_steps.push_back({Step::Kind::Reset, {}, 0});
    return *this;
}
Script& Script::waitGate(std::string name) {
    m_steps.push_back({Step::Kind::WaitGate, std::move(name), 0});
    return *this;
}
Script& Script::readUntilClosed() {
    m_steps.push_back({Step::Kind::ReadUntilClosed, {}, 0});
    return *this;
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts) : m_scripts(std::move(scripts)) {
    if (m_scripts.empty()) {
        m_scripts.emplace_back();
    }
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listen < 0 || bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(m_listen, 16) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    [[maybe_unused]] const auto ignored = write(m_stopPipe[1], "x", 1);
    m_acceptThread.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& t : workers) {
        t.join();
    }
    ::close(m_listen);
    ::close(m_stopPipe[0]);
    ::close(m_stopPipe[1]);
}

std::string ScriptedServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
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

void ScriptedServer::openGate(const std::string& name) {
    {
        std::lock_guard lock(m_mutex);
        m_openGates.insert(name);
    }
    m_changed.notify_all();
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
        const Wait w = waitFor(m_listen, POLLIN, m_stopPipe[0], nowMs() + 3'600'000);
        if (w != Wait::Ready) {
            return;
        }
        const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(m_mutex);
        const std::size_t index = m_received.size();
        m_received.emplace_back();
        m_finished.push_back(false);
        m_workers.emplace_back([this, index, fd] { serve(index, fd); });
    }
}

void ScriptedServer::serve(std::size_t index, int fd) {
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

    const auto& steps = script.steps();
    for (std::size_t i = 0; i < steps.size() && open; ++i) {
        const auto& step = steps[i];
        const std::int64_t deadline = nowMs() + kStepTimeoutMs;
        bool ok = true;
        switch (step.kind) {
            case Script::Step::Kind::ReadUntil:
            case Script::Step::Kind::ReadBytes: {
                auto satisfied = [&] {
                    return step.kind == Script::Step::Kind::ReadBytes
                               ? pending.size() >= step.count
                               : pending.find(step.bytes) != std::string::npos;
                };
                while (!satisfied() && !peerClosed) {
                    if (readSome(deadline) != Wait::Ready) {
                        break;
                    }
                }
                if (!satisfied()) {
                    fail(index, i,
                         peerClosed ? "the client closed before the expected bytes"
                                    : "timed out waiting for the expected bytes");
                    ok = false;
                    break;
                }
                const std::size_t used = step.kind == Script::Step::Kind::ReadBytes
                                             ? step.count
                                             : pending.find(step.bytes) + step.bytes.size();
                pending.erase(0, used);
                break;
            }
            case Script::Step::Kind::Send: {
                std::size_t sent = 0;
                while (sent < step.bytes.size()) {
                    const ssize_t n = ::send(fd, step.bytes.data() + sent, step.bytes.size() - sent,
                                             MSG_NOSIGNAL);
                    if (n > 0) {
                        sent += static_cast<std::size_t>(n);
                    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                        if (waitFor(fd, POLLOUT, m_stopPipe[0], deadline) != Wait::Ready) {
                            break;
                        }
                    } else {
                        break;
                    }
                }
                if (sent < step.bytes.size()) {
                    fail(index, i, "could not send all bytes");
                    ok = false;
                }
                break;
            }
            case Script::Step::Kind::Close:
                shutdown(fd, SHUT_WR);
                while (!peerClosed && readSome(deadline) == Wait::Ready) {
                }
                open = false;
                break;
            case Script::Step::Kind::Reset: {
                const linger hard{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                open = false;
                break;
            }
            case Script::Step::Kind::WaitGate: {
                std::unique_lock lock(m_mutex);
                const bool opened = m_changed.wait_for(
                    lock, std::chrono::milliseconds(kStepTimeoutMs),
                    [&] { return m_stopping || m_openGates.contains(step.bytes); });
                if (!opened || m_stopping) {
                    lock.unlock();
                    if (!m_stopping) {
                        fail(index, i, "gate " + step.bytes + " was never opened");
                    }
                    ok = false;
                }
                break;
            }
            case Script::Step::Kind::ReadUntilClosed:
                while (!peerClosed && readSome(deadline) == Wait::Ready) {
                }
                if (!peerClosed) {
                    fail(index, i, "the client did not close");
                    ok = false;
                }
                break;
        }
        if (!ok) {
            open = false;
        }
    }
    // A script that ends with the connection open keeps it until the client closes.
    if (open) {
        while (!peerClosed && readSome(nowMs() + kStepTimeoutMs) == Wait::Ready) {
        }
    }
    ::close(fd);
    {
        std::lock_guard lock(m_mutex);
        m_finished[index] = true;
    }
    m_changed.notify_all();
}

}  // namespace upd::test
