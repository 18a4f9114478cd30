// Builds a version information block (VS_VERSIONINFO) from numbers and key/value pairs.
//
// The build embeds such a block in the project's own executables (see
// cmake/fileversion.cmake), so the block must be producible at compile time; tests use the
// same builder at run time to synthesise PE and ELF files. Everything here is header-only
// and constexpr.
//
// Layout written (little-endian; every structure starts on a 32-bit boundary of the block,
// "pad" fills with zero bytes up to the next such boundary):
//
//   VS_VERSIONINFO  u16 wLength | u16 wValueLength = 52 | u16 wType = 0 | "VS_VERSION_INFO\0" pad
//     VS_FIXEDFILEINFO  13 x u32 (signature 0xFEEF04BD, structure version, versions, flags,
//                       OS, type, subtype, date)
//     StringFileInfo  u16 wLength | u16 0 | u16 wType = 1 | "StringFileInfo\0" pad
//       StringTable   u16 wLength | u16 0 | u16 1 | "040904b0\0" pad
//         String      u16 wLength | u16 value units incl. NUL | u16 1 | key "\0" pad value "\0"
//         ...
//     VarFileInfo     u16 wLength | u16 0 | u16 1 | "VarFileInfo\0" pad
//       Var           u16 wLength | u16 4 | u16 0 | "Translation\0" pad | u16 lang | u16 cp
//
// The header before a key is 6 bytes, so a key of n characters plus its NUL ends on a 32-bit
// boundary exactly when n is even: "ProductVersion" (14) is followed directly by its value,
// "FileVersion" (11) by one zero code unit of padding. Readers that scan the text of the
// block depend on that. A structure's wLength covers its header, value and children, not
// the padding after its last byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace upd::platform {

// One String entry; key and value are UTF-8 (stored as UTF-16 in the block).
struct VersionString {
    std::string_view key;
    std::string_view value;
};

// What goes into a block. `strings` must outlive the builder call.
struct VersionInfoContent {
    std::array<std::uint16_t, 4> fileVersion{};     // 1.0.0.1 as {1, 0, 0, 1}
    std::array<std::uint16_t, 4> productVersion{};  // idem
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOs = 0;                      // VOS_UNKNOWN; 0x00040004 is VOS_NT_WINDOWS32
    std::uint32_t fileType = 1;                    // VFT_APP; 2 is VFT_DLL
    std::string_view stringTableKey = "040904b0";  // language and code page, in hex
    std::span<const VersionString> strings;
    std::uint16_t translationLanguage = 0x0409;
    std::uint16_t translationCodePage = 1200;
};

namespace version_block_detail {

inline constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
inline constexpr std::size_t kFixedInfoSize = 13 * 4;
inline constexpr std::size_t kHeaderSize = 6;  // wLength, wValueLength, wType

constexpr std::size_t align4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

// Calls emit(char16_t) for each UTF-16 code unit of the UTF-8 text. A byte sequence that is
// not UTF-8 gives one U+FFFD per byte, so any input builds a well-formed block.
template <class Emit>
constexpr void forEachUtf16Unit(std::string_view utf8, Emit&& emit) {
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            length = 1;
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            c = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            c = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            c = lead & 0x07u;
        }
        bool valid = length != 0 && i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3Fu);
        }
        const char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && c >= minimum[length] && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
        if (!valid) {
            emit(char16_t{0xFFFD});
            i += 1;
            continue;
        }
        if (c >= 0x10000) {
            emit(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            emit(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            emit(static_cast<char16_t>(c));
        }
        i += length;
    }
}

constexpr std::size_t utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    forEachUtf16Unit(utf8, [&units](char16_t) { ++units; });
    return units;
}

// Offset of the value (or first child) of a structure with this key.
constexpr std::size_t valueOffset(std::string_view key) {
    return align4(kHeaderSize + 2 * (utf16Length(key) + 1));
}

constexpr std::size_t stringLength(const VersionString& entry) {
    return valueOffset(entry.key) + 2 * (utf16Length(entry.value) + 1);
}

constexpr std::size_t stringTableLength(const VersionInfoContent& content) {
    std::size_t length = valueOffset(content.stringTableKey);
    for (const VersionString& entry : content.strings) {
        length = align4(length) + stringLength(entry);
    }
    return length;
}

constexpr std::size_t stringFileInfoLength(const VersionInfoContent& content) {
    return valueOffset("StringFileInfo") + stringTableLength(content);
}

constexpr std::size_t translationLength() {
    return valueOffset("Translation") + 4;
}

constexpr std::size_t varFileInfoLength() {
    return valueOffset("VarFileInfo") + translationLength();
}

constexpr std::size_t blockLength(const VersionInfoContent& content) {
    std::size_t length = valueOffset("VS_VERSION_INFO") + kFixedInfoSize;
    length = align4(length) + stringFileInfoLength(content);
    length = align4(length) + varFileInfoLength();
    return length;
}

