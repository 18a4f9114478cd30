// The chunked transfer coding of an HTTP/1.1 body (RFC 9112, 7.1), which a server may use
// for the answer to a resumed (HTTP/1.1) request:
//
//     5;ext=1\r\n     size in hex, optional extensions
//     hello\r\n       that many bytes, then CR LF
//     0\r\n           the last chunk
//     X-Trailer: y\r\n
//     \r\n            the end of the trailer
//
// A state machine fed in pieces of any size; it hands out the data bytes and tells when the
// body is complete. A peer controls everything here, so sizes, lines and trailer are bounded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace upd::net {

class ChunkedDecoder {
  public:
    static constexpr std::size_t kMaxLineBytes = 4096;  // a size line or a trailer line
    static constexpr std::size_t kMaxTrailerBytes = 65536;

    enum class State { Size, Data, DataEnd, Trailer, Done, Broken };

    // Decodes `input`, appending the data bytes to `out`. Returns how many input bytes were
    // taken: all of them, unless the body ended (Done) or the framing broke (Broken)
    // inside this piece.
    std::size_t feed(std::string_view input, std::string& out);

    State state() const { return m_state; }
    bool done() const { return m_state == State::Done; }
    bool broken() const { return m_state == State::Broken; }
    void reset() { *this = ChunkedDecoder(); }

  private:
    bool takeSizeLine();

    State m_state = State::Size;
    std::string m_line;             // the size or trailer line being collected
    std::uint64_t m_remaining = 0;  // data bytes left in this chunk
    std::size_t m_trailerBytes = 0;
};

}  // namespace upd::net
