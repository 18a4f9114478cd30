#include "net/base64.h"

#include <gtest/gtest.h>

namespace upd::net {
namespace {

using namespace std::string_literals;

TEST(Base64Encode, PadsTheLastGroupAndUsesTheCodePageBytes) {
    EXPECT_EQ(ToBase64("", 1252), "");
    // "用户" is D3 C3 BB A7 in GBK; é is one byte, 0xE9, in 1252.
    EXPECT_EQ(ToBase64("用户", 936), base64EncodeBytes("\xD3\xC3\xBB\xA7"));
    EXPECT_EQ(ToBase64("\xC3\xA9", 1252), "6Q==");
}

TEST(Base64Encode, AllByteValuesAndShifts) {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    const std::string encoded = base64EncodeBytes(all);
    const Bytes decoded = base64DecodeBytes(encoded);
    ASSERT_EQ(decoded.size(), encoded.size() / 4 * 3 + 1);
    EXPECT_EQ(std::string(decoded.begin(), decoded.begin() + 256), all);
    EXPECT_EQ(ShiftLeft(0xFF, 4), 0xF0);
    EXPECT_EQ(ShiftLeft(1, -1), 0);
    EXPECT_EQ(ShiftRight(0xFF, 6), 3);
    EXPECT_EQ(ShiftRight(0xFF, -2), 0);
    EXPECT_EQ(TripletToQuartet(Bytes{0xFF, 0xEF, 0x00}, 0), "/+8A");
}

TEST(Base64Decode, KeepsTheTrailingCodeZeroCharactersAndStrayOnes) {
    EXPECT_EQ(Base64DecodeText("YWJj", 1252), "abc\0"s);
    EXPECT_EQ(Base64DecodeText("YWI=", 1252), "ab\0\0"s);
    EXPECT_EQ(Base64DecodeText("YQ==", 1252), "a\0\0\0"s);
    EXPECT_EQ(Base64DecodeText("", 1252), "\0"s);
    // One stray character after the last group is ignored; two or three are decoded with
    // the rest taken as 0.
    EXPECT_EQ(Base64DecodeText("YWJjZ", 1252), "abc\0"s);
    EXPECT_EQ(Base64DecodeText("YWJjZA", 1252), "abcd\0\0\0"s);
    EXPECT_EQ(Base64DecodeText("YWJjZGU", 1252), "abcde\0\0"s);
}

TEST(Base64Decode, LongInputsHaveNoSixteenBitLimit) {
    const std::string text(100000, 'x');
    const std::string decoded = Base64DecodeText(ToBase64(text, 1252), 1252);
    ASSERT_EQ(decoded.size(), 100000u + 3u);  // 100000 % 3 == 1: "==" plus the extra byte
    EXPECT_EQ(decoded.substr(0, 100000), text);
}

TEST(Base64Decode, DoubleByteCharactersBecomeOneCharacter) {
    const std::string line = base64EncodeBytes("\xB7\xFE\xCE\xF1\xC6\xF7,EN,");  // 服务器
    EXPECT_EQ(Base64DecodeText(line, 936), "服务器,EN,\0\0\0"s);
    // A lead byte as the very last byte ends the text quietly.
    EXPECT_EQ(AnsiBytesToText(Bytes{'a', 0xB7}, 936), "a");
    EXPECT_EQ(AnsiBytesToText(Bytes{'a', 0xB7}, 1252), "a\xC2\xB7");
}

}  // namespace
}  // namespace upd::net
