// Feeds a proxy's replies to the SOCKS4 and SOCKS5 state machines, split into pieces whose
// sizes the first bytes choose, asking for the next request before every piece. Nothing
// may crash or read out of bounds, and a SOCKS5 failure must name one of the codes 8, 9
// or 10.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/socks4_handshake.h"
#include "net/socks5_handshake.h"

namespace {

template <class Handshake>
int drive(Handshake& machine, std::string_view replies, std::string_view sizes) {
    std::size_t pos = 0;
    for (std::size_t k = 0; pos < replies.size() && k < replies.size() + 8; ++k) {
        (void)machine.onWritable();
        const std::size_t n = sizes.empty()
                                  ? replies.size()
                                  : 1 + static_cast<unsigned char>(sizes[k % sizes.size()]) % 16;
        const auto piece = replies.substr(pos, n);
        pos += piece.size();
        machine.onReceived(piece);
    }
    return static_cast<int>(machine.state());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = data[0] % 8;
    const bool withPassword = (data[1] & 1) != 0;
    const bool remoteDns = (data[1] & 2) != 0;
    const std::string_view sizes = input.substr(2, split);
    const std::string_view replies = input.substr(std::min(size, 2 + split));

    const upd::net::Socks4Handshake::Params p4{80, 0x0100007F, remoteDns, "user", "example.org"};
    upd::net::Socks4Handshake four(p4);
    (void)drive(four, replies, sizes);

    upd::net::Socks5Handshake::Params p5;
    p5.offeredMethod = withPassword ? upd::net::Socks5Handshake::kMethodUserPassword : 0;
    p5.user = "u";
    p5.password = "p";
    p5.remoteDns = remoteDns;
    p5.host = "example.org";
    p5.address = 0x0100007F;
    p5.port = 80;
    upd::net::Socks5Handshake five(p5);
    (void)drive(five, replies, sizes);
    if (five.state() == upd::net::Socks5Handshake::State::Failed &&
        (five.failureCode() < 8 || five.failureCode() > 10)) {
        __builtin_trap();
    }
    return 0;
}
