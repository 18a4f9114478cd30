#include "net/chunked_decoder.h"

#include <algorithm>

#include "net/ascii_case.h"

namespace upd::net {
namespace {}  // namespace

// "1a;name=value" -> 26. At least one hex digit, at most 15 (no overflow), then nothing or
// blanks and extensions.
bool ChunkedDecoder::takeSizeLine() {
    std::uint64_t size = 0;
    std::size_t i = 0;
    for (; i < m_line.size() && hexDigitValue(m_line[i]) >= 0; ++i) {
        if (i == 15) {
            return false;
        }
        size = size * 16 + static_cast<std::uint64_t>(hexDigitValue(m_line[i]));
    }
    if (i == 0 ||
        (i < m_line.size() && m_line[i] != ';' && m_line[i] != ' ' && m_line[i] != '\t')) {
        return false;
    }
    m_remaining = size;
    m_state = size == 0 ? State::Trailer : State::Data;
    return true;
}

std::size_t ChunkedDecoder::feed(std::string_view input, std::string& out) {
    std::size_t pos = 0;
    while (pos < input.size() && m_state != State::Done && m_state != State::Broken) {
        switch (m_state) {
            case State::Size:
            case State::Trailer: {
                const char c = input[pos++];
                if (c != '\n') {
                    m_line += c;
                    if (m_line.size() > kMaxLineBytes ||
                        (m_state == State::Trailer && ++m_trailerBytes > kMaxTrailerBytes)) {
                        m_state = State::Broken;
                    }
                    break;
                }
                if (m_line.empty() || m_line.back() != '\r') {
                    m_state = State::Broken;  // a bare LF
                    break;
                }
                m_line.pop_back();
                if (m_state == State::Size) {
                    if (!takeSizeLine()) {
                        m_state = State::Broken;
                    }
                } else if (m_line.empty()) {
                    m_state = State::Done;  // the empty line after the trailer
                }
                m_line.clear();
                break;
            }
            case State::Data: {
                const std::size_t n = static_cast<std::size_t>(
                    std::min<std::uint64_t>(m_remaining, input.size() - pos));
                out.append(input.substr(pos, n));
                pos += n;
                m_remaining -= n;
                if (m_remaining == 0) {
                    m_state = State::DataEnd;
                }
                break;
            }
            case State::DataEnd:
                // The CR LF after the data: two bytes, collected like a line that must be empty.
                m_line += input[pos++];
                if (m_line.size() == 2) {
                    m_state = m_line == "\r\n" ? State::Size : State::Broken;
                    m_line.clear();
                }
                break;
            case State::Done:
            case State::Broken:
                break;
        }
    }
    return pos;
}

}  // namespace upd::net
