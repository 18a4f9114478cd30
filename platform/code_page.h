// The system ANSI code page and conversions between it and the program's UTF-8 text.
#pragma once

#include <string>
#include <string_view>

#include "platform/language.h"

namespace upd::platform {

// CodePage is declared in language.h, beside the language profiles that carry one.

// 2052 -> 936, 1028 -> 950, 1041 -> 932, 1042 -> 949, everything else -> 1252.
CodePage codePageForLanguage(LangId language);

// The code page of the system language (see systemLanguageId()).
CodePage systemCodePage();

// True for the double-byte code pages, where a byte above 127 leads a two-byte character.
bool isDoubleByteCodePage(CodePage cp);

// UTF-8 text to the code page's bytes. A character the code page cannot hold becomes '?',
// as does a byte that is not valid UTF-8.
std::string toAnsi(std::string_view utf8, CodePage cp);

// The code page's bytes to UTF-8. In a double-byte code page a byte above 127 and the byte
// after it are one character; a pair that is not a character becomes '?'. A lead byte as
// the very last byte becomes '?'. NUL bytes stay NUL characters.
std::string fromAnsi(std::string_view bytes, CodePage cp);

// One UTF-16 code unit as the code page would hold it, back as UTF-8: the character itself
// when the code page can hold it, else '?'. Lone surrogates give '?'.
std::string codeUnitThroughCodePage(char16_t unit, CodePage cp);

// Number of bytes that the UTF-8 character starting at text[pos] occupies in the code page
// (1 or 2), and the length of that UTF-8 character in `utf8Length`.
int ansiLengthOfCharacter(std::string_view text, std::size_t pos, CodePage cp,
                          std::size_t& utf8Length);

}  // namespace upd::platform
