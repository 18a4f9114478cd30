// The per-socket calls of the download engine: name lookup, the bounded blocking connect
// that hands the socket over to the reactor, linger, send and receive. TCP over IPv4 and
// IPv6.
//
// Ownership: ConnectToHost returns a descriptor that the caller owns and must give back
// with closeSocket(), which also stops its notifications. Failures are return values
// (-1), never exceptions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "net/reactor.h"

namespace upd::net {

// The IPv4 address of a dotted address or a host name, in network byte order, read as a
// signed 32-bit value; -1 when the name cannot be resolved. "255.255.255.255" is -1 too:
// it cannot be told from a failure, and nothing can be connected there.
std::int32_t ResolveHost(std::string_view name);

// The first IPv6 address of an IPv6 address text or a host name (brackets allowed:
// "[::1]"), for a SOCKS5 request when the name has no IPv4 address; nothing when there is
// none.
std::optional<std::array<std::uint8_t, 16>> ResolveHostIPv6(std::string_view name);

// A host as URLs write it or as the proxy dialog takes it, without the brackets of an IPv6
// address: "[::1]" -> "::1"; everything else as it is.
std::string unbracketed(std::string_view host);

// SO_LINGER {on, seconds}, then read back; 0 when both calls succeed, -1 otherwise.
std::int32_t SetLinger(int socket, int on, int seconds);

// Resolves `host` (a name, an IPv4 address, an IPv6 address with or without brackets) to
// its IPv6 and IPv4 addresses and tries them in the resolver's order, each for at most
// connectTimeoutMs() and all of them together for at most twice that, so that a name whose
// first address is unreachable still gets to the next. The connected socket gets linger
// {1, 0} so that a close resets at once, and goes to `reactor` with `sink` for its
// notifications (the first one is a write). Returns the descriptor, or -1 when no address
// could be connected (nothing is left open then). Uses the low 16 bits of `port`.
int ConnectToHost(std::string_view host, std::int32_t port, Reactor& reactor, Reactor::Sink sink);

// The bound on connecting to one address; 15 s unless changed (tests and updtool shorten
// it).
std::int64_t connectTimeoutMs();
void setConnectTimeoutMs(std::int64_t ms);

// One send call: the text's ANSI bytes (system code page). Empty data returns 0 without a
// call; otherwise the bytes sent or -1 (a send that would block is -1 too).
std::int64_t SendData(int socket, std::string_view text);
// One send call with the bytes unchanged.
std::int64_t SendData(int socket, std::span<const std::uint8_t> bytes);

// A send that tells "would block" from a failure; the reactor is told to report the next
// write notification when it would block.
struct SendResult {
    std::int64_t sent = 0;  // bytes taken by the socket
    bool wouldBlock = false;
    bool failed = false;
};
SendResult trySend(int socket, std::string_view bytes, Reactor& reactor);

// One recv call (retried on EINTR); re-arms the read notification as Winsock does.
// Returns the byte count, 0 when the peer has closed, -1 when nothing is waiting, or
// kReceiveFailed when the connection broke (a reset): the bytes stop short of the end.
inline constexpr std::int64_t kReceiveFailed = -2;
std::int64_t receiveData(int socket, std::uint8_t* buffer, std::size_t size, Reactor& reactor);

// Stops the socket's notifications and closes it. Ignores -1.
void closeSocket(int socket, Reactor& reactor);

}  // namespace upd::net
