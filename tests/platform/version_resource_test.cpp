#include "platform/version_resource.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/version_info_block.h"
#include "tests/support/temp_dir.h"

namespace upd::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// --- Writing little- and big-endian fields ----------------------------------------------

void put(Bytes& out, std::size_t at, std::uint64_t value, int bytes, bool big = false) {
    if (out.size() < at + bytes) {
        out.resize(at + bytes);
    }
    for (int i = 0; i < bytes; ++i) {
        const int shift = 8 * (big ? bytes - 1 - i : i);
        out[at + i] = static_cast<std::uint8_t>(value >> shift);
    }
}

std::uint16_t get16(const Bytes& in, std::size_t at) {
    return static_cast<std::uint16_t>(in.at(at) | (in.at(at + 1) << 8));
}

std::uint32_t get32(const Bytes& in, std::size_t at) {
    return get16(in, at) | (std::uint32_t{get16(in, at + 2)} << 16);
}

std::string asString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// --- A version block and an independent reading of its tree -----------------------------

Bytes sampleBlock(std::string_view productVersion = "1.0.0.3") {
    const VersionString strings[] = {{"CompanyName", "Sample Co."},
                                     {"FileVersion", "2.5.0.0"},
                                     {"ProductVersion", productVersion}};
    VersionInfoContent content;
    content.fileVersion = {2, 5, 0, 0};
    content.productVersion = {1, 0, 0, 3};
    content.strings = strings;
    return makeVersionBlock(content);
}

struct Node {
    std::string key;
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;
    Bytes value;
    std::vector<Node> children;
};

std::string asciiOfUtf16(const Bytes& in, std::size_t from, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units; ++i) {
        out += static_cast<char>(get16(in, from + 2 * i));
    }
    return out;
}

// Parses one structure at `at` and its children by their wLength, checking alignment and
// nesting on the way. Values of type 1 are UTF-16 text, counted in code units.
std::optional<Node> parseNode(const Bytes& in, std::size_t at, std::size_t limit) {
    if (at % 4 != 0 || at + 6 > limit) {
        return std::nullopt;
    }
    Node node;
    const std::size_t length = get16(in, at);
    node.valueLength = get16(in, at + 2);
    node.type = get16(in, at + 4);
    const std::size_t end = at + length;
    if (length < 6 || end > limit) {
        return std::nullopt;
    }
    std::size_t pos = at + 6;
    while (pos + 2 <= end && get16(in, pos) != 0) {
        node.key += static_cast<char>(get16(in, pos));
        pos += 2;
    }
    pos = (pos + 2 + 3) & ~std::size_t{3};
    const std::size_t valueBytes = node.type == 1 ? 2u * node.valueLength : node.valueLength;
    if (pos + valueBytes > end) {
        return std::nullopt;
    }
    node.value.assign(in.begin() + static_cast<std::ptrdiff_t>(pos),
                      in.begin() + static_cast<std::ptrdiff_t>(pos + valueBytes));
    pos = (pos + valueBytes + 3) & ~std::size_t{3};
    while (pos < end) {
        auto child = parseNode(in, pos, end);
        if (!child) {
            return std::nullopt;
        }
        pos = (pos + get16(in, pos) + 3) & ~std::size_t{3};
        node.children.push_back(std::move(*child));
    }
    return node;
}

struct ParsedBlock {
    std::array<std::uint32_t, 13> fixed{};
    std::string tableKey;
    std::map<std::string, std::string> strings;  // ASCII keys and values
    std::uint32_t translation = 0;
};

std::optional<ParsedBlock> parseBlock(const Bytes& block) {
    const auto root = parseNode(block, 0, block.size());
    if (!root || root->key != "VS_VERSION_INFO" || root->valueLength != 52 ||
        get16(block, 0) != block.size() || root->children.size() != 2) {
        return std::nullopt;
    }
    ParsedBlock parsed;
    for (std::size_t i = 0; i < parsed.fixed.size(); ++i) {
        parsed.fixed[i] = get32(root->value, 4 * i);
    }
    const Node& stringInfo = root->children[0];
    const Node& varInfo = root->children[1];
    if (stringInfo.key != "StringFileInfo" || stringInfo.children.size() != 1 ||
        varInfo.key != "VarFileInfo" || varInfo.children.size() != 1 ||
        varInfo.children[0].key != "Translation" || varInfo.children[0].value.size() != 4) {
        return std::nullopt;
    }
    parsed.tableKey = stringInfo.children[0].key;
    for (const Node& entry : stringInfo.children[0].children) {
        if (entry.type != 1 || entry.valueLength == 0 ||
            get16(entry.value, entry.value.size() - 2) != 0) {
            return std::nullopt;  // the value must end in its NUL
        }
        parsed.strings[entry.key] = asciiOfUtf16(entry.value, 0, entry.valueLength - 1u);
    }
    parsed.translation = get32(varInfo.children[0].value, 0);
    return parsed;
}

