#include "wizard/file_version.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/version_info_block.h"
#include "tests/support/locale_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::wizard {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes blockWith(std::string_view productVersion, std::string_view fileVersion = "2.5.0.0") {
    const platform::VersionString strings[] = {{"CompanyName", "Sample Co."},
                                               {"FileVersion", fileVersion},
                                               {"ProductVersion", productVersion}};
    platform::VersionInfoContent content;
    content.strings = strings;
    return platform::makeVersionBlock(content);
}

void put(std::string& out, std::size_t at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[at + i] = static_cast<char>(value >> (8 * i));
    }
}

// The smallest ELF64 file that carries `block` in a ".fileversion" section: header, the
// block, the section-name table, then three section headers (null, .fileversion, names).
std::string elfWith(const Bytes& block) {
    const std::string names = std::string("\0.fileversion\0.shstrtab\0", 24);
    std::string out(64, '\0');
    out.replace(0, 7,
                "\x7F"
                "ELF\x02\x01\x01");
    out.append(block.begin(), block.end());
    const std::size_t namesAt = out.size();
    out += names;
    out.resize((out.size() + 7) & ~std::size_t{7});
    const std::size_t table = out.size();
    out.resize(table + 3 * 64);
    put(out, table + 64, 1, 4);        // name ".fileversion"
    put(out, table + 64 + 4, 1, 4);    // SHT_PROGBITS
    put(out, table + 64 + 24, 64, 8);  // offset
    put(out, table + 64 + 32, block.size(), 8);
    put(out, table + 128, 14, 4);     // name ".shstrtab"
    put(out, table + 128 + 4, 3, 4);  // SHT_STRTAB
    put(out, table + 128 + 24, namesAt, 8);
    put(out, table + 128 + 32, names.size(), 8);
    put(out, 0x28, table, 8);
    put(out, 0x3A, 64, 2);
    put(out, 0x3C, 3, 2);
    put(out, 0x3E, 2, 2);
    return out;
}

// === Reading the version key of an entry ==================================================

TEST(VersionKeyFromBlock, ReadsEntriesWithAndWithoutKeyPadding) {
    const Bytes block = blockWith("1.0.0.3", "2.5.0.10");
    // "ProductVersion\0" ends on a 32-bit boundary; "FileVersion\0" has a padding NUL.
    EXPECT_EQ(versionKeyFromBlock(block, "ProductVersion", 1252), "1003");
    EXPECT_EQ(versionKeyFromBlock(block, "FileVersion", 1252), "25010");
    EXPECT_EQ(versionKeyFromBlock(block, "CompanyName", 1252), "Sample Co");
}

TEST(VersionKeyFromBlock, EntryNameIgnoresCase) {
    const Bytes block = blockWith("1.2.3.4");
    EXPECT_EQ(versionKeyFromBlock(block, "productversion", 1252), "1234");
    EXPECT_EQ(versionKeyFromBlock(block, "PRODUCTVERSION", 1252), "1234");
}

TEST(VersionKeyFromBlock, FirstOccurrenceOfTheTextWins) {
    // The name is searched as text, not as a key: "Name" first occurs in "CompanyName".
    const Bytes block = blockWith("1.0.0.3", "2.5.0.0");
    EXPECT_EQ(versionKeyFromBlock(block, "Name", 1252), "Sample Co");
    // "Version" first occurs in the root key "VS_VERSION_INFO", whose padding NUL is skipped
    // and whose "value" is the signature 0xFEEF04BD: two units that 1252 cannot hold.
    EXPECT_EQ(versionKeyFromBlock(block, "Version", 1252), "??");
}

