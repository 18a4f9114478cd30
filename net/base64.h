// Base64 with the standard alphabet, over the ANSI bytes of a text: the encoder makes the
// credentials of "Authorization: Basic", the decoder reads the lines of update.svr.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"

namespace upd::net {

using Bytes = std::vector<std::uint8_t>;

// (bShift * 2^lPlaces) mod 256; 0 for a negative lPlaces.
std::uint8_t ShiftLeft(std::uint8_t bShift, int lPlaces);

// bShift / 2^lPlaces rounded down; 0 for a negative lPlaces.
std::uint8_t ShiftRight(std::uint8_t bShift, int lPlaces);

// The four characters for the bytes at lStart, lStart + 1, lStart + 2 of bIn (all three
// must exist).
std::string TripletToQuartet(const Bytes& bIn, std::size_t lStart);

// Base64 of raw bytes, "=" padded, no line breaks.
std::string base64EncodeBytes(std::string_view bytes);

// Base64 of the text's bytes in code page `cp` (the system code page by default).
std::string ToBase64(std::string_view sNormString, platform::CodePage cp);
std::string ToBase64(std::string_view sNormString);

struct Quartet {
    std::array<std::uint8_t, 3> bytes{};
    int padding = 0;  // characters outside the alphabet ("=" included), each read as 0
};

// Four input characters to three output bytes.
Quartet DecodeQuartet(std::uint8_t c0, std::uint8_t c1, std::uint8_t c2, std::uint8_t c3);

// The decoder's byte output: 3 bytes per group of four input bytes plus one zero byte.
// A last group of two or three characters is decoded with the missing ones taken as 0;
// a single stray character is ignored.
Bytes base64DecodeBytes(std::string_view input);

// Bytes of code page `cp` to text: in a double-byte code page a byte above 127 and the one
// after it are one character. Zero bytes become characters of code 0. A lead byte as the
// very last byte ends the text quietly.
std::string AnsiBytesToText(const Bytes& bytes, platform::CodePage cp);

// Decodes a line of text: its bytes in `cp` are decoded and turned back into text. The
// result keeps the characters of code 0 that the padding and the extra byte give:
// "YWJj" -> "abc\0", "YQ==" -> "a\0\0\0".
std::string Base64DecodeText(std::string_view text, platform::CodePage cp);
std::string Base64DecodeText(std::string_view text);

}  // namespace upd::net
