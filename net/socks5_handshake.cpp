#include "net/socks5_handshake.h"

#include <algorithm>
#include <cstring>

namespace upd::net {
namespace {

// The longest reply: a connect reply with a 255-byte domain name (4 + 1 + 255 + 2).
constexpr std::size_t kLongestReply = 262;

}  // namespace

Socks5Handshake::Socks5Handshake(Params params) : m_params(std::move(params)) {}

// Greeting (RFC 1928, 3):
//
//   +----+----------+----------+
//   |VER | NMETHODS | METHODS  |    05 01 00       no authentication only
//   +----+----------+----------+    05 02 02 00    user/password, or none
//   | 05 |    1     | 1 to 255 |
//   +----+----------+----------+
std::string Socks5Handshake::buildGreeting(std::uint8_t offeredMethod) {
    if (offeredMethod == kMethodNone) {
        return std::string("\x05\x01\x00", 3);
    }
    std::string out("\x05\x02", 2);
    out += static_cast<char>(offeredMethod);
    out += '\0';
    return out;
}

// User name/password (RFC 1929, 2):
//
//   +----+------+----------+------+----------+
//   |VER | ULEN |  UNAME   | PLEN |  PASSWD  |    VER 01; the lengths count bytes,
//   +----+------+----------+------+----------+    so neither may exceed 255
//   | 01 |  1   | 0 to 255 |  1   | 0 to 255 |
//   +----+------+----------+------+----------+
std::optional<std::string> Socks5Handshake::buildUserPassword(std::string_view user,
                                                              std::string_view password) {
    if (user.size() > 255 || password.size() > 255) {
        return std::nullopt;
    }
    std::string out;
    out += '\x01';
    out += static_cast<char>(user.size());
    out += user;
    out += static_cast<char>(password.size());
    out += password;
    return out;
}

// Connect request (RFC 1928, 4):
//
//   +----+-----+-------+------+----------+----------+
//   |VER | CMD |  RSV  | ATYP | DST.ADDR | DST.PORT |   ATYP 01: 4 address bytes
//   +----+-----+-------+------+----------+----------+   ATYP 03: length byte + name
//   | 05 | 01  |  00   |  1   | Variable |    2     |   ATYP 04: 16 address bytes
//   +----+-----+-------+------+----------+----------+   port high byte first
std::optional<std::string> Socks5Handshake::buildConnect(const Params& p) {
    std::string out("\x05\x01\x00", 3);
    if (!p.address6.empty()) {
        if (p.address6.size() != 16) {
            return std::nullopt;
        }
        out += '\x04';
        out += p.address6;
    } else if (p.remoteDns) {
        if (p.host.size() > 255) {
            return std::nullopt;
        }
        out += '\x03';
        out += static_cast<char>(p.host.size());
        out += p.host;
    } else {
        out += '\x01';
        char address[4];
        std::memcpy(address, &p.address, sizeof address);  // already in network order
        out.append(address, sizeof address);
    }
    out += static_cast<char>((p.port >> 8) & 0xFF);
    out += static_cast<char>(p.port & 0xFF);
    return out;
}

std::string Socks5Handshake::onWritable() {
    switch (m_state) {
        case State::SendGreeting:
            setState(State::AwaitMethod);
            return buildGreeting(m_params.offeredMethod);
        case State::SendAuth:
            if (auto message = buildUserPassword(m_params.user, m_params.password)) {
                setState(State::AwaitAuth);
                return *message;
            }
            fail(10);
            return {};
        case State::SendConnect:
            if (auto message = buildConnect(m_params)) {
                setState(State::AwaitConnect);
                return *message;
            }
            fail(8);
            return {};
        default:
            return {};
    }
}

// Replies:
//   method:          | VER | METHOD |           FF: no acceptable method
//   authentication:  | VER | STATUS |           00: success
//   connect:         | VER | REP | RSV | ATYP | BND.ADDR | BND.PORT |   REP 00: succeeded
std::size_t Socks5Handshake::connectReplyLength() const {
    switch (static_cast<std::uint8_t>(m_reply[3])) {
        case 1:
            return 4 + 4 + 2;
        case 3:
            return m_reply.size() < 5 ? 5 : 4 + 1 + static_cast<std::uint8_t>(m_reply[4]) + 2;
        case 4:
            return 4 + 16 + 2;
        default:
            return 4;  // an unknown address type: its length cannot be known
    }
}

Socks5Handshake::State Socks5Handshake::onReceived(std::string_view bytes) {
    if (m_state != State::AwaitMethod && m_state != State::AwaitAuth &&
        m_state != State::AwaitConnect) {
        return m_state;
    }
    m_reply.append(bytes.substr(0, kLongestReply - std::min(m_reply.size(), kLongestReply)));
    if (m_reply.size() < 2) {
        return m_state;
    }
    const auto second = static_cast<std::uint8_t>(m_reply[1]);
    switch (m_state) {
        case State::AwaitMethod:
            if (second == kNoAcceptableMethod) {
                fail(9);
                break;
            }
            m_chosenMethod = second;
            ++m_replies;
            if (second == kMethodNone) {
                setState(State::SendConnect);
            } else if (second == kMethodUserPassword) {
                setState(State::SendAuth);
            } else {
                fail(9);  // GSSAPI or a private method: nothing here speaks it
            }
            break;
        case State::AwaitAuth:
            if (second != 0) {
                fail(10);
                break;
            }
            ++m_replies;
            setState(State::SendConnect);
            break;
        case State::AwaitConnect:
            if (second != 0) {
                fail(8);
                break;
            }
            if (m_reply.size() < 4 || m_reply.size() < connectReplyLength()) {
                break;
            }
            ++m_replies;
            setState(State::Done);
            break;
        default:
            break;
    }
    return m_state;
}

std::string_view Socks5Handshake::stateName(State state) {
    switch (state) {
        case State::SendGreeting:
            return "SendGreeting";
        case State::AwaitMethod:
            return "AwaitMethod";
        case State::SendAuth:
            return "SendAuth";
        case State::AwaitAuth:
            return "AwaitAuth";
        case State::SendConnect:
            return "SendConnect";
        case State::AwaitConnect:
            return "AwaitConnect";
        case State::Done:
            return "Done";
        case State::Failed:
            return "Failed";
    }
    return "?";
}

void Socks5Handshake::fail(std::int32_t code) {
    m_failureCode = code;
    setState(State::Failed);
}

void Socks5Handshake::setState(State next) {
    if (m_trace) {
        m_trace(std::string("socks5: ") + std::string(stateName(m_state)) + " => " +
                std::string(stateName(next)));
    }
    m_state = next;
    // A reply is used up by the step that read it; what followed it in the same receive
    // belongs to no reply the proxy may send yet.
    m_reply.clear();
}

}  // namespace upd::net