TEST(VersionKeyFromBlock, MissingEntryOrCutBlockGivesZero) {
    const Bytes block = blockWith("1.0.0.3");
    EXPECT_EQ(versionKeyFromBlock(block, "Comments", 1252), "0");
    EXPECT_EQ(versionKeyFromBlock({}, "ProductVersion", 1252), "0");
    // Cut inside the value: its closing NUL is gone.
    const std::size_t valueEnd = [&] {
        const std::u16string key = u"ProductVersion";
        for (std::size_t at = 0; at + 2 * key.size() <= block.size(); at += 2) {
            bool match = true;
            for (std::size_t k = 0; k < key.size() && match; ++k) {
                match = block[at + 2 * k] == key[k] && block[at + 2 * k + 1] == 0;
            }
            if (match) {
                return at + 2 * key.size() + 2 + 2 * 7;  // after "1.0.0.3", before its NUL
            }
        }
        return std::size_t{0};
    }();
    ASSERT_GT(valueEnd, 0u);
    const Bytes cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(valueEnd));
    EXPECT_EQ(versionKeyFromBlock(cut, "ProductVersion", 1252), "0");
    // One byte more is half a code unit, which is no character: still cut.
    const Bytes odd(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(valueEnd + 1));
    EXPECT_EQ(versionKeyFromBlock(odd, "ProductVersion", 1252), "0");
}

TEST(VersionKeyFromBlock, ValueGoesThroughTheCodePage) {
    const Bytes block = blockWith("版本1.0.0.2");
    EXPECT_EQ(versionKeyFromBlock(block, "ProductVersion", 936), "版本1002");
    EXPECT_EQ(versionKeyFromBlock(block, "ProductVersion", 1252), "??1002");
    EXPECT_EQ(versionKeyFromBlock(blockWith("1.0 \xC3\xA9"), "ProductVersion", 1252),
              "10 \xC3\xA9");  // é is in 1252
}

// === GetFileVersionText on files ==========================================================

TEST(GetFileVersionText, ReadsTheProductVersionOfAFile) {
    const test::TempDir dir;
    test::LocaleGuard english("en_US.UTF-8");
    const std::string app = dir.write("app", elfWith(blockWith("1.0.0.3")));
    EXPECT_EQ(GetFileVersionText(app, "ProductVersion"), "1003");
    EXPECT_EQ(GetFileVersionText(app, "FileVersion"), "2500");
    EXPECT_EQ(GetFileVersionText(app, "Comments"), "0");
}

TEST(GetFileVersionText, ChineseValueRoundTripsInCodePage936) {
    const test::TempDir dir;
    const std::string app = dir.write("app", elfWith(blockWith("版本1.0.0.2")));
    {
        test::LocaleGuard chinese("zh_CN.UTF-8");
        EXPECT_EQ(GetFileVersionText(app, "ProductVersion"), "版本1002");
    }
    test::LocaleGuard english("en_US.UTF-8");
    EXPECT_EQ(GetFileVersionText(app, "ProductVersion"), "??1002");
}

TEST(GetFileVersionText, ZeroWhenThereIsNoBlock) {
    const test::TempDir dir;
    EXPECT_EQ(GetFileVersionText(dir.file("missing.exe"), "ProductVersion"), "0");
    EXPECT_EQ(GetFileVersionText(dir.write("readme.txt", "ProductVersion 1.0"), "ProductVersion"),
              "0");
    EXPECT_EQ(GetFileVersionText(dir.path(), "ProductVersion"), "0");
    // A one-byte block is too small to hold anything.
    EXPECT_EQ(GetFileVersionText(dir.write("tiny", elfWith(Bytes{'1'})), "ProductVersion"), "0");
}

// === The older-than rule ==================================================================

struct OlderCase {
    const char* local;
    const char* announced;
    bool older;
};

class OlderVersionRule : public testing::TestWithParam<OlderCase> {};

TEST_P(OlderVersionRule, KeysCompareAsText) {
    const OlderCase& c = GetParam();
    const std::string localKey = RemoveChar(c.local, ".");
    const std::string announcedKey = RemoveChar(c.announced, ".");
    EXPECT_EQ(isOlderVersion(localKey, announcedKey), c.older)
        << c.local << " (" << localKey << ") vs " << c.announced << " (" << announcedKey << ")";
}

// "0" stands for a file without version information.
INSTANTIATE_TEST_SUITE_P(
    Table, OlderVersionRule,
    testing::Values(OlderCase{"1.0.0.3", "1.0.0.4", true}, OlderCase{"1.0.0.4", "1.0.0.4", false},
                    OlderCase{"0", "1.0.0.1", true}, OlderCase{"0", "0.9", true},
                    OlderCase{"1.0.0.3", "", false}, OlderCase{"1.9", "1.10", false},
                    OlderCase{"1.10", "1.9", true}, OlderCase{"1, 0, 0, 3", "1.0.0.3", true}));

