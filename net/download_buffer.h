// The memory buffer of a download (DownloadType 1). It grows by the bytes needed plus a
// tenth of its previous size, so that appending costs amortised constant copies:
// cleared (1 byte), then 10 bytes -> 11 allocated, then 20 more -> 1 + 11 + 20 = 32.
// Owned by its download object. Allocation failure is the one way it fails: append()
// returns false and keeps what it had.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace upd::net {

class DownloadBuffer {
  public:
    DownloadBuffer() { clear(); }

    // Shrinks to one byte: BufferAllocated 1, BufferUsed 0.
    void clear();
    bool append(std::span<const std::uint8_t> bytes);

    std::int64_t used() const { return m_used; }
    std::int64_t allocated() const { return m_allocated; }
    std::string_view bytes() const {
        return {reinterpret_cast<const char*>(m_bytes.data()), static_cast<std::size_t>(m_used)};
    }

    // Trims the allocation to the bytes in use and copies them into `out`; returns the
    // count. When empty: returns 0 and leaves `out` alone.
    std::int64_t copyTo(std::vector<std::uint8_t>& out);

  private:
    std::vector<std::uint8_t> m_bytes;
    std::int64_t m_used = 0;
    std::int64_t m_allocated = 0;
};

}  // namespace upd::net
