#include "net/download_buffer.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace upd::net {

void DownloadBuffer::clear() {
    m_bytes.assign(1, 0);
    m_bytes.shrink_to_fit();
    m_allocated = 1;
    m_used = 0;
}

bool DownloadBuffer::append(std::span<const std::uint8_t> bytes) {
    const auto n = static_cast<std::int64_t>(bytes.size());
    if (m_used + n > m_allocated) {
        const std::int64_t grown = m_allocated / 10 + m_allocated + n;
        try {
            m_bytes.resize(static_cast<std::size_t>(grown));
        } catch (const std::bad_alloc&) {
            return false;
        } catch (const std::length_error&) {
            return false;
        }
        m_allocated = grown;
    }
    if (n > 0) {
        std::memcpy(m_bytes.data() + m_used, bytes.data(), bytes.size());
    }
    m_used += n;
    return true;
}

std::int64_t DownloadBuffer::copyTo(std::vector<std::uint8_t>& out) {
    if (m_used == 0) {
        return 0;
    }
    m_bytes.resize(static_cast<std::size_t>(m_used));
    m_bytes.shrink_to_fit();
    m_allocated = m_used;
    out.assign(m_bytes.begin(), m_bytes.end());
    return m_used;
}

}  // namespace upd::net
