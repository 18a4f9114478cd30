#include "platform/version_resource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace upd::platform {
namespace {

// --- Bounds-checked access --------------------------------------------------------------

bool addWithoutOverflow(std::uint64_t a, std::uint64_t b, std::uint64_t& sum) {
    return !__builtin_add_overflow(a, b, &sum);
}

bool rangeInside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return length <= size && offset <= size - length;
}

// Reads `length` bytes (already capped by the caller) into a new buffer.
std::optional<std::vector<std::uint8_t>> readBytes(const ByteSource& source, std::uint64_t offset,
                                                   std::uint64_t length) {
    if (!rangeInside(offset, length, source.size())) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (!source.readAt(offset, bytes)) {
        return std::nullopt;
    }
    return bytes;
}

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

// ELF fields come in the file's own byte order.
class Endian {
  public:
    explicit Endian(bool big) : m_big(big) {}

    std::uint64_t get(const std::uint8_t* p, int bytes) const {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const std::uint8_t byte = m_big ? p[i] : p[bytes - 1 - i];
            value = (value << 8) | byte;
        }
        return value;
    }

  private:
    bool m_big;
};

// --- PE ---------------------------------------------------------------------------------
//
//   0x00  IMAGE_DOS_HEADER  "MZ" ... u32 e_lfanew at 0x3C
//   e_lfanew  "PE\0\0"  IMAGE_FILE_HEADER (20 bytes: u16 NumberOfSections at +2,
//                        u16 SizeOfOptionalHeader at +16)
//   +24  optional header: u16 magic 0x10b (PE32) or 0x20b (PE32+); NumberOfRvaAndSizes and
//        the data directories follow at 92/96 (PE32) or 108/112 (PE32+); directory 2 is
//        the resource directory {u32 rva, u32 size}
//   +24 + SizeOfOptionalHeader  section table, 40 bytes a section: u32 VirtualSize at +8,
//        VirtualAddress at +12, SizeOfRawData at +16, PointerToRawData at +20

constexpr std::uint16_t kPe32Magic = 0x10b;
constexpr std::uint16_t kPe32PlusMagic = 0x20b;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kVersionResourceType = 16;  // RT_VERSION
constexpr std::uint32_t kVersionResourceName = 1;   // VS_VERSION_INFO
constexpr std::uint32_t kHighBit = 0x80000000u;

struct PeSection {
    std::uint64_t virtualAddress = 0;
    std::uint64_t virtualSize = 0;
    std::uint64_t rawSize = 0;
    std::uint64_t rawOffset = 0;
};

class PeImage {
  public:
    PeImage(const ByteSource& source, std::vector<PeSection> sections)
        : m_source(source), m_sections(std::move(sections)) {}

    // The bytes at an RVA, which must lie wholly in the file-backed part of one section: a
    // loader would see zeros past SizeOfRawData, and those zeros are not in the file.
    std::optional<std::vector<std::uint8_t>> read(std::uint64_t rva, std::uint64_t length) const {
        for (const PeSection& section : m_sections) {
            const std::uint64_t span = std::max(section.virtualSize, section.rawSize);
            if (rva < section.virtualAddress || rva - section.virtualAddress >= span) {
                continue;
            }
            const std::uint64_t inSection = rva - section.virtualAddress;
            if (!rangeInside(inSection, length, section.rawSize)) {
                return std::nullopt;
            }
            return readBytes(m_source, section.rawOffset + inSection, length);
        }
        return std::nullopt;
    }

  private:
    const ByteSource& m_source;
    std::vector<PeSection> m_sections;
};

// IMAGE_RESOURCE_DIRECTORY: 16 bytes, u16 NumberOfNamedEntries at 12, u16 NumberOfIdEntries
// at 14, then 8-byte entries, named ones first: u32 name (high bit: offset of a name string,
// else an id) and u32 target (high bit: offset of a subdirectory, else of a data entry).
// Offsets count from the start of the resource directory.
struct ResourceEntry {
    std::uint32_t name = 0;
    std::uint32_t target = 0;

    bool hasId(std::uint32_t id) const { return (name & kHighBit) == 0 && name == id; }
    bool isDirectory() const { return (target & kHighBit) != 0; }
    std::uint32_t offset() const { return target & ~kHighBit; }
};

