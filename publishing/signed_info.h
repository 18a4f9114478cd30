// The vendor's signature over update.ini: a detached Ed25519 signature (libsodium's
// crypto_sign_detached) of the file's exact bytes, published beside it as update.ini.sig,
// and checked against the public key shipped beside the program as update.pub.
//
// Every key and signature file is one line of Base64 (standard alphabet, "=" padded) of the
// raw bytes, optionally ended by LF or CR LF; anything else (blanks, a second line, a
// byte-order mark, another length) is refused, never guessed at:
//   update.pub       32-byte public key         (shipped beside update-wizard)
//   update.ini.sig   64-byte signature          (published beside update.ini)
//   NAME.key         64-byte libsodium secret key (kept by the vendor, mode 0600)
// update.pub alone may hold several keys, one such line each, so that a release signed by
// the old key can ship the new one beside it; blank lines and lines starting with '#' are
// passed over. A signature by any of its keys is accepted.
//
// A key file that is there but cannot be used (a bad line, or no key at all) is an error of
// its own (PublicKeyFile::error), never the same as having no key: a damaged update.pub must
// not turn the check off.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace upd::wizard {

using PublicKey = std::array<std::uint8_t, 32>;

// A secret key held in memory; its bytes are wiped when it goes. A move wipes the source.
class SecretKey {
  public:
    static constexpr std::size_t kBytes = 64;

    SecretKey() = default;
    SecretKey(SecretKey&& other) noexcept;
    SecretKey& operator=(SecretKey&& other) noexcept;
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;
    ~SecretKey();

    std::array<std::uint8_t, kBytes>& bytes() { return m_bytes; }
    const std::array<std::uint8_t, kBytes>& bytes() const { return m_bytes; }

  private:
    std::array<std::uint8_t, kBytes> m_bytes{};
};

struct PublicKeyFile {
    bool present = false;         // the file exists
    std::vector<PublicKey> keys;  // when present and valid: at least one, in file order
    std::string error;            // present but unusable: why (never means "no key")
};

// Reads update.pub (or any public key file). A path that names nothing gives present=false;
// anything at the path (a link included) is present, and holds either valid keys or an error.
PublicKeyFile readPublicKeyFile(const std::string& path);

struct SecretKeyFile {
    std::optional<SecretKey> key;  // set when the file holds a valid secret key
    std::string error;             // otherwise why not
    bool othersMayRead = false;    // group or others have read permission
};

SecretKeyFile readSecretKeyFile(const std::string& path);

struct KeyPair {
    PublicKey publicKey{};
    SecretKey secretKey;
};

// A new key pair from the system's randomness; nullopt when the library cannot start.
std::optional<KeyPair> generateKeyPair();

// The public half of a secret key (libsodium keeps it in the secret key's last 32 bytes).
PublicKey publicKeyOf(const SecretKey& secretKey);

// The bytes as the one-line file format: Base64 and a LF.
std::string keyFileLine(std::span<const std::uint8_t> bytes);

// The content of the .sig file for `message`: the detached signature as one line.
std::string signatureFileLine(std::string_view message, const SecretKey& secretKey);

// Reads the one-line format: exactly `expectedBytes` bytes, or nullopt with `why` set.
std::optional<std::string> decodeKeyFileLine(std::string_view content, std::size_t expectedBytes,
                                             std::string& why);

enum class SignatureStatus {
    Valid,      // made by the key's owner over exactly these bytes
    Missing,    // no signature file
    Malformed,  // not one line of Base64 of 64 bytes
    Invalid,    // the bytes or the key differ from the ones signed
};

// `signatureFile` is the .sig file's content (nullopt when it could not be fetched/read).
// Valid when any of `keys` made it; Invalid when none did (or there is no key).
SignatureStatus checkSignature(std::string_view message,
                               const std::optional<std::string>& signatureFile,
                               std::span<const PublicKey> keys);
SignatureStatus checkSignature(std::string_view message,
                               const std::optional<std::string>& signatureFile,
                               const PublicKey& key);

// A short English reason, for diagnostics and the tools.
const char* describe(SignatureStatus status);

}  // namespace upd::wizard
