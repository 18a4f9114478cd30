// The failure codes of the download engine (the `Why` of DownloadFailed) and their fixed
// English texts. The GUI shows these texts as they are. The particular reason of a failure
// (which certificate check failed, what the proxy answered) is no code of its own: the
// download object keeps it as text (DataConnection::lastFailureDetail).
#pragma once

#include <cstdint>
#include <string>

namespace upd::net {

enum class FailureCode : std::int32_t {
    ClosedEarly = 0,          // the peer closed before the whole file had arrived
    UserAborted = 1,          // Disconnect
    NoWindow = 2,             // the notification hub could not be made
    SendFailed = 3,           // the HTTP request could not be sent
    BadReply = 4,             // not 200/206, no usable location, broken or endless header
    HostUnreachable = 5,      // the direct connection failed
    FileFailed = 6,           // the output file could not be created or written
    ProxyUnreachable = 7,     // the proxy could not be reached or fed
    ProxyRejected = 8,        // SOCKS connect refused
    ProxyMethodRejected = 9,  // no SOCKS5 method acceptable
    ProxyAuthRejected = 10,   // SOCKS5 user/password refused
    BadUrl = 11,              // FetchURLString could not use the URL
    TlsFailed = 12,           // no secure connection: handshake, certificate, https -> http
};

constexpr std::int32_t toWhy(FailureCode code) {
    return static_cast<std::int32_t>(code);
}

// The text of a code; "Unknown Error!" for any code without one (11 included).
std::string FailureToString(std::int32_t Why);

}  // namespace upd::net
