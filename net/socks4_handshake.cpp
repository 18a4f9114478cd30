#include "net/socks4_handshake.h"

#include <algorithm>
#include <cstring>

namespace upd::net {

Socks4Handshake::Socks4Handshake(Params params) : m_params(std::move(params)) {}

// Request (SOCKS 4 protocol; 4a extension):
//
//   +----+----+----+----+----+----+----+----+----+....+----+----+....+----+
//   | VN | CD | DSTPORT |      DSTIP        | USERID    |NULL| HOST      |NULL|
//   +----+----+----+----+----+----+----+----+----+....+----+----+....+----+
//     4    1   hi   lo    a    b    c    d                    (4a only: DSTIP
//                                                               0.0.0.1 + HOST)
// Port 80, address 10.0.0.2, no user: 04 01 00 50 0A 00 00 02 00 (9 bytes).
std::string Socks4Handshake::buildRequest(const Params& p) {
    std::string out;
    out += '\x04';
    out += '\x01';
    out += static_cast<char>((p.port >> 8) & 0xFF);
    out += static_cast<char>(p.port & 0xFF);
    if (p.remoteDns) {
        out += std::string("\0\0\0\x01", 4);
    } else {
        char address[4];
        std::memcpy(address, &p.address, sizeof address);  // already in network order
        out.append(address, sizeof address);
    }
    out += p.userId;
    out += '\0';
    if (p.remoteDns) {
        out += p.host;
        out += '\0';
    }
    return out;
}

std::string Socks4Handshake::onWritable() {
    if (m_state != State::SendRequest) {
        return {};
    }
    setState(State::AwaitReply);
    return buildRequest(m_params);
}

// Reply:
//
//   +----+----+----+----+----+----+----+----+
//   | VN | CD | DSTPORT |      DSTIP        |    CD 90: granted; 91-93: rejected
//   +----+----+----+----+----+----+----+----+    (VN is 0 and not examined)
Socks4Handshake::State Socks4Handshake::onReceived(std::string_view bytes) {
    if (m_state != State::AwaitReply) {
        return m_state;
    }
    m_reply.append(bytes.substr(0, kReplyLength - std::min(m_reply.size(), kReplyLength)));
    if (m_reply.size() < 2) {
        return m_state;
    }
    if (static_cast<std::uint8_t>(m_reply[1]) != kGranted) {
        setState(State::Rejected);
    } else if (m_reply.size() >= kReplyLength) {
        setState(State::Granted);
    }
    return m_state;
}

std::string_view Socks4Handshake::stateName(State state) {
    switch (state) {
        case State::SendRequest:
            return "SendRequest";
        case State::AwaitReply:
            return "AwaitReply";
        case State::Granted:
            return "Granted";
        case State::Rejected:
            return "Rejected";
    }
    return "?";
}

void Socks4Handshake::setState(State next) {
    if (m_trace) {
        m_trace(std::string("socks4: ") + std::string(stateName(m_state)) + " => " +
                std::string(stateName(next)));
    }
    m_state = next;
}

}  // namespace upd::net
