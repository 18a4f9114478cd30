// Language and locale ids as Windows numbers them, taken from the POSIX locale, and the one
// place that says what the product derives from an id (languageProfile).
#pragma once

#include <cstdint>
#include <optional>
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

// Windows code page numbers: 936 (GBK), 950 (Big5), 932 (Shift-JIS), 949 (Korean), 1252.
// The conversions are in code_page.h.
using CodePage = int;

// Everything the product derives from a language id. The wizard has two sets of texts and two
// kinds of language-dependent records: 2052 gets the Chinese ones, every other id (1028
// included) the English ones.
struct LanguageProfile {
    LangId id;
    bool chinese;                        // the Chinese texts and button captions
    std::string_view tag;                // "CHS" or "EN": update.svr records, update.ini keys
    CodePage codePage;                   // codePageForLanguage(id): 950 for 1028, not 1252
    std::string_view advertisementPage;  // "/ad.asp" or "/adeng.asp" on the vendor's host
};

LanguageProfile languageProfile(LangId id);

// The language a tag stands for: "CHS" gives 2052's profile, "EN" 1033's, so a record is read
// in the code page of the systems it is written for (936 or 1252). Compared exactly: "chs",
// "EN " or a tag with NULs after it stands for none.
std::optional<LanguageProfile> languageProfileForTag(std::string_view tag);

// Maps a POSIX locale name ("zh_CN.UTF-8", "de_AT@euro", "C") to its Windows id.
// "C", "POSIX", empty and unknown names give 1033.
LangId languageIdFromLocaleName(std::string_view name);

// The system default language: LC_ALL, then LC_CTYPE, then LANG (first one set and non-empty).
LangId systemLanguageId();

// The user's default locale id: LC_ALL, then LC_MESSAGES, then LANG.
LangId userLocaleId();

}  // namespace upd::platform