// Where the UTF-16 text `ascii` (with its NUL) starts in the block.
std::size_t findUtf16(const Bytes& block, std::string_view ascii) {
    Bytes wanted;
    for (char c : ascii) {
        wanted.push_back(static_cast<std::uint8_t>(c));
        wanted.push_back(0);
    }
    wanted.insert(wanted.end(), {0, 0});
    const auto it = std::search(block.begin(), block.end(), wanted.begin(), wanted.end());
    return it == block.end() ? std::string::npos : static_cast<std::size_t>(it - block.begin());
}

// --- Synthetic PE files -------------------------------------------------------------------

struct ResLanguage {
    std::uint32_t language;
    Bytes data;
};
struct ResName {
    std::uint32_t id;  // ignored when `named`
    bool named = false;
    std::vector<ResLanguage> languages;
};
struct ResType {
    std::uint32_t id;
    std::vector<ResName> names;
};

// Appends a directory with room for `entries` entries; returns its offset.
std::size_t addDirectory(Bytes& out, std::size_t named, std::size_t ids) {
    const std::size_t at = out.size();
    out.resize(at + 16 + 8 * (named + ids));
    put(out, at + 12, named, 2);
    put(out, at + 14, ids, 2);
    return at;
}

void setEntry(Bytes& out, std::size_t directory, std::size_t index, std::uint32_t name,
              std::uint32_t target) {
    put(out, directory + 16 + 8 * index, name, 4);
    put(out, directory + 16 + 8 * index + 4, target, 4);
}

// The contents of a resource section loaded at `sectionRva`. Named entries must come first
// in each list, as in real files.
Bytes resourceSection(const std::vector<ResType>& types, std::uint32_t sectionRva) {
    Bytes out;
    const std::size_t root = addDirectory(out, 0, types.size());
    for (std::size_t t = 0; t < types.size(); ++t) {
        std::size_t named = 0;
        for (const ResName& name : types[t].names) {
            named += name.named ? 1 : 0;
        }
        const std::size_t typeDir = addDirectory(out, named, types[t].names.size() - named);
        setEntry(out, root, t, types[t].id, 0x80000000u | static_cast<std::uint32_t>(typeDir));
        for (std::size_t n = 0; n < types[t].names.size(); ++n) {
            const ResName& name = types[t].names[n];
            std::uint32_t nameField = name.id;
            if (name.named) {
                nameField = 0x80000000u | static_cast<std::uint32_t>(out.size());
                put(out, out.size(), 3, 2);  // "FOO" as a counted UTF-16 string
                for (char c : std::string_view("FOO")) {
                    put(out, out.size(), static_cast<std::uint8_t>(c), 2);
                }
                out.resize((out.size() + 3) & ~std::size_t{3});
            }
            const std::size_t langDir = addDirectory(out, 0, name.languages.size());
            setEntry(out, typeDir, n, nameField, 0x80000000u | static_cast<std::uint32_t>(langDir));
            for (std::size_t l = 0; l < name.languages.size(); ++l) {
                const std::size_t dataEntry = out.size();
                out.resize(dataEntry + 16);
                setEntry(out, langDir, l, name.languages[l].language,
                         static_cast<std::uint32_t>(dataEntry));
                const std::size_t dataAt = out.size();
                out.insert(out.end(), name.languages[l].data.begin(), name.languages[l].data.end());
                out.resize((out.size() + 3) & ~std::size_t{3});
                put(out, dataEntry, sectionRva + dataAt, 4);
                put(out, dataEntry + 4, name.languages[l].data.size(), 4);
            }
        }
    }
    return out;
}

std::vector<ResType> versionResource(const Bytes& block) {
    return {{16, {{1, false, {{0x0409, block}}}}}};
}

struct PeLayout {
    bool plus = false;
    std::optional<std::vector<ResType>> resources;  // no resource directory when empty
    std::uint32_t resourceRva = 0x3000;
    std::uint32_t resourceFileOffset = 0x600;  // differs from the RVA on purpose
};

constexpr std::size_t kLfanew = 0x80;

