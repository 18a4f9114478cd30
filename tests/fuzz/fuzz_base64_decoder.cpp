// Feeds arbitrary bytes to the Base64 decoder in a single-byte and a double-byte code page.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const upd::net::Bytes decoded = upd::net::base64DecodeBytes(input);
    if (decoded.size() != (size / 4 + (size % 4 >= 2 ? 1 : 0)) * 3 + 1) {
        __builtin_trap();
    }
    (void)upd::net::AnsiBytesToText(decoded, 936);
    (void)upd::net::AnsiBytesToText(decoded, 1252);
    (void)upd::net::Base64DecodeText(input, 950);
    // What the encoder writes, the decoder reads back.
    const std::string encoded = upd::net::base64EncodeBytes(input);
    const upd::net::Bytes back = upd::net::base64DecodeBytes(encoded);
    if (back.size() < size ||
        std::string_view(reinterpret_cast<const char*>(back.data()), size) != input) {
        __builtin_trap();
    }
    return 0;
}
