#include "platform/version_resource.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/temp_dir.h"

namespace upd::platform {
namespace {

using namespace upd::test;

std::optional<Bytes> read(std::span<const std::uint8_t> image) {
    return readVersionBlock(MemoryByteSource(image));
}

struct CountingSource final : ByteSource {
    explicit CountingSource(std::span<const std::uint8_t> bytes) : inner(bytes) {}
    std::uint64_t size() const override { return inner.size(); }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
        bytesRead += out.size();
        return inner.readAt(offset, out);
    }
    MemoryByteSource inner;
    mutable std::uint64_t bytesRead = 0;
};

// clang-format off
struct ImageCase { std::string name; Bytes image; std::optional<Bytes> block; /* to be found */ };
// clang-format on
void PrintTo(const ImageCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<ImageCase> imageCases() {
    const Bytes block = test::versionBlock();
    const Bytes a = test::versionBlock("1.1");
    const Bytes b = test::versionBlock("2.2");
    const Bytes c = test::versionBlock("3.3");
    // A decoy where a reader that took the resource RVA for a file offset would look.
    Bytes byRva = test::peWith(block);
    byRva.resize(0x3000, 0);
    const Bytes decoy = test::versionBlock("9.9.9.9");
    byRva.insert(byRva.end(), decoy.begin(), decoy.end());
    Bytes big = block;
    big.resize(70000, 0x41);
    Bytes padded = block;
    padded.resize(block.size() + 200, 0);
    const Bytes shortened(block.begin(), block.end() - 10);
    const auto pe = [](bool plus, std::vector<test::PeResource> resources) {
        return buildPe({plus, std::move(resources)});
    };
    const auto elf = [](std::vector<test::ElfSection> sections) {
        return buildElf({true, false, std::move(sections)});
    };

    // clang-format off
    std::vector<ImageCase> cases = {
        {"Pe32", test::peWith(block), block},
        {"Pe32Plus", test::peWith(block, true), block},
        {"PeResourcesMappedByRva", byRva, block},
        {"PeNameOneFirst", pe(false, {{3, 1, 0x0409, Bytes(40, 7)}, {16, 0, 0x0409, a},
                                      {16, 2, 0x0409, b}, {16, 1, 0x0409, c}}), c},
        {"PeElseTheFirstName", pe(true, {{16, 0, 0x0409, a}, {16, 5, 0x0409, b}}), a},
        {"PeFirstLanguage", pe(false, {{16, 1, 0x0804, a}, {16, 1, 0x0409, b}}), a},
        {"PeResourcesAfter1MiB", buildPe({false, std::vector<test::PeResource>{
                                  {16, 1, 0x0409, block}}, 0x200000, 0x100000}), block},
        {"PeBlockCutAt64KiB", test::peWith(big),
         Bytes(big.begin(), big.begin() + kMaxVersionBlockSize)},
        {"PeNoResourceSection", buildPe({}), std::nullopt},
        {"PeEmptyResourceTree", pe(true, {}), std::nullopt},
        {"PeIconOnly", pe(false, {{3, 1, 0x0409, Bytes(64, 1)}}), std::nullopt},
        {"PeEmptyVersionResource", pe(false, {{16, 1, 0x0409, {}}}), std::nullopt},
        {"ElfNearMissNames",
         elf({{".fileversio", block}, {".fileversion2", a}, {".text", Bytes(8, 1)}}), std::nullopt},
        {"ElfExactNameAfterANearMiss", elf({{".fileversion2", a}, {".fileversion", block}}), block},
        {"ElfPaddingAfterTheBlockDropped", elf({{".fileversion", padded}}), block},
        {"ElfShortSectionTakenAsItIs", elf({{".fileversion", shortened}}), shortened},
        {"ElfEmptySection", elf({{".fileversion", {}}}), std::nullopt},
        {"ElfNoBitsSection", elf({{".fileversion", block, 8}}), std::nullopt},
        {"ElfSectionAfter1MiB",
         elf({{".data", Bytes(1 << 20, 0x55)}, {".fileversion", block}}), block},
    };
    // clang-format on
    for (const bool is64 : {true, false}) {
        for (const bool bigEndian : {false, true}) {
            const std::string name =
                std::string(is64 ? "Elf64" : "Elf32") + (bigEndian ? "Big" : "Little");
            cases.push_back({name, test::elfWith(block, is64, bigEndian), block});
            cases.push_back({name + "ExtendedNumbering",
                             buildElf({is64, bigEndian, {{".fileversion", block}}, true}), block});
        }
    }
    return cases;
}

class VersionImage : public testing::TestWithParam<ImageCase> {};

// Only headers and the block are read. A cut file gives nothing or still the right block; a
// wrong byte anywhere gives nothing or a block within the cap taken from the file itself.
// The sanitizer build checks that no read goes out of bounds on the way.
TEST_P(VersionImage, ReadsItsBlockAndSurvivesEveryCutAndEveryWrongByte) {
    const ImageCase& c = GetParam();
    const CountingSource counting(c.image);
    EXPECT_EQ(readVersionBlock(counting), c.block);
    EXPECT_LT(counting.bytesRead, 2 * (c.block ? c.block->size() : 0) + 1024);
    if (c.image.size() > 32 * 1024) {
        return;  // the sweeps grow with the square of the size
    }
    for (std::size_t length = 0; length < c.image.size(); ++length) {
        const auto cut = read(std::span(c.image).first(length));
        ASSERT_TRUE(!cut || cut == c.block) << "cut at " << length;
    }
    Bytes image = c.image;
    for (std::size_t at = 0; at < image.size(); ++at) {
        const std::uint8_t kept = image[at];
        for (const std::uint8_t value : {0x00, 0x7F, 0x80, 0xFF}) {
            image[at] = value;
            const auto found = read(image);
            ASSERT_TRUE(!found || (!found->empty() && found->size() <= kMaxVersionBlockSize &&
                                   std::search(image.begin(), image.end(), found->begin(),
                                               found->end()) != image.end()))
                << "byte " << at << " set to " << int{value};
        }
        image[at] = kept;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, VersionImage, testing::ValuesIn(imageCases()),
                         [](const auto& row) { return row.param.name; });

TEST(VersionImageCorruption, MalformedStructuresGiveNoBlock) {
    const Bytes pe = test::peWith(test::versionBlock());
    const Bytes elf = test::elfWith(test::versionBlock());
    const std::size_t directories = test::kPeOptionalHeader + 96;
    const std::size_t rsrc = test::kPe32SectionTable + 40;
    const std::size_t res = 0x600;                       // the resource section in the file
    const std::size_t elfVersion = elf.size() - 2 * 64;  // header of ".fileversion"
    // clang-format off
    const struct { const char* what; const Bytes& image; std::size_t at; std::uint64_t value;
                   int size; } corruptions[] = {
        {"no MZ", pe, 0, 'X', 1},
        {"e_lfanew past the end", pe, 0x3C, 0xFFFFFFF0, 4},
        {"no PE signature", pe, test::kPeSignature, 'N', 1},
        {"unknown optional header magic", pe, test::kPeOptionalHeader, 0x107, 2},
        {"optional header too small for directory 2", pe, test::kPeSignature + 20, 100, 2},
        {"only two data directories", pe, directories - 4, 2, 4},
        {"resource RVA in no section", pe, directories + 16, 0x90000, 4},
        {"section table past the end", pe, test::kPeSignature + 6, 0xFFFF, 2},
        {"resource raw data past the end", pe, rsrc + 20, 0xFFFFFF00, 4},
        {"resource raw size too small", pe, rsrc + 16, 16, 4},
        {"type directory far away", pe, res + 20, 0xFFFFFFFF, 4},
        {"type entry is data, not a directory", pe, res + 20, 24, 4},
        {"name directory far away", pe, res + 24 + 20, 0x80001000, 4},
        {"language entry loops back to the root", pe, res + 48 + 20, 0x80000000, 4},
        {"data RVA past the section", pe, res + 72, 0x3000 + 0x10000, 4},
        {"data RVA below the section", pe, res + 72, 0x2FF0, 4},
        {"data size past the section", pe, res + 72 + 4, 0xFFFFFFFF, 4},
        {"root claims 65535 entries", pe, res + 14, 0xFFFF, 2},
        {"names claim 2 x 65535 entries", pe, res + 24 + 12, 0xFFFFFFFF, 4},
        {"unknown ELF class", elf, 4, 3, 1},
        {"unknown byte order", elf, 5, 0, 1},
        {"no section table", elf, 0x28, 0, 8},
        {"section table past the end", elf, 0x28, 0xFFFFFFFFFFFFFF00ull, 8},
        {"section header too small", elf, 0x3A, 32, 2},
        {"more sections than the file holds", elf, 0x3C, 0xFF00, 2},
        {"name table index out of range", elf, 0x3E, 40, 2},
        {"section data past the end", elf, elfVersion + 24, 0xFFFFFFFFFFFFFFF0ull, 8},
        {"section size past the end", elf, elfVersion + 32, 0x7FFFFFFF, 8},
        {"name offset past the name table", elf, elfVersion, 0xFFFFFFFF, 4},
    };
    // clang-format on
    for (const auto& c : corruptions) {
        Bytes image = c.image;
        test::put(image, c.at, c.value, c.size);
        EXPECT_FALSE(read(image)) << c.what;
    }
}

TEST(VersionImageFiles, ReadsImagesFromDiskAndNeverPastTheEnd) {
    const test::TempDir dir;
    EXPECT_FALSE(readVersionBlock(dir.file("missing.exe")));
    EXPECT_FALSE(readVersionBlock(dir.write("empty.exe", "")));
    EXPECT_FALSE(readVersionBlock(dir.path()));
    // A FIFO is never opened for reading: that would wait for a writer.
    const std::string fifo = dir.file("pipe.exe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readVersionBlock(fifo));

    const auto source = FileByteSource::open(dir.write("ten", "0123456789"));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->size(), 10u);
    std::array<std::uint8_t, 4> buffer{};
    EXPECT_TRUE(source->readAt(6, buffer));
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "6789");
    EXPECT_FALSE(source->readAt(7, buffer));
    EXPECT_FALSE(source->readAt(UINT64_MAX - 1, buffer));  // offset + size overflows
}

}  // namespace
}  // namespace upd::platform