// Byte offsets of fields the corruption tests change.
std::size_t optionalHeaderAt() {
    return kLfanew + 24;
}
std::size_t sectionTableAt(bool plus) {
    return optionalHeaderAt() + (plus ? 240 : 224);
}

// A PE image with a ".text" section and, when there are resources, a ".rsrc" section whose
// raw size is exactly its contents (so any cut of the file cuts the resources).
Bytes buildPe(const PeLayout& layout) {
    Bytes out(0x400, 0);
    out[0] = 'M';
    out[1] = 'Z';
    put(out, 0x3C, kLfanew, 4);
    std::copy_n("PE\0\0", 4, out.begin() + kLfanew);
    const Bytes rsrc =
        layout.resources ? resourceSection(*layout.resources, layout.resourceRva) : Bytes{};
    const std::size_t sectionCount = layout.resources ? 2 : 1;
    put(out, kLfanew + 4, layout.plus ? 0x8664 : 0x14C, 2);  // machine
    put(out, kLfanew + 6, sectionCount, 2);
    put(out, kLfanew + 20, layout.plus ? 240 : 224, 2);  // SizeOfOptionalHeader
    const std::size_t opt = optionalHeaderAt();
    put(out, opt, layout.plus ? 0x20B : 0x10B, 2);
    const std::size_t directories = opt + (layout.plus ? 112 : 96);
    put(out, directories - 4, 16, 4);  // NumberOfRvaAndSizes
    if (layout.resources) {
        put(out, directories + 16, layout.resourceRva, 4);
        put(out, directories + 20, rsrc.size(), 4);
    }
    const std::size_t table = sectionTableAt(layout.plus);
    std::copy_n(".text", 5, out.begin() + static_cast<std::ptrdiff_t>(table));
    put(out, table + 8, 0x200, 4);
    put(out, table + 12, 0x1000, 4);
    put(out, table + 16, 0x200, 4);
    put(out, table + 20, 0x400, 4);
    out.resize(0x600, 0xCC);
    if (layout.resources) {
        const std::size_t s = table + 40;
        std::copy_n(".rsrc", 5, out.begin() + static_cast<std::ptrdiff_t>(s));
        put(out, s + 8, rsrc.size(), 4);
        put(out, s + 12, layout.resourceRva, 4);
        put(out, s + 16, rsrc.size(), 4);
        put(out, s + 20, layout.resourceFileOffset, 4);
        out.resize(layout.resourceFileOffset, 0);
        out.insert(out.end(), rsrc.begin(), rsrc.end());
    }
    return out;
}

Bytes peWithBlock(const Bytes& block, bool plus = false) {
    return buildPe({plus, versionResource(block)});
}

// --- Synthetic ELF files ------------------------------------------------------------------

struct ElfSectionSpec {
    std::string name;
    Bytes contents;
    std::uint32_t type = 1;  // SHT_PROGBITS
};

struct ElfLayout {
    bool is64 = true;
    bool big = false;
    std::vector<ElfSectionSpec> sections;
    bool extendedNumbering = false;  // count and name index kept in section 0
};

// Header, section contents, ".shstrtab", then the section header table.
Bytes buildElf(const ElfLayout& layout) {
    const bool big = layout.big;
    const std::size_t headerSize = layout.is64 ? 64 : 52;
    const std::size_t entrySize = layout.is64 ? 64 : 40;
    Bytes out(headerSize, 0);
    std::copy_n(
        "\x7F"
        "ELF",
        4, out.begin());
    out[4] = layout.is64 ? 2 : 1;
    out[5] = big ? 2 : 1;
    out[6] = 1;
    put(out, 16, 2, 2, big);  // ET_EXEC

    std::vector<ElfSectionSpec> all = layout.sections;
    all.push_back({".shstrtab", {}, 3});
    Bytes names(1, 0);
    std::vector<std::size_t> nameAt;
    for (const ElfSectionSpec& s : all) {
        nameAt.push_back(names.size());
        names.insert(names.end(), s.name.begin(), s.name.end());
        names.push_back(0);
    }
    all.back().contents = names;

    std::vector<std::size_t> offsets;
    for (const ElfSectionSpec& s : all) {
        out.resize((out.size() + 7) & ~std::size_t{7});
        offsets.push_back(out.size());
        out.insert(out.end(), s.contents.begin(), s.contents.end());
    }
    out.resize((out.size() + 7) & ~std::size_t{7});
    const std::size_t table = out.size();
    const std::size_t count = all.size() + 1;
    out.resize(table + count * entrySize, 0);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::size_t at = table + (i + 1) * entrySize;
        put(out, at, nameAt[i], 4, big);
        put(out, at + 4, all[i].type, 4, big);
        if (layout.is64) {
            put(out, at + 24, offsets[i], 8, big);
            put(out, at + 32, all[i].contents.size(), 8, big);
        } else {
            put(out, at + 16, offsets[i], 4, big);
            put(out, at + 20, all[i].contents.size(), 4, big);
        }
    }
    const std::size_t namesIndex = count - 1;
    if (layout.is64) {
        put(out, 0x28, table, 8, big);
        put(out, 0x3A, entrySize, 2, big);
        put(out, 0x3C, layout.extendedNumbering ? 0 : count, 2, big);
        put(out, 0x3E, layout.extendedNumbering ? 0xFFFF : namesIndex, 2, big);
    } else {
        put(out, 0x20, table, 4, big);
        put(out, 0x2E, entrySize, 2, big);
        put(out, 0x30, layout.extendedNumbering ? 0 : count, 2, big);
        put(out, 0x32, layout.extendedNumbering ? 0xFFFF : namesIndex, 2, big);
    }
    if (layout.extendedNumbering) {
        put(out, table + (layout.is64 ? 32 : 20), count, layout.is64 ? 8 : 4, big);
        put(out, table + (layout.is64 ? 40 : 24), namesIndex, 4, big);
    }
    return out;
}

