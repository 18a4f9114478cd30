// A listening TCP socket on 127.0.0.1 with a free port, and a connected pair built on it.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace upd::test {

class LoopbackListener {
  public:
    explicit LoopbackListener(int backlog = 16) {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            listen(m_fd, backlog) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        m_port = ntohs(a.sin_port);
    }
    ~LoopbackListener() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int fd() const { return m_fd; }
    std::uint16_t port() const { return m_port; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    int accept() const { return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC); }

    // A blocking client socket connected to this listener (-1 on failure).
    int connectClient() const {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(m_port);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

  private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// A connected pair on 127.0.0.1: `client` is non-blocking, as the engine's sockets are.
struct TcpPair {
    TcpPair() {
        LoopbackListener listener(1);
        client = listener.connectClient();
        server = listener.accept();
        fcntl(client, F_SETFL, O_NONBLOCK);
    }
    ~TcpPair() {
        for (const int fd : {client, server}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    TcpPair(const TcpPair&) = delete;
    TcpPair& operator=(const TcpPair&) = delete;
    int client = -1;
    int server = -1;
};

}  // namespace upd::test
