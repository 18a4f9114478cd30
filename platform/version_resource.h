// The raw version information block (VS_VERSIONINFO) of an executable file: what
// GetFileVersionInfoSizeA/GetFileVersionInfoA hand the wizard on Windows.
//
// Two containers are understood:
//  - PE files (PE32 and PE32+): the version resource (type 16), name id 1 when there is one,
//    else the first name, and its first language;
//  - ELF files (32/64-bit, either byte order): the contents of the section ".fileversion",
//    which the build adds to the project's own programs (cmake/fileversion.cmake), up to
//    the block's own length when the section is longer.
//
// Only the headers and the block itself are read, never the whole file. Every offset and
// size taken from the file is checked against the file's size before use, so malformed or
// truncated files simply have no block.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace upd::platform {

// Blocks are cut to this size; a block's own 16-bit length cannot exceed it anyway.
inline constexpr std::uint64_t kMaxVersionBlockSize = 64 * 1024;

// Random-access bytes, read like pread(2).
class ByteSource {
  public:
    virtual ~ByteSource() = default;

    virtual std::uint64_t size() const = 0;

    // Fills `out` with the bytes at [offset, offset + out.size()). Returns false, leaving
    // `out` unspecified, when that range is not wholly inside the source or reading fails.
    virtual bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

// Bytes in memory, not owned: the caller keeps them alive while the source is used.
class MemoryByteSource final : public ByteSource {
  public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint64_t size() const override { return m_bytes.size(); }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

  private:
    std::span<const std::uint8_t> m_bytes;
};

// A regular file opened read-only; owns the descriptor.
class FileByteSource final : public ByteSource {
  public:
    // Nothing when the file cannot be opened or is not a regular file (a directory, a FIFO
    // or a device never gets read).
    static std::optional<FileByteSource> open(const std::string& path);

    FileByteSource(FileByteSource&& other) noexcept;
    FileByteSource& operator=(FileByteSource&& other) noexcept;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;
    ~FileByteSource() override;

    std::uint64_t size() const override { return m_size; }
    // A short read (the file shrank since it was opened) counts as a failure.
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

  private:
    FileByteSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}

    int m_fd = -1;
    std::uint64_t m_size = 0;
};

// The version information block of a PE or ELF image, at most kMaxVersionBlockSize bytes.
// Nothing when the source is neither, has no version block, the block is empty, or any
// structure on the way to it is malformed or out of bounds.
std::optional<std::vector<std::uint8_t>> readVersionBlock(const ByteSource& source);

// The same for a file; nothing also when the file cannot be opened.
std::optional<std::vector<std::uint8_t>> readVersionBlock(const std::string& path);

}  // namespace upd::platform
