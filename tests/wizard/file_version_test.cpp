#include "wizard/file_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/version_resource.h"
#include "tests/support/env_guard.h"
#include "tests/support/image_builder.h"
#include "tests/support/temp_dir.h"

namespace upd::wizard {
namespace {

using test::Bytes;

TEST(VersionKeyFromBlock, FindsTheEntryAsTextAndPassesItThroughTheCodePage) {
    // clang-format off
    const struct { const char* productVersion; const char* entry; platform::CodePage cp; const char* key; } cases[] = {
        // "ProductVersion\0" ends on a 32-bit boundary (the cut test below reads it);
        // "CompanyName\0" has a padding NUL. Names without case: updtool_cli_test.sh.
        {"1.0.0.3", "CompanyName", 1252, "Sample Co"}, {"1.0.0.3", "Comments", 1252, "0"},
        // Searched as text, not as a key: "Name" first occurs in "CompanyName"; "Version" in
        // the root key, whose padding NUL is skipped and whose "value" is the signature
        // 0xFEEF04BD, two units that 1252 cannot hold.
        {"1.0.0.3", "Name", 1252, "Sample Co"}, {"1.0.0.3", "Version", 1252, "??"},
        {"版本1.0.0.2", "ProductVersion", 936, "版本1002"}, {"版本1.0.0.2", "ProductVersion", 1252, "??1002"},
        {"1.0 \xC3\xA9", "ProductVersion", 1252, "10 \xC3\xA9"},   // é is in 1252
        {"1.0 \xF0\x9F\x98\x80", "ProductVersion", 936, "10 ??"},  // a surrogate pair
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(
            versionKeyFromBlock(test::versionBlock(c.productVersion, "2.5.0.10"), c.entry, c.cp),
            c.key)
            << c.productVersion << " " << c.entry << " " << c.cp;
    }
}

TEST(VersionKeyFromBlock, CutBlockGivesZeroUntilTheValueEndsInItsNul) {
    const Bytes block = test::versionBlock("1.0.0.3");
    Bytes value;
    for (const char c : std::string_view("1.0.0.3", 8)) {
        value.insert(value.end(), {static_cast<std::uint8_t>(c), 0});
    }
    const auto at = std::search(block.begin(), block.end(), value.begin(), value.end());
    ASSERT_NE(at, block.end());
    const auto whole = static_cast<std::size_t>(at - block.begin()) + value.size();
    for (std::size_t length = 0; length <= block.size(); ++length) {
        EXPECT_EQ(versionKeyFromBlock(std::span(block).first(length), "ProductVersion", 1252),
                  length >= whole ? "1003" : "0")
            << "cut at " << length;
    }
}

// Only what the version reader finds is searched, never the raw file.
TEST(GetFileVersionText, ReadsAFileInTheSystemCodePage) {
    const test::TempDir dir;
    const std::string chinese =
        dir.write("cn", test::text(test::elfWith(test::versionBlock("版本1.0.0.2"))));
    {
        const test::LocaleGuard locale("zh_CN.UTF-8");
        EXPECT_EQ(GetFileVersionText(chinese, "ProductVersion"), "版本1002");
    }
    const test::LocaleGuard locale("en_US.UTF-8");
    EXPECT_EQ(GetFileVersionText(chinese, "ProductVersion"), "??1002");
    for (const Bytes& bytes : {test::versionBlock(), test::elfWith(Bytes{'1'})}) {
        EXPECT_EQ(GetFileVersionText(dir.write("f", test::text(bytes)), "ProductVersion"), "0");
    }
}

// The build gives the project's own program its version (cmake/fileversion.cmake).
TEST(GetFileVersionText, OurOwnProgramCarriesTheProjectVersion) {
    const test::LocaleGuard locale("en_US.UTF-8");
    const std::string key = RemoveChar(UPD_PROJECT_VERSION, ".");
    EXPECT_EQ(GetFileVersionText(UPD_UPDTOOL_PATH, "FileVersion"), key);
    EXPECT_EQ(GetFileVersionText(UPD_UPDTOOL_PATH, "OriginalFilename"), "updtool");
    // The fixed part starts with its signature BD 04 EF FE; 16 bytes on comes the product
    // version as two little-endian words, major << 16 | minor and build << 16 | revision.
    const auto block = platform::readVersionBlock(std::string(UPD_UPDTOOL_PATH));
    ASSERT_TRUE(block);
    const Bytes signature = {0xBD, 0x04, 0xEF, 0xFE};
    const auto fixed =
        std::search(block->begin(), block->end(), signature.begin(), signature.end());
    ASSERT_GE(block->end() - fixed, 24);
    const auto u16 = [&fixed](int at) { return fixed[at] | (fixed[at + 1] << 8); };
    std::ostringstream numbers;
    numbers << u16(18) << '.' << u16(16) << '.' << u16(22) << '.' << u16(20);
    EXPECT_EQ(numbers.str(), UPD_PROJECT_VERSION);
}

TEST(OlderVersionRule, KeysCompareAsText) {
    // "0" stands for a file without version information. U+FF11 (fullwidth 1) against U+1F600:
    // as UTF-16 the surrogate 0xD83D sorts first, although the code point is larger.
    // clang-format off
    const struct { const char* local; const char* announced; bool older; } cases[] = {
        {"0", "0.9", true}, {"1.9", "1.10", false}, {"1.10", "1.9", true}, {"", "0", true},
        {"1, 0, 0, 3", "1.0.0.3", true}, {"\xF0\x9F\x98\x80", "\xEF\xBC\x91", true},
        {"\xEF\xBC\x91", "\xF0\x9F\x98\x80", false}, {"", "", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(isOlderVersion(RemoveChar(c.local, "."), RemoveChar(c.announced, ".")), c.older)
            << c.local << " vs " << c.announced;
    }
}

TEST(TextHelpers, RemoveCharGetExtensionAndParentUrl) {
    // clang-format off
    const struct { const char* text; const char* removed; const char* expected; } removals[] = {
        {"1..2", ".", "12"}, {"...", ".", ""}, {"版.本版", "版", ".本"}, {"1.2", "", "1.2"},
        // Removing the first character of ".." from "a...b" leaves "a..b", which again holds
        // "..", and so on until one "." is left.
        {"a...b", "..", "a.b"}, {"xabab", "ab", "xbb"},
    };
    const struct { std::string (*helper)(std::string_view); const char* text; const char* expected; } cases[] = {
        {GetExtension, "readme", "readme"}, {GetExtension, "archive.tar.gz", "gz"}, {GetExtension, "name.", ""},
        {GetExtension, ".profile", "profile"}, {GetExtension, "", ""}, {GetExtension, "说明.文本", "文本"},
        {GetExtension, "dir.v2\\setup", "v2\\setup"},  // folders are not special
        {ParentUrl, "http://host/a/b", "http://host/a"}, {ParentUrl, "http://host/a/b/", "http://host/a"},
        {ParentUrl, "http://h/x", "http://h"},  // "/" at 9
        // A "/" up to the 8th character or as the last one does not count.
        {ParentUrl, "", ""}, {ParentUrl, "/", ""}, {ParentUrl, "http://host", ""}, {ParentUrl, "http://host/", ""},
        {ParentUrl, "ab/cdef/", ""},   // the "/" at 3 is the only one searched
        {ParentUrl, "abcdefg/x", ""},  // "/" at 8
        {ParentUrl, "abcdefgh/x", "abcdefgh"},
        // Positions count characters: six Chinese characters are 18 bytes.
        {ParentUrl, "服务器列表文/x", ""}, {ParentUrl, "http://服/x", "http://服"},
        {ParentUrl, "http://host/目录/文件", "http://host/目录"},
    };
    // clang-format on
    for (const auto& c : removals) {
        EXPECT_EQ(RemoveChar(c.text, c.removed), c.expected) << c.text << " - " << c.removed;
    }
    for (const auto& c : cases) {
        EXPECT_EQ(c.helper(c.text), c.expected)
            << (c.helper == GetExtension ? "GetExtension " : "ParentUrl ") << c.text;
    }
}

}  // namespace
}  // namespace upd::wizard
