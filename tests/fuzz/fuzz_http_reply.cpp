// Feeds a peer's reply to the response header collector, the header parser and the chunk
// decoder, split into pieces whose sizes the first bytes choose. Whatever the split, the
// result must be the same as for the whole reply fed at once.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/chunked_decoder.h"
#include "net/http_response.h"

namespace {

struct Outcome {
    std::string header;
    std::string data;
    int state = -1;
    bool operator==(const Outcome&) const = default;
};

Outcome run(std::string_view reply, std::string_view sizes) {
    Outcome out;
    upd::net::HeaderCollector collector;
    upd::net::ChunkedDecoder chunks;
    bool inHeader = true;
    std::size_t pos = 0;
    for (std::size_t k = 0; pos < reply.size(); ++k) {
        const std::size_t n =
            sizes.empty() ? reply.size() : 1 + static_cast<unsigned char>(sizes[k % sizes.size()]);
        std::string_view piece = reply.substr(pos, n);
        pos += piece.size();
        if (inHeader) {
            const auto r = collector.feed(piece);
            if (r.status == upd::net::HeaderCollector::Status::TooLong) {
                return out;
            }
            if (r.status != upd::net::HeaderCollector::Status::Complete) {
                continue;
            }
            out.header = collector.takeHeader();
            (void)upd::net::parseResponseHeader(out.header);
            inHeader = false;
            piece = piece.substr(r.bodyOffset);
        }
        chunks.feed(piece, out.data);
    }
    out.state = static_cast<int>(chunks.state());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = size == 0 ? 0 : data[0] % 8;
    const std::string_view sizes = input.substr(std::min<std::size_t>(1, size), split);
    const std::string_view reply = input.substr(std::min(size, 1 + split));
    if (run(reply, sizes) != run(reply, {})) {
        __builtin_trap();
    }
    return 0;
}
