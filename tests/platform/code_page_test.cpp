#include "platform/code_page.h"

#include <gtest/gtest.h>

#include "tests/support/locale_guard.h"

namespace upd::platform {
namespace {

TEST(CodePageChoice, FollowsTheSystemLanguage) {
    EXPECT_EQ(codePageForLanguage(2052), 936);
    EXPECT_EQ(codePageForLanguage(1028), 950);
    EXPECT_EQ(codePageForLanguage(1041), 932);
    EXPECT_EQ(codePageForLanguage(1042), 949);
    EXPECT_EQ(codePageForLanguage(1033), 1252);
    EXPECT_EQ(codePageForLanguage(1031), 1252);
    test::LocaleGuard guard("zh_CN.UTF-8");
    EXPECT_EQ(systemCodePage(), 936);
}

TEST(AnsiConversion, ChineseRoundTripsThroughGbk) {
    const std::string text = "在线升级程序 v1.0";
    const std::string gbk = toAnsi(text, 936);
    EXPECT_EQ(gbk, "\xD4\xDA\xCF\xDF\xC9\xFD\xBC\xB6\xB3\xCC\xD0\xF2 v1.0");
    EXPECT_EQ(fromAnsi(gbk, 936), text);
}

TEST(AnsiConversion, UnrepresentableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(toAnsi("a中b", 1252), "a?b");
    EXPECT_EQ(toAnsi("Caf\xC3\xA9", 1252), "Caf\xE9");
    EXPECT_EQ(toAnsi("x\xFFy", 1252), "x?y");  // not UTF-8
    EXPECT_EQ(toAnsi("한", 936), "?");
}

TEST(AnsiConversion, DoubleByteRuleAndBrokenPairs) {
    // A lead byte as the last byte, and a pair that is no character.
    EXPECT_EQ(fromAnsi("ab\xD4", 936), "ab?");
    EXPECT_EQ(fromAnsi("\xFF\xFFz", 936), "?z");
    // NUL bytes stay characters of code 0.
    EXPECT_EQ(fromAnsi(std::string("a\0b", 3), 936), std::string("a\0b", 3));
}

TEST(AnsiConversion, Cp1252KeepsEveryByte) {
    EXPECT_EQ(fromAnsi("\x80", 1252), "\xE2\x82\xAC");  // euro sign
    // 0x81 has no character in 1252; Windows gives U+0081.
    EXPECT_EQ(fromAnsi("\x81", 1252), "\xC2\x81");
    EXPECT_EQ(fromAnsi("\xE9", 1252), "\xC3\xA9");
}

TEST(AnsiConversion, CodeUnitsThroughTheCodePage) {
    EXPECT_EQ(codeUnitThroughCodePage(u'A', 1252), "A");
    EXPECT_EQ(codeUnitThroughCodePage(u'\0', 1252), std::string(1, '\0'));
    EXPECT_EQ(codeUnitThroughCodePage(u'中', 936), "中");
    EXPECT_EQ(codeUnitThroughCodePage(u'中', 1252), "?");
    EXPECT_EQ(codeUnitThroughCodePage(char16_t{0xD800}, 936), "?");
}

TEST(AnsiConversion, CharacterLengths) {
    std::size_t utf8Length = 0;
    EXPECT_EQ(ansiLengthOfCharacter("中a", 0, 936, utf8Length), 2);
    EXPECT_EQ(utf8Length, 3u);
    EXPECT_EQ(ansiLengthOfCharacter("中a", 3, 936, utf8Length), 1);
    EXPECT_EQ(ansiLengthOfCharacter("\xC3\xA9", 0, 1252, utf8Length), 1);
    EXPECT_EQ(utf8Length, 2u);
}

}  // namespace
}  // namespace upd::platform