Bytes elfWithBlock(const Bytes& block, bool is64 = true, bool big = false) {
    return buildElf({is64, big, {{".text", Bytes(100, 0x90)}, {".fileversion", block}}});
}

std::optional<Bytes> readFromMemory(const Bytes& image) {
    return readVersionBlock(MemoryByteSource(image));
}

// Counts what is read, to show that only headers and the block are.
class CountingSource final : public ByteSource {
  public:
    explicit CountingSource(const ByteSource& inner) : m_inner(inner) {}
    std::uint64_t size() const override { return m_inner.size(); }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
        m_bytesRead += out.size();
        return m_inner.readAt(offset, out);
    }
    std::uint64_t bytesRead() const { return m_bytesRead; }

  private:
    const ByteSource& m_inner;
    mutable std::uint64_t m_bytesRead = 0;
};

// === The block builder ===================================================================

TEST(VersionInfoBlock, TreeIsWellFormedAndHoldsTheContent) {
    const Bytes block = sampleBlock();
    const auto parsed = parseBlock(block);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->fixed[0], 0xFEEF04BDu);
    EXPECT_EQ(parsed->fixed[2], 0x00020005u);  // file version 2.5 ...
    EXPECT_EQ(parsed->fixed[3], 0x00000000u);  // ... .0.0
    EXPECT_EQ(parsed->fixed[4], 0x00010000u);  // product version 1.0 ...
    EXPECT_EQ(parsed->fixed[5], 0x00000003u);  // ... .0.3
    EXPECT_EQ(parsed->tableKey, "040904b0");
    EXPECT_EQ(parsed->strings, (std::map<std::string, std::string>{{"CompanyName", "Sample Co."},
                                                                   {"FileVersion", "2.5.0.0"},
                                                                   {"ProductVersion", "1.0.0.3"}}));
    EXPECT_EQ(parsed->translation, 0x04B00409u);
}

TEST(VersionInfoBlock, StringEntriesPadTheirKeysToThirtyTwoBits) {
    const Bytes block = sampleBlock();
    // "ProductVersion": 6 header bytes + 15 units = 36, the value follows the NUL at once.
    const std::size_t product = findUtf16(block, "ProductVersion");
    ASSERT_NE(product, std::string::npos);
    EXPECT_EQ(get16(block, product - 6), 6 + 30 + 16);  // wLength: "1.0.0.3\0" is 16 bytes
    EXPECT_EQ(get16(block, product - 4), 8);            // wValueLength in units, with NUL
    EXPECT_EQ(get16(block, product - 2), 1);            // wType: text
    EXPECT_EQ(get16(block, product + 30), '1');
    // "FileVersion": 6 + 24 = 30, one zero unit of padding before the value.
    const std::size_t file = findUtf16(block, "FileVersion");
    ASSERT_NE(file, std::string::npos);
    EXPECT_EQ((file - 6) % 4, 0u);
    EXPECT_EQ(get16(block, file - 6), 6 + 24 + 2 + 16);
    EXPECT_EQ(get16(block, file + 24), 0);
    EXPECT_EQ(get16(block, file + 26), '2');
}

