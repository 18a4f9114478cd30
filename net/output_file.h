// The output file of a download (DownloadType 0): opened for writing by one download only,
// written with positioned writes at a 64-bit position that the response handling moves.
// Owned by its download object; closing twice is harmless.
//
// Failure: open() fails when the file cannot be created or opened, or when another
// download holds it (an exclusive advisory lock stands in for "no sharing"); write()
// fails on any error or short write that cannot be completed (full disk, file-size
// limit), and then nothing more should be written.
#pragma once

#include <cstdint>
#include <span>
#include <string>

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

    // The file's size, -1 when unknown.
    std::int64_t size() const;
    std::int64_t position() const { return m_position; }
    void setPosition(std::int64_t position) { m_position = position; }
    // Cuts the file to `length` bytes (a restarted or resumed body must not leave old
    // bytes behind its end).
    bool truncate(std::int64_t length);

    // Writes all bytes at the position and moves it past them.
    bool write(std::span<const std::uint8_t> bytes);

  private:
    int m_fd = -1;
    std::int64_t m_position = 0;
};

}  // namespace upd::net
