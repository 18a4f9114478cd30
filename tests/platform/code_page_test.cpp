#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace upd::platform {
namespace {

enum class Way { Both, ToAnsi, FromAnsi };

struct Conversion {
    CodePage cp;
    std::string utf8;
    std::string ansi;
    Way way = Way::Both;
};

TEST(AnsiConversion, ConvertsLikeWindows) {
    const Conversion cases[] = {
        {1252, "\xE2\x82\xAC", "\x80"},  // euro sign
        {936, std::string("a\0b", 3), std::string("a\0b", 3)},
        // What the code page cannot hold becomes '?', as does a byte that is not UTF-8.
        {1252, "a中b", "a?b", Way::ToAnsi},
        {1252, "x\xFFy", "x?y", Way::ToAnsi},
        // A lead byte as the last byte, and a pair that is no character.
        {936, "ab?", "ab\xD4", Way::FromAnsi},
        {936, "?z", "\xFF\xFFz", Way::FromAnsi},
        // 0x81 has no character in 1252; Windows gives U+0081.
        {1252, "\xC2\x81", "\x81", Way::FromAnsi},
    };
    for (const Conversion& c : cases) {
        if (c.way != Way::FromAnsi) {
            EXPECT_EQ(toAnsi(c.utf8, c.cp), c.ansi) << c.utf8;
        }
        if (c.way != Way::ToAnsi) {
            EXPECT_EQ(fromAnsi(c.ansi, c.cp), c.utf8) << c.utf8;
        }
    }
}

}  // namespace
}  // namespace upd::platform