TEST(VersionInfoBlock, TextIsStoredAsUtf16) {
    const VersionString strings[] = {{"ProductName", "升级 \xF0\x9F\x98\x80"}};  // + U+1F600
    VersionInfoContent content;
    content.strings = strings;
    const Bytes block = makeVersionBlock(content);
    const std::size_t key = findUtf16(block, "ProductName");
    ASSERT_NE(key, std::string::npos);
    const std::size_t value = key + 26;   // 11 characters: padded
    EXPECT_EQ(get16(block, key - 4), 6);  // 2 + 1 + a surrogate pair + NUL
    EXPECT_EQ(get16(block, value), 0x5347);
    EXPECT_EQ(get16(block, value + 2), 0x7EA7);
    EXPECT_EQ(get16(block, value + 4), ' ');
    EXPECT_EQ(get16(block, value + 6), 0xD83D);
    EXPECT_EQ(get16(block, value + 8), 0xDE00);
    EXPECT_EQ(get16(block, value + 10), 0);
    EXPECT_TRUE(parseBlock(block));
}

constexpr VersionString kCompileTimeStrings[] = {{"ProductVersion", "1.0"}};
constexpr VersionInfoContent kCompileTimeContent{.productVersion = {1, 0, 0, 0},
                                                 .strings = kCompileTimeStrings};
constexpr auto kCompileTimeBlock =
    makeVersionBlockArray<versionBlockSize(kCompileTimeContent)>(kCompileTimeContent);
// Root 40 + fixed 52, StringFileInfo 36 + table 24 + string 36 + 8, VarFileInfo 32 + 36.
static_assert(kCompileTimeBlock.size() == 264);
static_assert(kCompileTimeBlock[0] == 264 % 256 && kCompileTimeBlock[1] == 264 / 256);

TEST(VersionInfoBlock, CompileTimeAndRunTimeBlocksAreTheSame) {
    const Bytes runTime = makeVersionBlock(kCompileTimeContent);
    EXPECT_EQ(runTime, Bytes(kCompileTimeBlock.begin(), kCompileTimeBlock.end()));
}

// === PE files =============================================================================

TEST(PeVersionResource, ReadsTheBlockOfPe32AndPe32Plus) {
    const Bytes block = sampleBlock();
    EXPECT_EQ(readFromMemory(peWithBlock(block, false)), block);
    EXPECT_EQ(readFromMemory(peWithBlock(block, true)), block);
}

TEST(PeVersionResource, MapsTheResourceSectionByItsRva) {
    const Bytes block = sampleBlock();
    PeLayout layout{false, versionResource(block), 0x7000, 0x800};
    Bytes image = buildPe(layout);
    // A decoy where a reader that took the RVA for a file offset would look.
    const Bytes decoy = sampleBlock("9.9.9.9");
    image.resize(0x7000, 0);
    image.insert(image.end(), decoy.begin(), decoy.end());
    EXPECT_EQ(readFromMemory(image), block);
}

TEST(PeVersionResource, PrefersNameOneThenTheFirstName) {
    const Bytes a = sampleBlock("1.1");
    const Bytes b = sampleBlock("2.2");
    const Bytes c = sampleBlock("3.3");
    const std::vector<ResType> withOne = {
        {3, {{1, false, {{0x0409, Bytes(40, 7)}}}}},  // an icon first
        {16, {{0, true, {{0x0409, a}}}, {2, false, {{0x0409, b}}}, {1, false, {{0x0409, c}}}}}};
    EXPECT_EQ(readFromMemory(buildPe({false, withOne})), c);
    const std::vector<ResType> withoutOne = {
        {16, {{0, true, {{0x0409, a}}}, {5, false, {{0x0409, b}}}}}};
    EXPECT_EQ(readFromMemory(buildPe({true, withoutOne})), a);
}

TEST(PeVersionResource, TakesTheFirstLanguage) {
    const Bytes chinese = sampleBlock("5.0");
    const Bytes english = sampleBlock("6.0");
    const std::vector<ResType> types = {{16, {{1, false, {{0x0804, chinese}, {0x0409, english}}}}}};
    EXPECT_EQ(readFromMemory(buildPe({false, types})), chinese);
}

TEST(PeVersionResource, NoBlockWithoutAVersionResource) {
    EXPECT_FALSE(readFromMemory(buildPe({false, std::nullopt})));
    EXPECT_FALSE(readFromMemory(buildPe({true, std::vector<ResType>{}})));
    const std::vector<ResType> iconOnly = {{3, {{1, false, {{0x0409, Bytes(64, 1)}}}}}};
    EXPECT_FALSE(readFromMemory(buildPe({false, iconOnly})));
    const std::vector<ResType> empty = {{16, {{1, false, {{0x0409, Bytes{}}}}}}};
    EXPECT_FALSE(readFromMemory(buildPe({false, empty})));
}

