#include "net/socket_layer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/code_page.h"
#include "platform/monotonic_clock.h"

namespace upd::net {
namespace {

std::int64_t g_connectTimeoutMs = 15'000;

using platform::monotonicMs;

// All addresses of a name together get this many times the time-out of one.
constexpr std::int64_t kAttemptBoundFactor = 2;

// connect() on a non-blocking socket, then poll for its completion until the deadline.
bool connectWithin(int socket, const sockaddr* address, socklen_t length, std::int64_t timeoutMs) {
    if (connect(socket, address, length) == 0) {
        return true;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return false;
    }
    const std::int64_t deadline = monotonicMs() + timeoutMs;
    for (;;) {
        const std::int64_t left = deadline - monotonicMs();
        if (left <= 0) {
            return false;
        }
        pollfd p{socket, POLLOUT, 0};
        const int rc = poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left, 1'000'000)));
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0) {
            return false;
        }
        int error = 0;
        socklen_t errorLength = sizeof error;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0) {
            return false;
        }
        return error == 0;
    }
}

// getaddrinfo for TCP in `family`; nullptr when the name has no such address.
addrinfo* lookUp(const std::string& name, int family) {
    if (name.empty() || name.find('\0') != std::string::npos) {
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) {
        return nullptr;
    }
    return found;
}

// One address of the list: a socket connected within `timeoutMs`, or -1.
int connectOne(const addrinfo& a, std::uint16_t port, std::int64_t timeoutMs) {
    sockaddr_storage address{};
    if (a.ai_addr == nullptr || a.ai_addrlen > sizeof address) {
        return -1;
    }
    std::memcpy(&address, a.ai_addr, a.ai_addrlen);
    if (a.ai_family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(port);
    } else if (a.ai_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(port);
    } else {
        return -1;
    }
    const int s = socket(a.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) {
        return -1;
    }
    if (SetLinger(s, 1, 0) != 0 ||
        !connectWithin(s, reinterpret_cast<const sockaddr*>(&address), a.ai_addrlen, timeoutMs)) {
        close(s);
        return -1;
    }
    return s;
}

}  // namespace

std::int32_t ResolveHost(std::string_view name) {
    const std::string text(name);
    if (text.empty() || text.find('\0') != std::string::npos) {
        return -1;
    }
    const in_addr_t direct = inet_addr(text.c_str());
    if (direct != INADDR_NONE) {
        return static_cast<std::int32_t>(direct);
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return -1;
    }
    std::int32_t result = -1;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
            in_addr_t address = 0;
            std::memcpy(&address, &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr,
                        sizeof address);
            result = static_cast<std::int32_t>(address);
            break;
        }
    }
    freeaddrinfo(found);
    return result;
}

std::int32_t SetLinger(int socket, int on, int seconds) {
    linger value{on, seconds};
    if (setsockopt(socket, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) {
        return -1;
    }
    linger back{};
    socklen_t length = sizeof back;
    if (getsockopt(socket, SOL_SOCKET, SO_LINGER, &back, &length) != 0) {
        return -1;
    }
    return 0;
}

std::optional<std::array<std::uint8_t, 16>> ResolveHostIPv6(std::string_view name) {
    addrinfo* found = lookUp(unbracketed(name), AF_INET6);
    std::optional<std::array<std::uint8_t, 16>> result;
    for (const addrinfo* a = found; a != nullptr && !result; a = a->ai_next) {
        if (a->ai_family == AF_INET6 && a->ai_addr != nullptr) {
            result.emplace();
            std::memcpy(result->data(),
                        &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr,
                        result->size());
        }
    }
    if (found != nullptr) {
        freeaddrinfo(found);
    }
    return result;
}

std::string unbracketed(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return std::string(host);
}

int ConnectToHost(std::string_view host, std::int32_t port, Reactor& reactor, Reactor::Sink sink) {
    const std::string name = unbracketed(host);
    // Kept from the IPv4-only lookup: the broadcast address names nothing to connect to.
    if (name == "255.255.255.255") {
        return -1;
    }
    addrinfo* found = lookUp(name, AF_UNSPEC);
    const std::int64_t deadline = monotonicMs() + kAttemptBoundFactor * g_connectTimeoutMs;
    int s = -1;
    for (const addrinfo* a = found; a != nullptr && s < 0; a = a->ai_next) {
        const std::int64_t left = deadline - monotonicMs();
        if (left <= 0) {
            break;
        }
        s = connectOne(*a, static_cast<std::uint16_t>(port & 0xFFFF),
                       std::min(left, g_connectTimeoutMs));
    }
    if (found != nullptr) {
        freeaddrinfo(found);
    }
    if (s >= 0 && !reactor.watch(s, std::move(sink))) {
        close(s);
        return -1;
    }
    return s;
}

std::int64_t connectTimeoutMs() {
    return g_connectTimeoutMs;
}

void setConnectTimeoutMs(std::int64_t ms) {
    g_connectTimeoutMs = ms < 1 ? 1 : ms;
}

std::int64_t SendData(int socket, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return 0;
    }
    const ssize_t n = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    return n < 0 ? -1 : static_cast<std::int64_t>(n);
}

std::int64_t SendData(int socket, std::string_view text) {
    const std::string ansi = platform::toAnsi(text, platform::systemCodePage());
    return SendData(socket,
                    std::span(reinterpret_cast<const std::uint8_t*>(ansi.data()), ansi.size()));
}

SendResult trySend(int socket, std::string_view bytes, Reactor& reactor) {
    SendResult result;
    while (static_cast<std::size_t>(result.sent) < bytes.size()) {
        const auto offset = static_cast<std::size_t>(result.sent);
        const ssize_t n = send(socket, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (n > 0) {
            result.sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            result.wouldBlock = true;
            reactor.rearmWrite(socket);
        } else {
            result.failed = true;
        }
        break;
    }
    return result;
}

std::int64_t receiveData(int socket, std::uint8_t* buffer, std::size_t size, Reactor& reactor) {
    ssize_t n = 0;
    do {
        n = recv(socket, buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    const bool broken = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK;
    reactor.rearmRead(socket);
    if (n < 0) {
        return broken ? kReceiveFailed : -1;
    }
    return static_cast<std::int64_t>(n);
}

void closeSocket(int socket, Reactor& reactor) {
    if (socket < 0) {
        return;
    }
    reactor.unwatch(socket);
    close(socket);
}

}  // namespace upd::net