std::optional<std::vector<ResourceEntry>> readResourceDirectory(const PeImage& image,
                                                                std::uint64_t rootRva,
                                                                std::uint32_t offset) {
    const std::uint64_t rva = rootRva + offset;  // both below 2^32: no overflow
    const auto header = image.read(rva, 16);
    if (!header) {
        return std::nullopt;
    }
    const std::uint64_t count =
        std::uint64_t{le16(header->data() + 12)} + le16(header->data() + 14);
    const auto raw = image.read(rva + 16, count * 8);
    if (!raw) {
        return std::nullopt;
    }
    std::vector<ResourceEntry> entries(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].name = le32(raw->data() + i * 8);
        entries[i].target = le32(raw->data() + i * 8 + 4);
    }
    return entries;
}

struct PeResources {
    PeImage image;
    std::uint64_t rootRva = 0;
};

// The section table and where the resource directory starts; nothing when the headers are
// not those of a PE image or it has no resources.
std::optional<PeResources> openPeResources(const ByteSource& source) {
    const auto dos = readBytes(source, 0, 64);
    if (!dos || (*dos)[0] != 'M' || (*dos)[1] != 'Z') {
        return std::nullopt;
    }
    const std::uint64_t peOffset = le32(dos->data() + 0x3C);
    const auto fileHeader = readBytes(source, peOffset, 24);
    if (!fileHeader || std::memcmp(fileHeader->data(), "PE\0\0", 4) != 0) {
        return std::nullopt;
    }
    const std::uint16_t sectionCount = le16(fileHeader->data() + 4 + 2);
    const std::uint16_t optionalSize = le16(fileHeader->data() + 4 + 16);
    const std::uint64_t optionalOffset = peOffset + 24;

    const auto magicBytes = readBytes(source, optionalOffset, 2);
    if (!magicBytes) {
        return std::nullopt;
    }
    std::uint64_t countAt = 0;
    std::uint64_t directoriesAt = 0;
    switch (le16(magicBytes->data())) {
        case kPe32Magic:
            countAt = 92;
            directoriesAt = 96;
            break;
        case kPe32PlusMagic:
            countAt = 108;
            directoriesAt = 112;
            break;
        default:
            return std::nullopt;
    }
    const std::uint64_t resourceDirectoryAt = directoriesAt + kResourceDirectoryIndex * 8;
    if (optionalSize < resourceDirectoryAt + 8) {
        return std::nullopt;
    }
    const auto countBytes = readBytes(source, optionalOffset + countAt, 4);
    const auto directory = readBytes(source, optionalOffset + resourceDirectoryAt, 8);
    if (!countBytes || !directory || le32(countBytes->data()) <= kResourceDirectoryIndex) {
        return std::nullopt;
    }
    const std::uint64_t rootRva = le32(directory->data());
    if (rootRva == 0 || le32(directory->data() + 4) == 0) {
        return std::nullopt;  // no resources at all
    }

    const auto table = readBytes(source, optionalOffset + optionalSize, sectionCount * 40ull);
    if (!table) {
        return std::nullopt;
    }
    std::vector<PeSection> sections(sectionCount);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const std::uint8_t* entry = table->data() + i * 40;
        sections[i] = {le32(entry + 12), le32(entry + 8), le32(entry + 16), le32(entry + 20)};
    }
    return PeResources{PeImage(source, std::move(sections)), rootRva};
}