TEST(PeVersionResource, CutsTheBlockAt64KiB) {
    Bytes big = sampleBlock();
    big.resize(70000, 0x41);
    const auto read = readFromMemory(peWithBlock(big));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), kMaxVersionBlockSize);
    EXPECT_TRUE(std::equal(read->begin(), read->end(), big.begin()));
}

TEST(PeVersionResource, EveryTruncationGivesNoBlock) {
    for (bool plus : {false, true}) {
        const Bytes image = peWithBlock(sampleBlock(), plus);
        for (std::size_t length = 0; length < image.size(); ++length) {
            const Bytes cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
            ASSERT_FALSE(readFromMemory(cut)) << "cut at " << length;
        }
    }
}

TEST(PeVersionResource, CorruptHeadersGiveNoBlock) {
    const Bytes good = peWithBlock(sampleBlock());
    ASSERT_TRUE(readFromMemory(good));
    const std::size_t table = sectionTableAt(false);
    const std::size_t rsrc = table + 40;
    const std::size_t directories = optionalHeaderAt() + 96;
    struct Corruption {
        const char* what;
        std::size_t at;
        std::uint64_t value;
        int bytes;
    };
    const Corruption corruptions[] = {
        {"no MZ", 0, 'X', 1},
        {"e_lfanew past the end", 0x3C, 0xFFFFFFF0, 4},
        {"no PE signature", kLfanew, 'N', 1},
        {"unknown optional header magic", optionalHeaderAt(), 0x107, 2},
        {"optional header too small for directory 2", kLfanew + 20, 100, 2},
        {"only two data directories", directories - 4, 2, 4},
        {"resource RVA in no section", directories + 16, 0x90000, 4},
        {"section table past the end", kLfanew + 6, 0xFFFF, 2},
        {"resource raw data past the end", rsrc + 20, 0xFFFFFF00, 4},
        {"resource raw size too small", rsrc + 16, 16, 4},
    };
    for (const Corruption& c : corruptions) {
        Bytes image = good;
        put(image, c.at, c.value, c.bytes);
        EXPECT_FALSE(readFromMemory(image)) << c.what;
    }
}

TEST(PeVersionResource, CorruptResourceDirectoriesGiveNoBlock) {
    const Bytes block = sampleBlock();
    const Bytes section = resourceSection(versionResource(block), 0x3000);
    // Offsets in the section as resourceSection lays it out: root at 0 with one entry,
    // the type directory at 24, the name directory at 48, the data entry at 72.
    ASSERT_EQ(get32(section, 16 + 4), 0x80000000u | 24);
    ASSERT_EQ(get32(section, 24 + 16 + 4), 0x80000000u | 48);
    ASSERT_EQ(get32(section, 48 + 16 + 4), 72u);
    struct Corruption {
        const char* what;
        std::size_t at;
        std::uint32_t value;
        int bytes;
    };
    const Corruption corruptions[] = {
        {"type directory far away", 16 + 4, 0xFFFFFFFF, 4},
        {"type entry is data, not a directory", 16 + 4, 24, 4},
        {"name directory far away", 24 + 16 + 4, 0x80001000, 4},
        {"language entry loops back to the root", 48 + 16 + 4, 0x80000000, 4},
        {"data entry RVA past the section", 72, 0x3000 + 0x10000, 4},
        {"data entry RVA below the section", 72, 0x2FF0, 4},
        {"data size past the section", 72 + 4, 0xFFFFFFFF, 4},
        {"root claims 65535 entries", 14, 0xFFFF, 2},
        {"name directory claims 2 x 65535 entries", 24 + 12, 0xFFFFFFFF, 4},
    };
    for (const Corruption& c : corruptions) {
        Bytes image = peWithBlock(block);
        put(image, 0x600 + c.at, c.value, c.bytes);  // 0x600: the section's file offset
        EXPECT_FALSE(readFromMemory(image)) << c.what;
    }
}

TEST(PeVersionResource, AnyByteOfTheHeadersMayBeWrong) {
    // Whatever a header byte says, the reader either finds a block within its cap or none;
    // the sanitizer build checks that nothing is read out of bounds on the way.
    const Bytes good = peWithBlock(sampleBlock(), true);
    for (std::size_t at = 0; at < good.size(); ++at) {
        for (std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
            Bytes image = good;
            image[at] = value;
            const auto block = readFromMemory(image);
            ASSERT_TRUE(!block || (!block->empty() && block->size() <= kMaxVersionBlockSize));
        }
    }
}

