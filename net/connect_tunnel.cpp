#include "net/connect_tunnel.h"

#include <utility>

namespace upd::net {
namespace {

// How much of a status line a refusal quotes.
constexpr std::size_t kMaxQuoted = 200;

// The status line, cut and with anything but printable ASCII made "?": it ends up in a
// message, and a proxy chooses its bytes.
std::string printable(std::string_view line) {
    std::string out(line.substr(0, kMaxQuoted));
    for (char& c : out) {
        if (c < 0x20 || c > 0x7E) {
            c = '?';
        }
    }
    return out;
}

// "HTTP/1.1 200 Connection established" -> 200; -1 when the line is no HTTP status line.
// Unlike the origin's reply, a reason phrase is not needed: "HTTP/1.1 200" is a valid one.
int statusOf(std::string_view line) {
    if (!line.starts_with("HTTP/")) {
        return -1;
    }
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || line.size() < blank + 4) {
        return -1;
    }
    int status = 0;
    for (std::size_t i = blank + 1; i < blank + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return -1;
        }
        status = status * 10 + (line[i] - '0');
    }
    if (line.size() > blank + 4 && line[blank + 4] != ' ') {
        return -1;
    }
    return status;
}

}  // namespace

ConnectTunnel::ConnectTunnel(Params params) : m_params(std::move(params)) {}

std::string ConnectTunnel::buildRequest(const Params& p) {
    // The authority form: the host as the URL writes it, brackets of an IPv6 address kept.
    const std::string authority = p.host + ":" + std::to_string(p.port);
    std::string text = "CONNECT " + authority + " HTTP/1.1\r\n";
    text += "Host: " + authority + "\r\n";
    text += "User-Agent: " + p.userAgent + "\r\n";
    if (!p.proxyAuthorization.empty()) {
        text += "Proxy-Authorization: " + p.proxyAuthorization + "\r\n";
    }
    text += "\r\n";
    return text;
}

std::string ConnectTunnel::onWritable() {
    if (m_state != State::SendRequest) {
        return {};
    }
    setState(State::AwaitReply);
    return buildRequest(m_params);
}

ConnectTunnel::State ConnectTunnel::onReceived(std::string_view bytes) {
    while (m_state == State::AwaitReply) {
        const auto r = m_reply.feed(bytes);
        if (r.status == HeaderCollector::Status::Incomplete) {
            break;
        }
        if (r.status == HeaderCollector::Status::TooLong) {
            refuse("the proxy's reply to CONNECT has a header longer than 64 KiB");
            break;
        }
        std::string header = m_reply.takeHeader();
        const std::string line = ReadHeaderLine(header);
        const int status = statusOf(line);
        bytes = bytes.substr(r.bodyOffset);
        if (status < 0) {
            refuse("the proxy's reply to CONNECT is not HTTP: \"" + printable(line) + "\"");
        } else if (status >= 200 && status < 300) {
            m_tunnelBytes.assign(bytes);
            setState(State::Established);
        } else if (status < 100 || status >= 200) {
            refuse("the proxy answered CONNECT with \"" + printable(line) + "\"");
        } else if (++m_interimReplies > kMaxInterimReplies) {
            // A proxy trickling "100 Continue" forever would hold the tunnel open unbounded.
            refuse("the proxy sent more than " + std::to_string(kMaxInterimReplies) +
                   " interim replies to CONNECT");
        }
        // Otherwise an interim reply (1xx): the final one follows, maybe in the same bytes.
    }
    return m_state;
}

std::string_view ConnectTunnel::stateName(State state) {
    switch (state) {
        case State::SendRequest:
            return "SendRequest";
        case State::AwaitReply:
            return "AwaitReply";
        case State::Established:
            return "Established";
        case State::Refused:
            return "Refused";
    }
    return "?";
}

void ConnectTunnel::refuse(std::string why) {
    m_refusal = std::move(why);
    setState(State::Refused);
}

void ConnectTunnel::setState(State next) {
    if (m_trace) {
        m_trace(std::string("connect: ") + std::string(stateName(m_state)) + " => " +
                std::string(stateName(next)));
    }
    m_state = next;
}

}  // namespace upd::net
