#include "app/font_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace upd::app {
namespace {

TEST(LocaleFaceFor, TheLocalesOwnFaceWhereItIsInstalled) {
    const auto all = [](std::string_view) { return true; };
    const auto none = [](std::string_view) { return false; };
    const std::function<bool(std::string_view)> unknown;
    struct Case {
        platform::LangId locale;
        std::function<bool(std::string_view)> installed;
        std::optional<std::string> face;
    };
    const Case cases[] = {
        {2052, all, "宋体"},           {1028, all, "新細明體"},
        {2052, none, std::nullopt},     // missing: the design fonts stay
        {2052, unknown, std::nullopt},  // nothing to ask
        {1033, all, std::nullopt},      // the table's last row has no face
        {3076, all, std::nullopt},      // ids compare whole: Hong Kong is not 1028
    };
    for (const Case& c : cases) {
        EXPECT_EQ(localeFaceFor(c.locale, c.installed), c.face) << c.locale;
    }

    // Only the locale's own face is asked for.
    std::vector<std::string> asked;
    const auto record = [&asked](std::string_view face) {
        asked.emplace_back(face);
        return true;
    };
    static_cast<void>(localeFaceFor(1041, record));
    EXPECT_EQ(asked, std::vector<std::string>{"ＭＳ Ｐゴシック"});
}

}  // namespace
}  // namespace upd::app
