// The output file of a download (DownloadType 0): opened for writing by one download only,
// written with positioned writes at a 64-bit position that the response handling moves.
// Writes are gathered (up to kWriteBehindBytes) so that a fast transfer costs one system
// call per few hundred KiB, not one per packet; flush() writes them out. Owned by its
// download object; closing twice is harmless.
//
// Failure: open() fails when the file cannot be created or opened, or when another
// download holds it (an exclusive advisory lock stands in for "no sharing"), or when it is
// neither a regular file nor a character device such as /dev/null (a named pipe is never
// waited on); write() or
// flush() fails on any error or short write that cannot be completed (full disk, file-size
// limit), and from then on every write and flush fails. A symbolic link at the path is never
// written through: open() fails (errno ELOOP), so a planted link cannot aim a download at
// another file. The download object flushes before
// it calls a transfer complete, so a failed write can never end as success. error() keeps
// the system's number of the first failure (ENOSPC for a full disk), even after close().
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace upd::net {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile() { close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // keepContents false: create or truncate; true: open or create, contents kept. The
    // position starts at 0 either way.
    bool open(const std::string& path, bool keepContents);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    static constexpr std::size_t kWriteBehindBytes = 256 * 1024;

    // The file's size, -1 when unknown (gathered bytes are written first).
    std::int64_t size();
    std::int64_t position() const {
        return m_position + static_cast<std::int64_t>(m_pending.size());
    }
    void setPosition(std::int64_t position);
    // Cuts the file to `length` bytes (a restarted or resumed body must not leave old
    // bytes behind its end).
    bool truncate(std::int64_t length);

    // Writes all bytes at the position (perhaps later, at flush()) and moves it past them.
    bool write(std::span<const std::uint8_t> bytes);
    // Writes out what write() gathered; false when any write so far has failed.
    bool flush();
    // The errno of the first failure of open(), write() or flush() since the last open();
    // 0 when none. close() keeps it, so the owner can still tell a full disk after the end.
    int error() const { return m_error; }

  private:
    bool writeAt(std::span<const std::uint8_t> bytes);

    int m_fd = -1;
    std::int64_t m_position = 0;  // where m_pending goes
    std::vector<std::uint8_t> m_pending;
    bool m_failed = false;
    int m_error = 0;
};

}  // namespace upd::net
