// Alt shortcuts (mnemonics) for the texts of the string table. The table keeps the product's
// texts as they are; the controls that need a key get it here, in code.
//
// The two conventions:
//   - English marks the key's letter in the text, at the start of a word where one begins
//     with it: "Next >", 'N' -> "&Next >"; "Use remote DNS", 'D' -> "Use remote &DNS";
//     "Password:", 'W' -> "Pass&word:".
//   - Chinese (and English without the letter) adds the key in brackets, before a closing
//     colon or ellipsis: "下一步", 'N' -> "下一步(&N)"; "端口：", 'P' -> "端口(&P)：".
// A text that has a mnemonic already ("&Cancel", "取消(&C)") keeps it. "&&" is a literal
// ampersand, not a mnemonic.
//
// Toolkit-free: UTF-8 in, UTF-8 out.
#pragma once

#include <string>
#include <string_view>

#include "platform/language.h"

namespace upd::app {

// Whether `text` has a mnemonic (an '&' before a character other than '&').
bool hasMnemonic(std::string_view text);

// The key of `text`'s mnemonic, an upper-case ASCII letter or digit; 0 when it has none (or
// one that is not ASCII). "&Next" -> 'N'; "取消(&C)" -> 'C'.
char mnemonicKey(std::string_view text);

// A key for a control that its page gives none, avoiding the upper-case keys in `used`: the
// first letter of a word of `text`, else any letter or digit of it, else the first free
// letter of the alphabet (a Chinese text has none of its own); 0 when all are taken.
// "Choose the server" with "BNC" used -> 'T' ("Choose" starts with a used key).
char chooseMnemonicKey(std::string_view text, std::string_view used);

// `text` with `key` (an ASCII letter or digit) as its mnemonic, by the convention of
// `language` (languageProfile(language).chinese); unchanged when it has one.
std::string withMnemonic(std::string_view text, char key, platform::LangId language);

// The text as a screen reader says it, for a control that a label or frame names: without
// the mnemonic ("(&P)" or the '&'), the closing colon and the spaces around it.
// "Pass&word:" -> "Password"; "端口(&P)：" -> "端口"; " Proxy Server " -> "Proxy Server".
std::string spokenText(std::string_view text);

}  // namespace upd::app
