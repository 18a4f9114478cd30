// Language and locale ids as Windows numbers them, taken from the POSIX locale.
#pragma once

#include <cstdint>
#include <string_view>

namespace upd::platform {

// A Windows language id (LANGID): 2052 Simplified Chinese, 1028 Traditional Chinese,
// 1033 English (US), ... Stored as a signed 16-bit value where the program keeps it.
using LangId = std::int16_t;

inline constexpr LangId kLangEnglishUS = 1033;
inline constexpr LangId kLangChineseSimplified = 2052;
inline constexpr LangId kLangChineseTraditional = 1028;
inline constexpr LangId kLangJapanese = 1041;
inline constexpr LangId kLangKorean = 1042;

// Maps a POSIX locale name ("zh_CN.UTF-8", "de_AT@euro", "C") to its Windows id.
// "C", "POSIX", empty and unknown names give 1033.
LangId languageIdFromLocaleName(std::string_view name);

// The system default language: LC_ALL, then LC_CTYPE, then LANG (first one set and non-empty).
LangId systemLanguageId();

// The user's default locale id: LC_ALL, then LC_MESSAGES, then LANG.
LangId userLocaleId();

}  // namespace upd::platform
