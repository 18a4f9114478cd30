#include "platform/language.h"

#include <gtest/gtest.h>

#include "tests/support/locale_guard.h"

namespace upd::platform {
namespace {

TEST(LanguageIdFromLocaleName, ChineseTerritoriesPickSimplifiedOrTraditional) {
    EXPECT_EQ(languageIdFromLocaleName("zh_CN.UTF-8"), 2052);
    EXPECT_EQ(languageIdFromLocaleName("zh_SG.GBK"), 2052);
    EXPECT_EQ(languageIdFromLocaleName("zh_TW.UTF-8"), 1028);
    EXPECT_EQ(languageIdFromLocaleName("zh_HK.UTF-8"), 1028);
    EXPECT_EQ(languageIdFromLocaleName("zh_MO"), 1028);
}

TEST(LanguageIdFromLocaleName, OtherLanguagesGetTheirWindowsIds) {
    EXPECT_EQ(languageIdFromLocaleName("ja_JP.UTF-8"), 1041);
    EXPECT_EQ(languageIdFromLocaleName("ko_KR.EUC-KR"), 1042);
    EXPECT_EQ(languageIdFromLocaleName("en_US.UTF-8"), 1033);
    EXPECT_EQ(languageIdFromLocaleName("en_GB.UTF-8"), 2057);
    EXPECT_EQ(languageIdFromLocaleName("de_AT@euro"), 3079);
    // A territory the table lacks falls back to the language's primary locale.
    EXPECT_EQ(languageIdFromLocaleName("de_LU.UTF-8"), 1031);
}

TEST(LanguageIdFromLocaleName, NeutralAndUnknownNamesAreEnglish) {
    EXPECT_EQ(languageIdFromLocaleName(""), 1033);
    EXPECT_EQ(languageIdFromLocaleName("C"), 1033);
    EXPECT_EQ(languageIdFromLocaleName("C.UTF-8"), 1033);
    EXPECT_EQ(languageIdFromLocaleName("POSIX"), 1033);
    EXPECT_EQ(languageIdFromLocaleName("xx_YY"), 1033);
}

TEST(LocaleVariables, SystemLanguageFollowsLcAllThenLcCtypeThenLang) {
    test::LocaleGuard guard("en_US.UTF-8");
    EXPECT_EQ(systemLanguageId(), 1033);
    setenv("LC_CTYPE", "zh_CN.UTF-8", 1);
    EXPECT_EQ(systemLanguageId(), 2052);
    setenv("LC_ALL", "zh_TW.UTF-8", 1);
    EXPECT_EQ(systemLanguageId(), 1028);
    // An empty variable counts as unset.
    setenv("LC_ALL", "", 1);
    EXPECT_EQ(systemLanguageId(), 2052);
}

TEST(LocaleVariables, UserLocaleFollowsLcMessagesNotLcCtype) {
    test::LocaleGuard guard("en_US.UTF-8");
    setenv("LC_CTYPE", "zh_CN.UTF-8", 1);
    EXPECT_EQ(userLocaleId(), 1033);
    setenv("LC_MESSAGES", "zh_CN.UTF-8", 1);
    EXPECT_EQ(userLocaleId(), 2052);
}

}  // namespace
}  // namespace upd::platform
