#include "publishing/file_digest_pass.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

#include "publishing/crypto_library.h"

namespace upd::wizard {
namespace {

constexpr std::size_t kReadBytes = std::size_t{1} << 20;

std::string systemText(int code) {
    return std::error_code(code, std::generic_category()).message();
}

}  // namespace

FileDigestPass::FileDigestPass(const std::string& path)
    : m_state(std::make_unique<crypto_hash_sha256_state>()) {
    if (!cryptoLibraryReady()) {
        m_error = "the cryptography library could not start";
        return;
    }
    crypto_hash_sha256_init(m_state.get());
    // Non-blocking open: a named pipe in the file's place must not hold the caller.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        m_error = systemText(errno);
    } else if (S_ISDIR(info.st_mode)) {
        m_error = systemText(EISDIR);
    } else if (!S_ISREG(info.st_mode)) {
        m_error = "not a regular file";
    }
}

FileDigestPass::~FileDigestPass() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool FileDigestPass::step(std::int64_t bytes) {
    if (failed() || !m_hex.empty()) {
        return true;
    }
    m_slice.resize(kReadBytes);
    while (bytes > 0) {
        const ssize_t n = ::read(m_fd, m_slice.data(), m_slice.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_error = systemText(errno);
            return true;
        }
        if (n == 0) {
            std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
            crypto_hash_sha256_final(m_state.get(), digest.data());
            std::array<char, crypto_hash_sha256_BYTES * 2 + 1> hex{};
            sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
            m_hex = hex.data();
            return true;
        }
        crypto_hash_sha256_update(m_state.get(), m_slice.data(),
                                  static_cast<unsigned long long>(n));
        bytes -= n;
    }
    return false;
}

}  // namespace upd::wizard