TEST(PeVersionResource, ReadsOnlyHeadersAndTheBlock) {
    const Bytes block = sampleBlock();
    PeLayout layout{false, versionResource(block), 0x200000, 0x100000};  // 1 MiB in
    const Bytes image = buildPe(layout);
    const MemoryByteSource memory(image);
    const CountingSource counting(memory);
    EXPECT_EQ(readVersionBlock(counting), block);
    EXPECT_LT(counting.bytesRead(), 2 * block.size() + 1024);
}

// === ELF files ============================================================================

struct ElfKind {
    bool is64;
    bool big;
};

class ElfVersionSection : public testing::TestWithParam<ElfKind> {};

TEST_P(ElfVersionSection, ReadsTheSectionInEitherClassAndByteOrder) {
    const Bytes block = sampleBlock();
    EXPECT_EQ(readFromMemory(elfWithBlock(block, GetParam().is64, GetParam().big)), block);
}

TEST_P(ElfVersionSection, ReadsTheSectionWithExtendedSectionNumbering) {
    const Bytes block = sampleBlock();
    ElfLayout layout{GetParam().is64, GetParam().big, {{".fileversion", block}}, true};
    EXPECT_EQ(readFromMemory(buildElf(layout)), block);
}

TEST_P(ElfVersionSection, EveryTruncationGivesNoBlock) {
    const Bytes image = elfWithBlock(sampleBlock(), GetParam().is64, GetParam().big);
    for (std::size_t length = 0; length < image.size(); ++length) {
        const Bytes cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
        ASSERT_FALSE(readFromMemory(cut)) << "cut at " << length;
    }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, ElfVersionSection,
                         testing::Values(ElfKind{true, false}, ElfKind{true, true},
                                         ElfKind{false, false}, ElfKind{false, true}),
                         [](const testing::TestParamInfo<ElfKind>& kind) {
                             return std::string(kind.param.is64 ? "Elf64" : "Elf32") +
                                    (kind.param.big ? "Big" : "Little");
                         });

TEST(ElfVersionSectionName, OnlyTheExactNameCounts) {
    const Bytes block = sampleBlock();
    EXPECT_FALSE(readFromMemory(buildElf({true, false, {{".fileversio", block}}})));
    EXPECT_FALSE(readFromMemory(buildElf({true, false, {{".fileversion2", block}}})));
    EXPECT_FALSE(readFromMemory(buildElf({true, false, {{".text", Bytes(8, 1)}}})));
    const Bytes other = sampleBlock("7.7");
    EXPECT_EQ(readFromMemory(
                  buildElf({true, false, {{".fileversion2", other}, {".fileversion", block}}})),
              block);
}

TEST(ElfVersionSectionName, PaddingAfterTheBlockIsDropped) {
    const Bytes block = sampleBlock();
    Bytes padded = block;
    padded.resize(block.size() + 200, 0);
    EXPECT_EQ(readFromMemory(buildElf({true, false, {{".fileversion", padded}}})), block);
    // A section shorter than the block's own length is taken as it is.
    const Bytes cut(block.begin(), block.end() - 10);
    EXPECT_EQ(readFromMemory(buildElf({true, false, {{".fileversion", cut}}})), cut);
}

TEST(ElfVersionSectionName, EmptyOrNoBitsSectionGivesNoBlock) {
    EXPECT_FALSE(readFromMemory(buildElf({true, false, {{".fileversion", {}}}})));
    EXPECT_FALSE(readFromMemory(buildElf({true, false, {{".fileversion", sampleBlock(), 8}}})));
}

TEST(ElfVersionSectionName, CorruptHeadersGiveNoBlock) {
    const Bytes good = elfWithBlock(sampleBlock());
    ASSERT_TRUE(readFromMemory(good));
    const std::size_t table = static_cast<std::size_t>(get32(good, 0x28));
    const std::size_t versionHeader = table + 2 * 64;  // after null and .text
    struct Corruption {
        const char* what;
        std::size_t at;
        std::uint64_t value;
        int bytes;
    };
    const Corruption corruptions[] = {
        {"unknown class", 4, 3, 1},
        {"unknown byte order", 5, 0, 1},
        {"no section table", 0x28, 0, 8},
        {"section table past the end", 0x28, 0xFFFFFFFFFFFFFF00ull, 8},
        {"section header too small", 0x3A, 32, 2},
        {"more sections than the file holds", 0x3C, 0xFF00, 2},
        {"name table index out of range", 0x3E, 40, 2},
        {"section data past the end", versionHeader + 24, 0xFFFFFFFFFFFFFFF0ull, 8},
        {"section size past the end", versionHeader + 32, 0x7FFFFFFF, 8},
        {"name offset past the name table", versionHeader, 0xFFFFFFFF, 4},
    };
    for (const Corruption& c : corruptions) {
        Bytes image = good;
        put(image, c.at, c.value, c.bytes);
        EXPECT_FALSE(readFromMemory(image)) << c.what;
    }
}

