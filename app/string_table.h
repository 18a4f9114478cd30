// The texts the wizard shows, by id (kFirstStringId to kLastStringId), in English and
// Simplified Chinese, and the font that each user locale is given.
#pragma once

#include <string>
#include <string_view>

#include "platform/language.h"

namespace upd::app {

inline constexpr int kFirstStringId = 100;
inline constexpr int kLastStringId = 220;

// The text of `id` in the language of `language`: Simplified Chinese where the language's
// profile is Chinese (2052), English for every other id (1028 included). An id outside
// kFirstStringId to kLastStringId gives an empty text.
std::string LoadResString(int id, platform::LangId language);

struct LocaleFont {
    int charSet;                // Windows character set: 136 Big5, 128 Shift-JIS, ...
    std::string_view faceName;  // UTF-8; empty keeps the control's own face
    int pointSize;
};

// The row of the locale font table for a user locale id; the last row for any id that is
// not in the table.
LocaleFont localeFontFor(platform::LangId locale);

}  // namespace upd::app
