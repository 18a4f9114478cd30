#include "platform/language.h"

#include <array>
#include <cstdlib>
#include <string>

#include "platform/code_page.h"

namespace upd::platform {
namespace {

struct LocaleRow {
    std::string_view name;  // "ll" or "ll_TT"
    LangId id;
};

// Windows ids of the common locales. A name with a territory is looked up whole first,
// then by its language alone, which gives the language's primary locale.
constexpr std::array kLocales = {
    LocaleRow{"zh_CN", 2052}, LocaleRow{"zh_SG", 2052},  LocaleRow{"zh_TW", 1028},
    LocaleRow{"zh_HK", 1028}, LocaleRow{"zh_MO", 1028},  LocaleRow{"zh", 2052},
    LocaleRow{"en_US", 1033}, LocaleRow{"en_GB", 2057},  LocaleRow{"en_AU", 3081},
    LocaleRow{"en_CA", 4105}, LocaleRow{"en_NZ", 5129},  LocaleRow{"en_IE", 6153},
    LocaleRow{"en_ZA", 7177}, LocaleRow{"en_IN", 16393}, LocaleRow{"en", 1033},
    LocaleRow{"de_DE", 1031}, LocaleRow{"de_CH", 2055},  LocaleRow{"de_AT", 3079},
    LocaleRow{"de", 1031},    LocaleRow{"fr_FR", 1036},  LocaleRow{"fr_BE", 2060},
    LocaleRow{"fr_CA", 3084}, LocaleRow{"fr_CH", 4108},  LocaleRow{"fr", 1036},
    LocaleRow{"es_MX", 2058}, LocaleRow{"es", 3082},     LocaleRow{"it_CH", 2064},
    LocaleRow{"it", 1040},    LocaleRow{"nl_BE", 2067},  LocaleRow{"nl", 1043},
    LocaleRow{"pt_PT", 2070}, LocaleRow{"pt", 1046},     LocaleRow{"sv_FI", 2077},
    LocaleRow{"sv", 1053},    LocaleRow{"ja", 1041},     LocaleRow{"ko", 1042},
    LocaleRow{"ar", 1025},    LocaleRow{"bg", 1026},     LocaleRow{"ca", 1027},
    LocaleRow{"cs", 1029},    LocaleRow{"da", 1030},     LocaleRow{"el", 1032},
    LocaleRow{"fi", 1035},    LocaleRow{"he", 1037},     LocaleRow{"hu", 1038},
    LocaleRow{"is", 1039},    LocaleRow{"nb", 1044},     LocaleRow{"no", 1044},
    LocaleRow{"nn", 2068},    LocaleRow{"pl", 1045},     LocaleRow{"ro", 1048},
    LocaleRow{"ru", 1049},    LocaleRow{"hr", 1050},     LocaleRow{"sk", 1051},
    LocaleRow{"sq", 1052},    LocaleRow{"th", 1054},     LocaleRow{"tr", 1055},
    LocaleRow{"ur", 1056},    LocaleRow{"id", 1057},     LocaleRow{"uk", 1058},
    LocaleRow{"be", 1059},    LocaleRow{"sl", 1060},     LocaleRow{"et", 1061},
    LocaleRow{"lv", 1062},    LocaleRow{"lt", 1063},     LocaleRow{"fa", 1065},
    LocaleRow{"vi", 1066},    LocaleRow{"hy", 1067},     LocaleRow{"eu", 1069},
    LocaleRow{"mk", 1071},    LocaleRow{"af", 1078},     LocaleRow{"ka", 1079},
    LocaleRow{"hi", 1081},    LocaleRow{"ms", 1086},     LocaleRow{"kk", 1087},
    LocaleRow{"sw", 1089},    LocaleRow{"bn", 1093},     LocaleRow{"ta", 1097},
    LocaleRow{"te", 1098},    LocaleRow{"sr", 3098},
};

LangId lookup(std::string_view key) {
    for (const auto& row : kLocales) {
        if (row.name == key) {
            return row.id;
        }
    }
    return 0;
}

// The first of the variables that is set and not empty, as POSIX resolves a category.
std::string_view firstSet(const char* category) {
    for (const char* var : {"LC_ALL", category, "LANG"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

}  // namespace

LangId languageIdFromLocaleName(std::string_view name) {
    // "zh_CN.UTF-8@modifier": the codeset and modifier do not change the language.
    const auto cut = name.find_first_of(".@");
    if (cut != std::string_view::npos) {
        name = name.substr(0, cut);
    }
    if (name.empty() || name == "C" || name == "POSIX") {
        return kLangEnglishUS;
    }
    if (const LangId whole = lookup(name); whole != 0) {
        return whole;
    }
    const auto underscore = name.find('_');
    if (underscore != std::string_view::npos) {
        if (const LangId language = lookup(name.substr(0, underscore)); language != 0) {
            return language;
        }
    }
    return kLangEnglishUS;
}

LanguageProfile languageProfile(LangId id) {
    const bool chinese = id == kLangChineseSimplified;
    return {id, chinese, chinese ? "CHS" : "EN", codePageForLanguage(id),
            chinese ? "/ad.asp" : "/adeng.asp"};
}

std::optional<LanguageProfile> languageProfileForTag(std::string_view tag) {
    for (const LangId id : {kLangChineseSimplified, kLangEnglishUS}) {
        if (const LanguageProfile profile = languageProfile(id); profile.tag == tag) {
            return profile;
        }
    }
    return std::nullopt;
}

LangId systemLanguageId() {
    return languageIdFromLocaleName(firstSet("LC_CTYPE"));
}

LangId userLocaleId() {
    return languageIdFromLocaleName(firstSet("LC_MESSAGES"));
}

}  // namespace upd::platform