// Type 16, then the name (id 1 when present, else the first), then the first language.
std::optional<std::vector<std::uint8_t>> readPeVersionBlock(const ByteSource& source) {
    const auto resources = openPeResources(source);
    if (!resources) {
        return std::nullopt;
    }
    const PeImage& image = resources->image;
    const std::uint64_t root = resources->rootRva;

    const auto types = readResourceDirectory(image, root, 0);
    if (!types) {
        return std::nullopt;
    }
    const auto type = std::find_if(types->begin(), types->end(), [](const ResourceEntry& e) {
        return e.hasId(kVersionResourceType);
    });
    if (type == types->end() || !type->isDirectory()) {
        return std::nullopt;
    }
    const auto names = readResourceDirectory(image, root, type->offset());
    if (!names || names->empty()) {
        return std::nullopt;
    }
    auto name = std::find_if(names->begin(), names->end(),
                             [](const ResourceEntry& e) { return e.hasId(kVersionResourceName); });
    if (name == names->end()) {
        name = names->begin();
    }
    if (!name->isDirectory()) {
        return std::nullopt;
    }
    const auto languages = readResourceDirectory(image, root, name->offset());
    if (!languages || languages->empty() || languages->front().isDirectory()) {
        return std::nullopt;
    }

    // IMAGE_RESOURCE_DATA_ENTRY: u32 OffsetToData (an RVA, not a directory offset), u32 Size.
    const auto dataEntry = image.read(root + languages->front().offset(), 8);
    if (!dataEntry) {
        return std::nullopt;
    }
    const std::uint64_t length =
        std::min<std::uint64_t>(le32(dataEntry->data() + 4), kMaxVersionBlockSize);
    if (length == 0) {
        return std::nullopt;
    }
    return image.read(le32(dataEntry->data()), length);
}

// --- ELF --------------------------------------------------------------------------------
//
//   e_ident: 0x7F "ELF", class (1: 32-bit, 2: 64-bit) at 4, data (1: little, 2: big) at 5
//   32-bit: u32 e_shoff at 0x20, u16 e_shentsize at 0x2E, e_shnum at 0x30, e_shstrndx at 0x32
//   64-bit: u64 e_shoff at 0x28, u16 e_shentsize at 0x3A, e_shnum at 0x3C, e_shstrndx at 0x3E
//   section header, 32-bit (40 bytes): u32 name 0, type 4, offset 16, size 20, link 24
//                   64-bit (64 bytes): u32 name 0, type 4, u64 offset 24, size 32, u32 link 40

constexpr std::string_view kVersionSectionName{".fileversion\0", 13};
constexpr std::uint32_t kSectionNoBits = 8;       // SHT_NOBITS: occupies no bytes in the file
constexpr std::uint64_t kExtendedIndex = 0xFFFF;  // SHN_XINDEX

struct ElfSection {
    std::uint64_t name = 0;
    std::uint64_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t link = 0;
};

class ElfImage {
  public:
    ElfImage(const ByteSource& source, bool is64, Endian endian)
        : m_source(source), m_is64(is64), m_endian(endian) {}

    bool readHeader() {
        const auto header = readBytes(m_source, 0, m_is64 ? 64 : 52);
        if (!header) {
            return false;
        }
        const std::uint8_t* h = header->data();
        m_tableOffset = m_is64 ? m_endian.get(h + 0x28, 8) : m_endian.get(h + 0x20, 4);
        m_entrySize = m_endian.get(h + (m_is64 ? 0x3A : 0x2E), 2);
        m_count = m_endian.get(h + (m_is64 ? 0x3C : 0x30), 2);
        m_namesIndex = m_endian.get(h + (m_is64 ? 0x3E : 0x32), 2);
        if (m_tableOffset == 0 || m_entrySize < (m_is64 ? 64u : 40u)) {
            return false;
        }
        // More than 0xFF00 sections: the real count and name-table index live in section 0.
        if (m_count == 0 || m_namesIndex == kExtendedIndex) {
            const auto first = section(0);
            if (!first) {
                return false;
            }
            if (m_count == 0) {
                m_count = first->size;
            }
            if (m_namesIndex == kExtendedIndex) {
                m_namesIndex = first->link;
            }
        }
        // The whole table must be in the file; this also bounds the loop below by the file
        // size, whatever count the header claims.
        const std::uint64_t size = m_source.size();
        return m_tableOffset <= size && m_count <= (size - m_tableOffset) / m_entrySize &&
               m_namesIndex < m_count;
    }

    std::optional<ElfSection> section(std::uint64_t index) const {
        std::uint64_t offset = 0;
        if (index > UINT64_MAX / m_entrySize ||
            !addWithoutOverflow(m_tableOffset, index * m_entrySize, offset)) {
            return std::nullopt;
        }
        const auto raw = readBytes(m_source, offset, m_is64 ? 64 : 40);
        if (!raw) {
            return std::nullopt;
        }
        const std::uint8_t* s = raw->data();
        ElfSection result;
        result.name = m_endian.get(s, 4);
        result.type = m_endian.get(s + 4, 4);
        if (m_is64) {
            result.offset = m_endian.get(s + 24, 8);
            result.size = m_endian.get(s + 32, 8);
            result.link = m_endian.get(s + 40, 4);
        } else {
            result.offset = m_endian.get(s + 16, 4);
            result.size = m_endian.get(s + 20, 4);
            result.link = m_endian.get(s + 24, 4);
        }
        return result;
    }

