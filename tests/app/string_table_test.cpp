#include "app/string_table.h"

#include <gtest/gtest.h>

#include "product_config.h"

namespace upd::app {
namespace {

// Every id has an English text and a different Chinese one, which only 2052 gets.
TEST(StringTable, EveryIdHasBothLanguages) {
    for (int id = kFirstStringId; id <= kLastStringId; ++id) {
        const std::string english = LoadResString(id, 1033);
        EXPECT_FALSE(english.empty()) << id;
        EXPECT_FALSE(LoadResString(id, 2052).empty()) << id;
        EXPECT_NE(LoadResString(id, 2052), english) << id;
        for (const platform::LangId other : {1028, 1041, 3076}) {
            EXPECT_EQ(LoadResString(id, other), english) << id << " in " << other;
        }
    }
    EXPECT_EQ(LoadResString(kFirstStringId - 1, 1033), "");
    EXPECT_EQ(LoadResString(kLastStringId + 1, 2052), "");
    // The one text built at run time.
    EXPECT_NE(LoadResString(122, 1033).find(product::kVendorHost), std::string::npos);
}

}  // namespace
}  // namespace upd::app
