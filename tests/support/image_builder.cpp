#include "tests/support/image_builder.h"

#include <algorithm>
#include <span>

#include "platform/version_info_block.h"

namespace upd::test {
namespace {

void align(Bytes& out, std::size_t to) {
    out.resize((out.size() + to - 1) / to * to, 0);
}

// Appends the directory of `level` (0 types, 1 names, 2 languages) over leaves that share
// the keys above it, then, depth first, what its entries point to.
void addDirectory(Bytes& out, std::span<const PeResource> leaves, int level,
                  std::uint32_t sectionRva) {
    constexpr std::uint32_t kSubdirectory = 0x80000000u;
    const auto keyOf = [level](const PeResource& leaf) {
        return level == 0 ? leaf.type : level == 1 ? leaf.name : leaf.language;
    };
    std::vector<std::span<const PeResource>> runs;  // leaves with the same key at this level
    for (std::size_t i = 0, j = 0; i < leaves.size(); i = j) {
        while (j < leaves.size() && keyOf(leaves[j]) == keyOf(leaves[i])) {
            ++j;
        }
        runs.push_back(leaves.subspan(i, j - i));
    }
    const auto named = static_cast<std::size_t>(std::count_if(
        runs.begin(), runs.end(), [level](auto run) { return level == 1 && run[0].name == 0; }));
    const std::size_t directory = out.size();
    out.resize(directory + 16 + 8 * runs.size());
    put(out, directory + 12, named, 2);
    put(out, directory + 14, runs.size() - named, 2);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const std::size_t entry = directory + 16 + 8 * i;
        put(out, entry, keyOf(runs[i][0]), 4);
        if (level == 1 && runs[i][0].name == 0) {
            put(out, entry, kSubdirectory | out.size(), 4);
            for (const char c : std::string_view("\3FOO")) {  // "FOO" as a counted UTF-16 string
                put(out, out.size(), static_cast<std::uint8_t>(c), 2);
            }
            align(out, 4);
        }
        if (level < 2) {
            put(out, entry + 4, kSubdirectory | out.size(), 4);
            addDirectory(out, runs[i], level + 1, sectionRva);
            continue;
        }
        // IMAGE_RESOURCE_DATA_ENTRY, then the data it points to by RVA.
        const Bytes& data = runs[i][0].data;
        const std::size_t dataEntry = out.size();
        put(out, entry + 4, dataEntry, 4);
        put(out, dataEntry, sectionRva + dataEntry + 16, 4);
        put(out, dataEntry + 4, data.size(), 4);
        out.resize(dataEntry + 16);
        out.insert(out.end(), data.begin(), data.end());
        align(out, 4);
    }
}

}  // namespace

void put(Bytes& out, std::size_t at, std::uint64_t value, int size, bool bigEndian) {
    out.resize(std::max(out.size(), at + static_cast<std::size_t>(size)));
    for (int i = 0; i < size; ++i) {
        const int shift = 8 * (bigEndian ? size - 1 - i : i);
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> shift);
    }
}

Bytes versionBlock(std::string_view productVersion, std::string_view fileVersion) {
    const platform::VersionString strings[] = {{"CompanyName", "Sample Co."},
                                               {"FileVersion", fileVersion},
                                               {"ProductVersion", productVersion}};
    return platform::makeVersionBlock(
        {.fileVersion = {2, 5, 0, 0}, .productVersion = {1, 0, 0, 3}, .strings = strings});
}

