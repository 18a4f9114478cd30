// One streamed SHA-256 pass over a file, taken a slice at a time, so that a page checking a
// large download keeps painting and taking clicks meanwhile. The file is never held in
// memory whole; sizes are 64-bit. sha256FileHex (file_digest.h) is the pass run to its end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct crypto_hash_sha256_state;

namespace upd::wizard {

class FileDigestPass {
  public:
    explicit FileDigestPass(const std::string& path);
    ~FileDigestPass();
    FileDigestPass(const FileDigestPass&) = delete;
    FileDigestPass& operator=(const FileDigestPass&) = delete;

    // Hashes up to `bytes` more. True once the pass has ended: at the end of the file, or
    // on a failure.
    bool step(std::int64_t bytes);
    bool failed() const { return !m_error.empty(); }
    // Why the pass failed: the system's text, or what the path names instead of a file.
    const std::string& error() const { return m_error; }
    // The digest in lower-case hex, once the pass has ended without a failure.
    const std::string& hex() const { return m_hex; }

  private:
    int m_fd = -1;
    std::unique_ptr<crypto_hash_sha256_state> m_state;
    std::vector<unsigned char> m_slice;
    std::string m_error;
    std::string m_hex;
};

}  // namespace upd::wizard
