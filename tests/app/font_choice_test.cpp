#include "app/font_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace upd::app {
namespace {

TEST(LocaleFaceFor, TheLocalesOwnFaceWhereItIsInstalled) {
    const auto all = [](std::string_view) { return true; };
    const auto simSunOnly = [](std::string_view face) { return face == "宋体"; };
    struct FaceCase {
        platform::LangId locale;
        std::function<bool(std::string_view)> installed;
        std::optional<std::string> face;
    };
    const FaceCase cases[] = {
        {2052, simSunOnly, "宋体"},       {1028, all, "新細明體"},
        {1028, simSunOnly, std::nullopt},  // missing: the design fonts stay
        {2052, nullptr, std::nullopt},     // nothing to ask
        {1033, all, std::nullopt},         // the table's last row has no face
        {3076, all, std::nullopt},         // ids compare whole: Hong Kong is not 1028
    };
    for (const FaceCase& c : cases) {
        EXPECT_EQ(localeFaceFor(c.locale, c.installed), c.face) << c.locale;
    }
}

}  // namespace
}  // namespace upd::app
