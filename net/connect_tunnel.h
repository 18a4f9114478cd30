// The HTTP proxy's CONNECT exchange (RFC 9110, 9.3.6): it asks the proxy for a tunnel to
// the origin's host and port, through which the download object then speaks TLS. A state
// machine fed by the download object like the SOCKS ones: onWritable() on a write
// notification, onReceived() with each receive. It never blocks and does no I/O itself; a
// reply split across receives is collected until its header is complete.
//
//   SendRequest -> AwaitReply -> Established     a 2xx reply
//                             -> Refused         any other status, a reply that is not
//                                                HTTP, or a header longer than 64 KiB
//
// Failure: Refused carries what the proxy said (its status line) as text; the download
// object raises failure 8, the proxy failure, as for a SOCKS proxy that refuses.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "net/http_response.h"

namespace upd::net {

class ConnectTunnel {
  public:
    enum class State { SendRequest, AwaitReply, Established, Refused };

    struct Params {
        std::string host;         // as in the URL: a name, an IPv4 address or "[::1]"
        std::int32_t port = 443;  // the origin's port
        std::string userAgent;
        // "Basic <Base64>" for Proxy-Authorization; empty sends none.
        std::string proxyAuthorization;
    };

    explicit ConnectTunnel(Params params);

    State state() const { return m_state; }
    // Refused: why, as a sentence for a message, quoting printable ASCII only: "the proxy
    // answered CONNECT with "HTTP/1.1 403 Forbidden"".
    const std::string& refusal() const { return m_refusal; }
    // Established: bytes that followed the reply's header in the same receive; they
    // belong to the tunnel (the origin's first TLS bytes). Leaves none behind.
    std::string takeTunnelBytes() { return std::exchange(m_tunnelBytes, {}); }

    // In SendRequest: the request (state becomes AwaitReply). Otherwise nothing.
    std::string onWritable();
    // In AwaitReply: collects the reply; decides once its header is complete. An interim
    // reply (1xx) is skipped.
    State onReceived(std::string_view bytes);

    //   CONNECT example.org:443 HTTP/1.1
    //   Host: example.org:443
    //   User-Agent: <userAgent>
    //   Proxy-Authorization: Basic <Base64 of "user:pass">    (when given)
    //   <empty line>
    static std::string buildRequest(const Params& params);
    static std::string_view stateName(State state);

    // Receives "from => to" for every change of state.
    void setTrace(std::function<void(std::string_view)> trace) { m_trace = std::move(trace); }

  private:
    void setState(State next);
    void refuse(std::string why);

    Params m_params;
    static constexpr int kMaxInterimReplies = 16;
    int m_interimReplies = 0;
    State m_state = State::SendRequest;
    HeaderCollector m_reply;
    std::string m_refusal;
    std::string m_tunnelBytes;
    std::function<void(std::string_view)> m_trace;
};

}  // namespace upd::net
