#include "publishing/file_digest.h"

#include <array>
#include <limits>

#include "publishing/crypto_library.h"
#include "publishing/file_digest_pass.h"

namespace upd::wizard {
namespace {

constexpr std::size_t kHexDigits = crypto_hash_sha256_BYTES * 2;

using Digest = std::array<unsigned char, crypto_hash_sha256_BYTES>;

std::string hexOf(const Digest& digest) {
    std::array<char, kHexDigits + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    return std::string(hex.data(), kHexDigits);
}

}  // namespace

std::optional<std::string> sha256FileHex(const std::string& path, std::string* error) {
    FileDigestPass pass(path);
    while (!pass.step(std::numeric_limits<std::int64_t>::max())) {
    }
    if (pass.failed()) {
        if (error != nullptr) {
            *error = pass.error();
        }
        return std::nullopt;
    }
    return pass.hex();
}

std::string sha256Hex(std::string_view bytes) {
    // The hash itself needs no start-up; the call keeps the library's choice of code paths.
    (void)cryptoLibraryReady();
    Digest digest{};
    crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size());
    return hexOf(digest);
}

bool isSha256Hex(std::string_view text) {
    if (text.size() != kHexDigits) {
        return false;
    }
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

}  // namespace upd::wizard
