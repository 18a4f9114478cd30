// Text from a server made safe to print on a terminal or in a log: a name in update.ini may
// hold an escape sequence that would rewrite the user's screen or forge a line of output.
#pragma once

#include <string>
#include <string_view>

namespace upd::platform {

// True for the bytes a name may never hold: below 0x20 (tab and line breaks included) and DEL.
constexpr bool isControlByte(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// `text` with every control byte written as "\xNN" (lower-case hex); every other byte, UTF-8
// included, as it is. "a\x1b[2Jb" prints as the seven visible characters a\x1b[2Jb.
std::string printableText(std::string_view text);

}  // namespace upd::platform
