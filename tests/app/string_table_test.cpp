#include "app/string_table.h"

#include <gtest/gtest.h>

#include "product_config.h"

namespace upd::app {
namespace {

TEST(StringTable, EveryIdHasBothLanguages) {
    for (int id = kFirstStringId; id <= kLastStringId; ++id) {
        EXPECT_FALSE(LoadResString(id, 1033).empty()) << id;
        EXPECT_FALSE(LoadResString(id, 2052).empty()) << id;
        EXPECT_NE(LoadResString(id, 1033), LoadResString(id, 2052)) << id;
    }
    EXPECT_EQ(LoadResString(kFirstStringId - 1, 1033), "");
    EXPECT_EQ(LoadResString(kLastStringId + 1, 2052), "");
}

TEST(StringTable, OnlySimplifiedChineseGetsChinese) {
    for (const platform::LangId language : {1028, 1041, 3076}) {
        EXPECT_EQ(LoadResString(106, language), LoadResString(106, 1033)) << language;
    }
}

// The one text built at run time.
TEST(StringTable, VisitTextNamesTheVendorHost) {
    EXPECT_EQ(LoadResString(122, 1033),
              std::string("Visit to ") + product::kVendorHost + " for latest news.");
}

}  // namespace
}  // namespace upd::app
