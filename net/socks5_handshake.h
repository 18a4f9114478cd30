// The SOCKS5 exchange (RFC 1928) with the user-name/password method (RFC 1929). A state
// machine fed by the download object: onWritable() on a write notification, onReceived()
// with each receive. It never blocks and does no I/O itself; a reply split across receives
// is collected until it is complete.
//
//   SendGreeting -> AwaitMethod -> [SendAuth -> AwaitAuth ->] SendConnect -> AwaitConnect -> Done
//                          any step may end in Failed, with the failure code to raise:
//   9  the proxy accepts none of the methods offered (or picks one that was not offered
//      and that this client does not speak),
//   10 the proxy refuses the user name and password (or they are longer than the 255
//      bytes a length byte can count),
//   8  the proxy refuses the connection (or the host name is longer than 255 bytes, or
//      an IPv6 address is not 16 bytes).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace upd::net {

class Socks5Handshake {
  public:
    enum class State {
        SendGreeting,
        AwaitMethod,
        SendAuth,
        AwaitAuth,
        SendConnect,
        AwaitConnect,
        Done,
        Failed
    };

    struct Params {
        std::uint8_t offeredMethod = 0;  // 0: no authentication only; otherwise this and 0
        std::string user;                // code-page bytes
        std::string password;            // code-page bytes
        bool remoteDns = false;          // send the host name (ATYP 3) instead of an address
        std::string host;                // code-page bytes, for remoteDns
        std::int32_t address = -1;       // ResolveHost() of the origin (network byte order)
        std::int32_t port = 0;           // the origin server's port
        // The origin's IPv6 address (16 bytes), sent instead of `address` when set (and
        // instead of the name of an IPv6 address, even with remoteDns).
        std::string address6;
    };

    static constexpr std::uint8_t kNoAcceptableMethod = 255;
    static constexpr std::uint8_t kMethodNone = 0;
    static constexpr std::uint8_t kMethodUserPassword = 2;

    explicit Socks5Handshake(Params params);

    State state() const { return m_state; }
    // In Failed: 8, 9 or 10.
    std::int32_t failureCode() const { return m_failureCode; }
    // The method the proxy chose, once its reply has arrived (and was not 255).
    std::optional<std::uint8_t> chosenMethod() const { return m_chosenMethod; }
    // Replies accepted so far (method, authentication, connect).
    int repliesHandled() const { return m_replies; }

    // In a Send state: the message to send (state moves to the matching Await state), or
    // nothing and Failed when a field cannot be encoded. Otherwise nothing.
    std::string onWritable();
    // In an Await state: collects the reply; decides on its second byte (the first, the
    // version, is not examined) and, for a success, once the whole reply is there.
    State onReceived(std::string_view bytes);

    static std::string buildGreeting(std::uint8_t offeredMethod);
    static std::optional<std::string> buildUserPassword(std::string_view user,
                                                        std::string_view password);
    static std::optional<std::string> buildConnect(const Params& params);
    static std::string_view stateName(State state);

    // Receives "from => to" for every change of state.
    void setTrace(std::function<void(std::string_view)> trace) { m_trace = std::move(trace); }

  private:
    void setState(State next);
    void fail(std::int32_t code);
    // Bytes of the connect reply needed, given what has arrived (at least 4 known).
    std::size_t connectReplyLength() const;

    Params m_params;
    State m_state = State::SendGreeting;
    std::string m_reply;
    std::int32_t m_failureCode = 0;
    std::optional<std::uint8_t> m_chosenMethod;
    int m_replies = 0;
    std::function<void(std::string_view)> m_trace;
};

}  // namespace upd::net