TEST(OlderVersionRuleOrder, ComparesUtf16CodeUnits) {
    // U+FF11 (fullwidth 1) against U+1F600: as UTF-16 the surrogate 0xD83D sorts first,
    // although the code point is larger.
    EXPECT_TRUE(isOlderVersion("\xF0\x9F\x98\x80", "\xEF\xBC\x91"));
    EXPECT_FALSE(isOlderVersion("\xEF\xBC\x91", "\xF0\x9F\x98\x80"));
    EXPECT_TRUE(isOlderVersion("", "0"));
    EXPECT_FALSE(isOlderVersion("", ""));
}

// === Text helpers =========================================================================

TEST(RemoveChar, RemovesEveryOccurrence) {
    EXPECT_EQ(RemoveChar("1..2", "."), "12");
    EXPECT_EQ(RemoveChar("1.0.0.3", "."), "1003");
    EXPECT_EQ(RemoveChar("1003", "."), "1003");
    EXPECT_EQ(RemoveChar("...", "."), "");
    EXPECT_EQ(RemoveChar("", "."), "");
    EXPECT_EQ(RemoveChar("版.本版", "版"), ".本");
    EXPECT_EQ(RemoveChar("1.2", ""), "1.2");
}

TEST(RemoveChar, SeveralCharactersRemoveTheFirstOfEachOccurrence) {
    // Removing the first character of ".." from "a...b" leaves "a..b", which again holds
    // "..", and so on until one "." is left.
    EXPECT_EQ(RemoveChar("a...b", ".."), "a.b");
    EXPECT_EQ(RemoveChar("xabab", "ab"), "xbb");
}

TEST(GetExtension, TextAfterTheLastDot) {
    EXPECT_EQ(GetExtension("readme"), "readme");
    EXPECT_EQ(GetExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(GetExtension("name."), "");
    EXPECT_EQ(GetExtension(".profile"), "profile");
    EXPECT_EQ(GetExtension(""), "");
    EXPECT_EQ(GetExtension("dir.v2\\setup"), "v2\\setup");  // folders are not special
    EXPECT_EQ(GetExtension("说明.文本"), "文本");
}

TEST(ParentUrl, DropsTheLastSegment) {
    EXPECT_EQ(ParentUrl("http://host/a/b"), "http://host/a");
    EXPECT_EQ(ParentUrl("http://host/a/b/"), "http://host/a");
    EXPECT_EQ(ParentUrl("http://host/a"), "http://host");
    EXPECT_EQ(ParentUrl("http://h/x"), "http://h");  // "/" at 9
    EXPECT_EQ(ParentUrl("https://host/file.zip"), "https://host");
}

TEST(ParentUrl, SlashesUpToTheEighthCharacterDoNotCount) {
    EXPECT_EQ(ParentUrl(""), "");
    EXPECT_EQ(ParentUrl("/"), "");
    EXPECT_EQ(ParentUrl("http://host"), "");
    EXPECT_EQ(ParentUrl("http://host/"), "");  // the last character is not searched
    EXPECT_EQ(ParentUrl("https://h"), "");
    EXPECT_EQ(ParentUrl("ab/cdef/"), "");   // the "/" at 3 is the only one searched
    EXPECT_EQ(ParentUrl("abcdefg/x"), "");  // "/" at 8
    EXPECT_EQ(ParentUrl("abcdefgh/x"), "abcdefgh");
}

TEST(ParentUrl, PositionsCountCharactersNotBytes) {
    // Six Chinese characters are 18 bytes: the "/" is the 7th character.
    EXPECT_EQ(ParentUrl("服务器列表文/x"), "");
    EXPECT_EQ(ParentUrl("http://服/x"), "http://服");
    EXPECT_EQ(ParentUrl("http://host/目录/文件"), "http://host/目录");
    EXPECT_EQ(ParentUrl("http://host/目录/文"), "http://host/目录");
}

}  // namespace
}  // namespace upd::wizard
