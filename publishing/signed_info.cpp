#include "publishing/signed_info.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "platform/read_whole_file.h"
#include "publishing/crypto_library.h"

namespace upd::wizard {
namespace {

static_assert(std::tuple_size_v<PublicKey> == crypto_sign_PUBLICKEYBYTES);
static_assert(SecretKey::kBytes == crypto_sign_SECRETKEYBYTES);

// A key line is under 100 bytes; a file far larger is not a key file, and is not read whole.
constexpr std::size_t kMaxKeyFileBytes = 4096;

// The bounded reader, with one rule of its own: a link that names nothing is there, so a
// damaged update.pub can never read as no key at all.
platform::ReadResult readSmallFile(const std::string& path) {
    platform::ReadResult file = platform::readWholeFile(path, kMaxKeyFileBytes);
    struct stat link {};
    if (file.missing && ::lstat(path.c_str(), &link) == 0) {
        file.missing = false;
    }
    if (file.tooLarge) {
        file.error = path + " is too large to be a key file";
    }
    return file;
}

}  // namespace

SecretKey::SecretKey(SecretKey&& other) noexcept : m_bytes(other.m_bytes) {
    sodium_memzero(other.m_bytes.data(), other.m_bytes.size());
}

SecretKey& SecretKey::operator=(SecretKey&& other) noexcept {
    if (this != &other) {
        m_bytes = other.m_bytes;
        sodium_memzero(other.m_bytes.data(), other.m_bytes.size());
    }
    return *this;
}

SecretKey::~SecretKey() {
    sodium_memzero(m_bytes.data(), m_bytes.size());
}

std::optional<std::string> decodeKeyFileLine(std::string_view content, std::size_t expectedBytes,
                                             std::string& why) {
    // One line: a single LF or CR LF may end it, nothing else may follow.
    if (content.ends_with("\r\n")) {
        content.remove_suffix(2);
    } else if (content.ends_with('\n')) {
        content.remove_suffix(1);
    }
    if (content.empty()) {
        why = "the file is empty";
        return std::nullopt;
    }
    if (content.find_first_of("\r\n") != std::string_view::npos) {
        why = "the file holds more than one line";
        return std::nullopt;
    }
    if (!cryptoLibraryReady()) {
        why = "the cryptography library could not start";
        return std::nullopt;
    }
    // Without a set of characters to ignore and without an end pointer, any character
    // outside the alphabet, missing padding or stray bits after the last byte fail.
    std::vector<unsigned char> decoded(content.size());
    std::size_t length = 0;
    if (sodium_base642bin(decoded.data(), decoded.size(), content.data(), content.size(), nullptr,
                          &length, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0) {
        why = "the line is not Base64";
        return std::nullopt;
    }
    if (length != expectedBytes) {
        why = "the line holds " + std::to_string(length) + " bytes, not " +
              std::to_string(expectedBytes);
        return std::nullopt;
    }
    std::string bytes(reinterpret_cast<const char*>(decoded.data()), length);
    sodium_memzero(decoded.data(), decoded.size());
    return bytes;
}

std::string keyFileLine(std::span<const std::uint8_t> bytes) {
    (void)cryptoLibraryReady();
    std::string line(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(line.data(), line.size(), bytes.data(), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    line.resize(line.size() - 1);  // the NUL the encoder writes
    line += '\n';
    return line;
}

PublicKeyFile readPublicKeyFile(const std::string& path) {
    PublicKeyFile result;
    const platform::ReadResult file = readSmallFile(path);
    if (file.missing) {
        return result;
    }
    result.present = true;
    if (!file.bytes) {
        result.error = file.error;
        return result;
    }
    if (file.bytes->empty()) {
        result.error = path + " is not a public key: the file is empty";
        return result;
    }
    // One key per line: the old key and its successor side by side while customers move over.
    const std::string_view content = *file.bytes;
    int number = 0;
    for (std::size_t start = 0; start < content.size();) {
        std::size_t end = content.find('\n', start);
        end = end == std::string_view::npos ? content.size() : end;
        std::string_view line = content.substr(start, end - start);
        start = end + 1;
        ++number;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::string why;
        const auto bytes = decodeKeyFileLine(line, crypto_sign_PUBLICKEYBYTES, why);
        if (!bytes) {
            // One bad line spoils the file: a key dropped silently could be the one in use.
            result.keys.clear();
            result.error =
                path + " is not a public key: line " + std::to_string(number) + ": " + why;
            return result;
        }
        PublicKey key{};
        std::copy(bytes->begin(), bytes->end(), key.begin());
        result.keys.push_back(key);
    }
    if (result.keys.empty()) {
        result.error = path + " is not a public key: the file holds no key";
    }
    return result;
}

SecretKeyFile readSecretKeyFile(const std::string& path) {
    SecretKeyFile result;
    platform::ReadResult file = readSmallFile(path);
    if (!file.bytes) {
        result.error = file.error;
        return result;
    }
    result.othersMayRead = (file.mode & (S_IRGRP | S_IROTH)) != 0;
    std::string why;
    auto bytes = decodeKeyFileLine(*file.bytes, crypto_sign_SECRETKEYBYTES, why);
    sodium_memzero(file.bytes->data(), file.bytes->size());
    if (!bytes) {
        result.error = path + " is not a secret key: " + why;
        return result;
    }
    SecretKey key;
    std::copy(bytes->begin(), bytes->end(), key.bytes().begin());
    sodium_memzero(bytes->data(), bytes->size());
    result.key = std::move(key);
    return result;
}

std::optional<KeyPair> generateKeyPair() {
    if (!cryptoLibraryReady()) {
        return std::nullopt;
    }
    KeyPair pair;
    crypto_sign_keypair(pair.publicKey.data(), pair.secretKey.bytes().data());
    return pair;
}

PublicKey publicKeyOf(const SecretKey& secretKey) {
    (void)cryptoLibraryReady();
    PublicKey key{};
    crypto_sign_ed25519_sk_to_pk(key.data(), secretKey.bytes().data());
    return key;
}

std::string signatureFileLine(std::string_view message, const SecretKey& secretKey) {
    (void)cryptoLibraryReady();
    std::array<std::uint8_t, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                         secretKey.bytes().data());
    return keyFileLine(signature);
}

SignatureStatus checkSignature(std::string_view message,
                               const std::optional<std::string>& signatureFile,
                               std::span<const PublicKey> keys) {
    if (!signatureFile) {
        return SignatureStatus::Missing;
    }
    std::string why;
    const auto signature = decodeKeyFileLine(*signatureFile, crypto_sign_BYTES, why);
    if (!signature) {
        return SignatureStatus::Malformed;
    }
    for (const PublicKey& key : keys) {
        if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature->data()),
                                        reinterpret_cast<const unsigned char*>(message.data()),
                                        message.size(), key.data()) == 0) {
            return SignatureStatus::Valid;
        }
    }
    return SignatureStatus::Invalid;
}

SignatureStatus checkSignature(std::string_view message,
                               const std::optional<std::string>& signatureFile,
                               const PublicKey& key) {
    return checkSignature(message, signatureFile, std::span<const PublicKey>(&key, 1));
}

const char* describe(SignatureStatus status) {
    switch (status) {
        case SignatureStatus::Valid:
            return "the signature is valid";
        case SignatureStatus::Missing:
            return "there is no signature beside the update information";
        case SignatureStatus::Malformed:
            return "the signature file is not one line of Base64 holding a 64-byte signature";
        case SignatureStatus::Invalid:
            return "the signature does not match: the update information was altered, or "
                   "signed with another key";
    }
    return "unknown signature status";
}

}  // namespace upd::wizard
