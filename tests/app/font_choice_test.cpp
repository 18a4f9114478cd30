#include "app/font_choice.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace upd::app {
namespace {

const auto kEverything = [](std::string_view) { return true; };
const auto kNothing = [](std::string_view) { return false; };

TEST(LocaleFaceFor, TakesTheTablesFaceWhereItIsInstalled) {
    EXPECT_EQ(localeFaceFor(2052, kEverything), "宋体");
    EXPECT_EQ(localeFaceFor(1028, kEverything), "新細明體");
    EXPECT_EQ(localeFaceFor(1041, kEverything), "ＭＳ Ｐゴシック");
    EXPECT_EQ(localeFaceFor(1042, kEverything), "굴림");
}

TEST(LocaleFaceFor, KeepsTheDesignFontsWhereTheFaceIsMissing) {
    EXPECT_EQ(localeFaceFor(2052, kNothing), std::nullopt);
    EXPECT_EQ(localeFaceFor(2052, nullptr), std::nullopt);
}

TEST(LocaleFaceFor, OtherLocalesHaveNoFace) {
    for (const platform::LangId locale : {1033, 2057, 1031, 0, 4100}) {
        EXPECT_EQ(localeFaceFor(locale, kEverything), std::nullopt) << locale;
    }
}

TEST(LocaleFaceFor, AsksForTheFaceOfTheLocaleOnly) {
    std::set<std::string> asked;
    const auto record = [&asked](std::string_view face) {
        asked.insert(std::string(face));
        return face == "新細明體";
    };
    EXPECT_EQ(localeFaceFor(2052, record), std::nullopt);
    EXPECT_EQ(localeFaceFor(1028, record), "新細明體");
    EXPECT_EQ(asked, (std::set<std::string>{"宋体", "新細明體"}));
}

}  // namespace
}  // namespace upd::app
