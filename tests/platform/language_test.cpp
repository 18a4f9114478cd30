#include "platform/language.h"

#include <gtest/gtest.h>

#include "tests/support/env_guard.h"

namespace upd::platform {
namespace {

struct LocaleCase {
    const char* lcAll;  // nullptr: unset
    const char* lcCtype;
    const char* lcMessages;
    const char* lang;
    LangId system;
    LangId user;
};

// The system language follows LC_ALL, then LC_CTYPE, then LANG; the user locale LC_ALL,
// then LC_MESSAGES, then LANG. An empty variable counts as unset.
TEST(LocaleVariables, LanguagesFollowThePosixPriority) {
    const LocaleCase cases[] = {
        {nullptr, nullptr, "zh_CN.UTF-8", "en_US.UTF-8", 1033, 2052},
        {"zh_TW.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", "en_US.UTF-8", 1028, 1028},
        {"", "zh_CN.UTF-8", "", "zh_HK.UTF-8", 2052, 1028},
        // The codeset and modifier do not count; a territory the table lacks falls back to
        // the language's primary locale; neutral and unknown names are English.
        {nullptr, nullptr, nullptr, "zh_SG.GBK", 2052, 2052},
        {nullptr, nullptr, nullptr, "de_AT@euro", 3079, 3079},
        {nullptr, nullptr, nullptr, "de_LU.UTF-8", 1031, 1031},
        {nullptr, nullptr, nullptr, "xx_YY", 1033, 1033},
        {nullptr, nullptr, nullptr, nullptr, 1033, 1033},
    };
    for (const LocaleCase& c : cases) {
        test::EnvGuard env;
        env.set("LC_ALL", c.lcAll).set("LC_CTYPE", c.lcCtype).set("LC_MESSAGES", c.lcMessages);
        env.set("LANG", c.lang);
        EXPECT_EQ(systemLanguageId(), c.system) << "row " << &c - cases;
        EXPECT_EQ(userLocaleId(), c.user) << "row " << &c - cases;
    }
}

}  // namespace
}  // namespace upd::platform
