// The SOCKS4 CONNECT exchange, with the SOCKS4a form that lets the proxy resolve the host
// name. A state machine fed by the download object: onWritable() on a write notification,
// onReceived() with each receive. It never blocks and does no I/O itself; a reply split
// across receives is collected until it is complete.
//
// Failure: a reply code other than 90 ends in Rejected; the download object then raises
// failure 8 and closes the socket.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace upd::net {

class Socks4Handshake {
  public:
    enum class State { SendRequest, AwaitReply, Granted, Rejected };

    struct Params {
        std::int32_t port = 0;      // the origin server's port, not the proxy's
        std::int32_t address = -1;  // ResolveHost() of the origin (network byte order)
        bool remoteDns = false;     // SOCKS4a: send the host name instead
        std::string userId;         // code-page bytes, may be empty
        std::string host;           // code-page bytes, for remoteDns
    };

    static constexpr std::uint8_t kGranted = 90;
    static constexpr std::size_t kReplyLength = 8;

    explicit Socks4Handshake(Params params);

    State state() const { return m_state; }

    // In SendRequest: the request (state becomes AwaitReply). Otherwise nothing.
    std::string onWritable();
    // In AwaitReply: collects reply bytes; the reply code decides as soon as it has arrived
    // (a rejection needs no more), a grant needs all 8 bytes. Bytes after the reply are
    // ignored: a proxy sends nothing before the tunnel is used.
    State onReceived(std::string_view bytes);

    static std::string buildRequest(const Params& params);
    static std::string_view stateName(State state);

    // Receives "from => to" for every change of state.
    void setTrace(std::function<void(std::string_view)> trace) { m_trace = std::move(trace); }

  private:
    void setState(State next);

    Params m_params;
    State m_state = State::SendRequest;
    std::string m_reply;
    std::function<void(std::string_view)> m_trace;
};

}  // namespace upd::net