// Writes little-endian fields into a sink that has put(std::uint8_t), tracking the offset
// for the 32-bit padding.
template <class Sink>
class BlockWriter {
  public:
    constexpr explicit BlockWriter(Sink& sink) : m_sink(sink) {}

    constexpr void u16(std::uint32_t value) {
        m_sink.put(static_cast<std::uint8_t>(value & 0xFF));
        m_sink.put(static_cast<std::uint8_t>((value >> 8) & 0xFF));
        m_offset += 2;
    }
    constexpr void u32(std::uint32_t value) {
        u16(value & 0xFFFF);
        u16(value >> 16);
    }
    // The text as UTF-16 followed by a NUL code unit.
    constexpr void text(std::string_view utf8) {
        forEachUtf16Unit(utf8, [this](char16_t unit) { u16(unit); });
        u16(0);
    }
    constexpr void pad() {
        while (m_offset % 4 != 0) {
            m_sink.put(0);
            ++m_offset;
        }
    }
    constexpr void header(std::size_t length, std::size_t valueLength, std::uint16_t type,
                          std::string_view key) {
        pad();
        u16(static_cast<std::uint32_t>(length));
        u16(static_cast<std::uint32_t>(valueLength));
        u16(type);
        text(key);
        pad();
    }

  private:
    Sink& m_sink;
    std::size_t m_offset = 0;
};

template <class Sink>
constexpr void writeBlock(const VersionInfoContent& content, Sink& sink) {
    BlockWriter<Sink> out(sink);
    const auto ms = [](const std::array<std::uint16_t, 4>& v) {
        return (std::uint32_t{v[0]} << 16) | v[1];
    };
    const auto ls = [](const std::array<std::uint16_t, 4>& v) {
        return (std::uint32_t{v[2]} << 16) | v[3];
    };

    out.header(blockLength(content), kFixedInfoSize, 0, "VS_VERSION_INFO");
    out.u32(kFixedInfoSignature);
    out.u32(0x00010000);  // structure version 1.0
    out.u32(ms(content.fileVersion));
    out.u32(ls(content.fileVersion));
    out.u32(ms(content.productVersion));
    out.u32(ls(content.productVersion));
    out.u32(0x3F);  // VS_FFI_FILEFLAGSMASK
    out.u32(content.fileFlags);
    out.u32(content.fileOs);
    out.u32(content.fileType);
    out.u32(0);  // subtype
    out.u32(0);  // date, most significant
    out.u32(0);  // date, least significant

    out.header(stringFileInfoLength(content), 0, 1, "StringFileInfo");
    out.header(stringTableLength(content), 0, 1, content.stringTableKey);
    for (const VersionString& entry : content.strings) {
        out.header(stringLength(entry), utf16Length(entry.value) + 1, 1, entry.key);
        out.text(entry.value);
    }

    out.header(varFileInfoLength(), 0, 1, "VarFileInfo");
    out.header(translationLength(), 4, 0, "Translation");
    out.u16(content.translationLanguage);
    out.u16(content.translationCodePage);
}

template <std::size_t N>
struct ArraySink {
    std::array<std::uint8_t, N> bytes{};
    std::size_t used = 0;
    constexpr void put(std::uint8_t byte) { bytes[used++] = byte; }
};

struct VectorSink {
    std::vector<std::uint8_t> bytes;
    void put(std::uint8_t byte) { bytes.push_back(byte); }
};

// Deliberately not constexpr: reaching it during constant evaluation stops the build.
inline void blockSizeIsWrongOrTooLarge() {}

}  // namespace version_block_detail

// Size in bytes of the block that the content gives.
constexpr std::size_t versionBlockSize(const VersionInfoContent& content) {
    return version_block_detail::blockLength(content);
}

// The block as a compile-time array; N must be versionBlockSize(content) and the block must
// fit its 16-bit wLength, else the build fails:
//   constexpr auto block = makeVersionBlockArray<versionBlockSize(content)>(content);
template <std::size_t N>
consteval std::array<std::uint8_t, N> makeVersionBlockArray(const VersionInfoContent& content) {
    if (N != versionBlockSize(content) || N > 0xFFFF) {
        version_block_detail::blockSizeIsWrongOrTooLarge();
    }
    version_block_detail::ArraySink<N> sink;
    version_block_detail::writeBlock(content, sink);
    return sink.bytes;
}

// The block at run time. Content of 64 KiB or more does not fit the 16-bit lengths; callers
// keep well below that.
inline std::vector<std::uint8_t> makeVersionBlock(const VersionInfoContent& content) {
    version_block_detail::VectorSink sink;
    sink.bytes.reserve(versionBlockSize(content));
    version_block_detail::writeBlock(content, sink);
    return std::move(sink.bytes);
}

}  // namespace upd::platform