TEST(ElfVersionSectionName, AnyByteOfTheHeadersMayBeWrong) {
    const Bytes good = elfWithBlock(sampleBlock(), false, true);
    for (std::size_t at = 0; at < good.size(); ++at) {
        for (std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
            Bytes image = good;
            image[at] = value;
            const auto block = readFromMemory(image);
            ASSERT_TRUE(!block || (!block->empty() && block->size() <= kMaxVersionBlockSize));
        }
    }
}

TEST(ElfVersionSectionName, ReadsOnlyHeadersAndTheBlock) {
    const Bytes block = sampleBlock();
    const Bytes image =
        buildElf({true, false, {{".data", Bytes(1 << 20, 0x55)}, {".fileversion", block}}});
    const MemoryByteSource memory(image);
    const CountingSource counting(memory);
    EXPECT_EQ(readVersionBlock(counting), block);
    EXPECT_LT(counting.bytesRead(), block.size() + 1024);
}

// === Files ================================================================================

TEST(VersionBlockFiles, ReadsPeAndElfFilesFromDisk) {
    const test::TempDir dir;
    const Bytes block = sampleBlock();
    EXPECT_EQ(readVersionBlock(dir.write("app.exe", asString(peWithBlock(block, false)))), block);
    EXPECT_EQ(readVersionBlock(dir.write("app64.dll", asString(peWithBlock(block, true)))), block);
    EXPECT_EQ(readVersionBlock(dir.write("app", asString(elfWithBlock(block)))), block);
}

TEST(VersionBlockFiles, NoBlockForWhatIsNotAnImageFile) {
    const test::TempDir dir;
    EXPECT_FALSE(readVersionBlock(dir.file("missing.exe")));
    EXPECT_FALSE(readVersionBlock(dir.write("empty.exe", "")));
    EXPECT_FALSE(readVersionBlock(dir.write("readme.txt", "MZ but only text\n")));
    EXPECT_FALSE(readVersionBlock(dir.path()));
    // A FIFO is never opened for reading: that would wait for a writer.
    const std::string fifo = dir.file("pipe.exe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readVersionBlock(fifo));
}

TEST(VersionBlockFiles, FileSourceRefusesReadsPastTheEnd) {
    const test::TempDir dir;
    const auto source = FileByteSource::open(dir.write("ten", "0123456789"));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->size(), 10u);
    std::array<std::uint8_t, 4> buffer{};
    EXPECT_TRUE(source->readAt(6, buffer));
    EXPECT_EQ(asString(Bytes(buffer.begin(), buffer.end())), "6789");
    EXPECT_FALSE(source->readAt(7, buffer));
    EXPECT_FALSE(source->readAt(UINT64_MAX - 1, buffer));
}

TEST(VersionBlockFiles, OurOwnProgramCarriesTheProjectVersion) {
    const auto block = readVersionBlock(std::string(UPD_UPDTOOL_PATH));
    ASSERT_TRUE(block) << UPD_UPDTOOL_PATH << " has no .fileversion section";
    const auto parsed = parseBlock(*block);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->strings.at("ProductVersion"), UPD_PROJECT_VERSION);
    EXPECT_EQ(parsed->strings.at("FileVersion"), UPD_PROJECT_VERSION);
    EXPECT_EQ(parsed->strings.at("OriginalFilename"), "updtool");
    EXPECT_TRUE(parsed->strings.count("ProductName"));
    EXPECT_TRUE(parsed->strings.count("CompanyName"));

    // The fixed part holds the same four numbers.
    std::istringstream numbers(UPD_PROJECT_VERSION);
    std::uint32_t part[4] = {};
    char dot = 0;
    numbers >> part[0] >> dot >> part[1] >> dot >> part[2] >> dot >> part[3];
    EXPECT_EQ(parsed->fixed[4], (part[0] << 16) | part[1]);
    EXPECT_EQ(parsed->fixed[5], (part[2] << 16) | part[3]);
}

}  // namespace
}  // namespace upd::platform