Bytes buildPe(const PeLayout& layout) {
    const bool plus = layout.plus;
    Bytes out(0x400, 0);
    put(out, 0, 'M' | ('Z' << 8), 2);
    put(out, 0x3C, kPeSignature, 4);
    std::copy_n("PE\0\0", 4, out.begin() + kPeSignature);
    Bytes rsrc;
    if (layout.resources) {
        addDirectory(rsrc, *layout.resources, 0, layout.resourceRva);
    }
    put(out, kPeSignature + 4, plus ? 0x8664 : 0x14C, 2);  // machine
    put(out, kPeSignature + 6, layout.resources ? 2 : 1, 2);
    put(out, kPeSignature + 20, plus ? 240 : 224, 2);  // SizeOfOptionalHeader
    put(out, kPeOptionalHeader, plus ? 0x20B : 0x10B, 2);
    const std::size_t directories = kPeOptionalHeader + (plus ? 112 : 96);
    put(out, directories - 4, 16, 4);  // NumberOfRvaAndSizes
    if (layout.resources) {
        put(out, directories + 16, layout.resourceRva, 4);
        put(out, directories + 20, rsrc.size(), 4);
    }
    // A section header: name, VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData.
    const auto section = [&out](std::size_t at, const char* name, std::uint64_t size,
                                std::uint64_t rva, std::uint64_t fileOffset) {
        std::copy_n(name, 5, out.begin() + static_cast<std::ptrdiff_t>(at));
        put(out, at + 8, size, 4);
        put(out, at + 12, rva, 4);
        put(out, at + 16, size, 4);
        put(out, at + 20, fileOffset, 4);
    };
    const std::size_t table = kPeOptionalHeader + (plus ? 240 : 224);
    section(table, ".text", 0x200, 0x1000, 0x400);
    out.resize(0x600, 0xCC);
    if (layout.resources) {
        section(table + 40, ".rsrc", rsrc.size(), layout.resourceRva, layout.resourceFileOffset);
        out.resize(layout.resourceFileOffset, 0);
        out.insert(out.end(), rsrc.begin(), rsrc.end());
    }
    return out;
}

Bytes peWith(const Bytes& block, bool plus) {
    return buildPe({plus, std::vector<PeResource>{{16, 1, 0x0409, block}}});
}

Bytes buildElf(const ElfLayout& layout) {
    auto [is64, big, all, extended] = layout;
    const std::size_t entrySize = is64 ? 64 : 40;
    // e_ident: "\x7F" "ELF", the class, the byte order, version 1; then ET_EXEC.
    Bytes out{0x7F, 'E', 'L', 'F', std::uint8_t(is64 ? 2 : 1), std::uint8_t(big ? 2 : 1), 1};
    out.resize(is64 ? 64 : 52, 0);
    put(out, 16, 2, 2, big);
    all.push_back({".shstrtab", {0}, 3});
    std::vector<std::size_t> nameAt;
    std::vector<std::size_t> offsets;
    for (const ElfSection& s : all) {
        Bytes& names = all.back().contents;
        nameAt.push_back(names.size());
        names.insert(names.end(), s.name.begin(), s.name.end());
        names.push_back(0);
    }
    for (const ElfSection& s : all) {
        align(out, 8);
        offsets.push_back(out.size());
        out.insert(out.end(), s.contents.begin(), s.contents.end());
    }
    align(out, 8);
    const std::size_t table = out.size();
    const std::size_t count = all.size() + 1;
    out.resize(table + count * entrySize, 0);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::size_t at = table + (i + 1) * entrySize;
        put(out, at, nameAt[i], 4, big);
        put(out, at + 4, all[i].type, 4, big);
        put(out, at + (is64 ? 24 : 16), offsets[i], is64 ? 8 : 4, big);
        put(out, at + (is64 ? 32 : 20), all[i].contents.size(), is64 ? 8 : 4, big);
    }
    const std::size_t fields = is64 ? 0x3A : 0x2E;  // e_shentsize, e_shnum, e_shstrndx
    put(out, is64 ? 0x28 : 0x20, table, is64 ? 8 : 4, big);
    put(out, fields, entrySize, 2, big);
    put(out, fields + 2, extended ? 0 : count, 2, big);
    put(out, fields + 4, extended ? 0xFFFF : count - 1, 2, big);
    if (extended) {
        put(out, table + (is64 ? 32 : 20), count, is64 ? 8 : 4, big);
        put(out, table + (is64 ? 40 : 24), count - 1, 4, big);
    }
    return out;
}

Bytes elfWith(const Bytes& block, bool is64, bool big) {
    return buildElf({is64, big, {{".text", Bytes(100, 0x90)}, {".fileversion", block}}});
}

}  // namespace upd::test