    bool hasName(const ElfSection& names, const ElfSection& candidate,
                 std::string_view wanted) const {
        std::uint64_t offset = 0;
        if (candidate.name >= names.size || names.size - candidate.name < wanted.size() ||
            !addWithoutOverflow(names.offset, candidate.name, offset)) {
            return false;
        }
        const auto bytes = readBytes(m_source, offset, wanted.size());
        return bytes &&
               std::equal(bytes->begin(), bytes->end(), wanted.begin(), wanted.end(),
                          [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    }

    std::uint64_t count() const { return m_count; }
    std::uint64_t namesIndex() const { return m_namesIndex; }

  private:
    const ByteSource& m_source;
    bool m_is64;
    Endian m_endian;
    std::uint64_t m_tableOffset = 0;
    std::uint64_t m_entrySize = 0;
    std::uint64_t m_count = 0;
    std::uint64_t m_namesIndex = 0;
};

std::optional<std::vector<std::uint8_t>> readElfVersionBlock(const ByteSource& source) {
    const auto ident = readBytes(source, 0, 16);
    if (!ident || std::memcmp(ident->data(),
                              "\x7F"
                              "ELF",
                              4) != 0) {
        return std::nullopt;
    }
    const std::uint8_t elfClass = (*ident)[4];
    const std::uint8_t byteOrder = (*ident)[5];
    if ((elfClass != 1 && elfClass != 2) || (byteOrder != 1 && byteOrder != 2)) {
        return std::nullopt;
    }
    ElfImage image(source, elfClass == 2, Endian(byteOrder == 2));
    if (!image.readHeader()) {
        return std::nullopt;
    }
    const auto names = image.section(image.namesIndex());
    if (!names || names->type == kSectionNoBits) {
        return std::nullopt;
    }
    for (std::uint64_t i = 0; i < image.count(); ++i) {
        const auto candidate = image.section(i);
        if (!candidate) {
            return std::nullopt;
        }
        if (candidate->type == kSectionNoBits ||
            !image.hasName(*names, *candidate, kVersionSectionName)) {
            continue;
        }
        const std::uint64_t length = std::min(candidate->size, kMaxVersionBlockSize);
        if (length == 0) {
            return std::nullopt;
        }
        auto block = readBytes(source, candidate->offset, length);
        // The section may end in padding the toolchain added (alignment, a sanitizer's red
        // zone after the variable); the block's own wLength tells where it ends.
        if (block && block->size() >= 2) {
            const std::uint16_t ownLength = le16(block->data());
            if (ownLength >= 6 && ownLength < block->size()) {
                block->resize(ownLength);
            }
        }
        return block;
    }
    return std::nullopt;
}

}  // namespace

bool MemoryByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (!rangeInside(offset, out.size(), m_bytes.size())) {
        return false;
    }
    std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
}

std::optional<FileByteSource> FileByteSource::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    return FileByteSource(fd, static_cast<std::uint64_t>(info.st_size));
}

FileByteSource::FileByteSource(FileByteSource&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(other.m_size) {}

FileByteSource& FileByteSource::operator=(FileByteSource&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
        m_size = other.m_size;
    }
    return *this;
}

FileByteSource::~FileByteSource() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool FileByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (m_fd < 0 || !rangeInside(offset, out.size(), m_size) ||
        offset > static_cast<std::uint64_t>(INT64_MAX)) {
        return false;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(m_fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> readVersionBlock(const ByteSource& source) {
    if (auto block = readPeVersionBlock(source)) {
        return block;
    }
    return readElfVersionBlock(source);
}

std::optional<std::vector<std::uint8_t>> readVersionBlock(const std::string& path) {
    const auto source = FileByteSource::open(path);
    if (!source) {
        return std::nullopt;
    }
    return readVersionBlock(*source);
}

}  // namespace upd::platform
