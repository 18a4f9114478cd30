// Synthetic PE and ELF images that carry a version block, for the tests of the version reader
// and of the file version helpers. Fixed layouts, so corruption tables can name their fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace upd::test {

using Bytes = std::vector<std::uint8_t>;

inline std::string text(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Writes `value` as `size` bytes at `at`, growing `out` when needed.
void put(Bytes& out, std::size_t at, std::uint64_t value, int size, bool bigEndian = false);

// A block holding CompanyName "Sample Co.", FileVersion and ProductVersion.
Bytes versionBlock(std::string_view productVersion = "1.0.0.3",
                   std::string_view fileVersion = "2.5.0.0");

// One leaf of a PE resource tree; leaves of one type or name must be adjacent. Name 0 is
// the named entry "FOO", listed before the numbered names of its type as in real files.
struct PeResource {
    std::uint32_t type;
    std::uint32_t name;
    std::uint32_t language;
    Bytes data;
};
struct PeLayout {
    bool plus = false;                                 // PE32+ rather than PE32
    std::optional<std::vector<PeResource>> resources;  // nullopt: no resource section
    std::uint32_t resourceRva = 0x3000;
    std::uint32_t resourceFileOffset = 0x600;  // differs from the RVA on purpose
};
// Headers, ".text", then ".rsrc", whose raw size is exactly its contents. With one leaf the
// section holds the root directory at 0, the names at 24, the languages at 48, the data
// entry at 72 and the data at 88.
Bytes buildPe(const PeLayout& layout);
Bytes peWith(const Bytes& block, bool plus = false);  // the block as type 16, name 1
inline constexpr std::size_t kPeSignature = 0x80;     // e_lfanew
inline constexpr std::size_t kPeOptionalHeader = kPeSignature + 24;
inline constexpr std::size_t kPe32SectionTable = kPeOptionalHeader + 224;

struct ElfSection {
    std::string name;
    Bytes contents;
    std::uint32_t type = 1;  // SHT_PROGBITS; 8 is SHT_NOBITS
};
struct ElfLayout {
    bool is64 = true;
    bool big = false;
    std::vector<ElfSection> sections;
    bool extendedNumbering = false;  // section count and name-table index kept in section 0
};
// Header, the sections' contents, ".shstrtab", then the section header table, which ends
// the file: the null section, the given sections, ".shstrtab".
Bytes buildElf(const ElfLayout& layout);
Bytes elfWith(const Bytes& block, bool is64 = true, bool big = false);  // .text, .fileversion

}  // namespace upd::test
