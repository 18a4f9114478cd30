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
    EXPECT_EQ(LoadResString(99, 1033), "");
    EXPECT_EQ(LoadResString(157, 2052), "");
}

TEST(StringTable, OnlySimplifiedChineseGetsChinese) {
    EXPECT_EQ(LoadResString(106, 2052), "下一步(&N)");
    EXPECT_EQ(LoadResString(106, 1028), "&Next");
    EXPECT_EQ(LoadResString(106, 1041), "&Next");
    EXPECT_EQ(LoadResString(106, 1033), "&Next");
}

TEST(StringTable, TextsAreVerbatim) {
    // Quotes, leading and trailing blanks and full-width punctuation belong to the texts.
    EXPECT_EQ(LoadResString(104, 1033), "Click \"Next\" and choose the server.");
    EXPECT_EQ(LoadResString(104, 2052), "单击“下一步”选择升级服务器。");
    EXPECT_EQ(LoadResString(143, 1033), " .Please try again after all documents are closed");
    EXPECT_EQ(LoadResString(145, 2052), " 代理服务器 ");
    EXPECT_EQ(LoadResString(110, 2052), "地址：");
    EXPECT_EQ(LoadResString(156, 1033), "&OK");
    EXPECT_EQ(LoadResString(119, 1033),
              "Can't analyze the on-line upgrade document, please return to re-choose the "
              "server.");
    // 100 and 128 read alike but are separate entries.
    EXPECT_EQ(LoadResString(100, 2052), LoadResString(128, 2052));
}

TEST(StringTable, VisitTextNamesTheVendorHost) {
    EXPECT_EQ(LoadResString(122, 1033),
              std::string("Visit to ") + product::kVendorHost + " for latest news.");
    EXPECT_EQ(LoadResString(122, 2052), "在下载更新文件的过程中，访问Norvane网察看最新咨讯");
}

TEST(LocaleFontTable, ExactFacesAndTheDefaultRow) {
    EXPECT_EQ(localeFontFor(2052).faceName, "宋体");
    EXPECT_EQ(localeFontFor(2052).charSet, 134);
    EXPECT_EQ(localeFontFor(1028).faceName, "新細明體");
    EXPECT_EQ(localeFontFor(1041).faceName, "ＭＳ Ｐゴシック");
    EXPECT_EQ(localeFontFor(1041).charSet, 128);
    EXPECT_EQ(localeFontFor(1042).faceName, "굴림");
    EXPECT_EQ(localeFontFor(1042).pointSize, 9);
    const LocaleFont other = localeFontFor(1033);
    EXPECT_EQ(other.charSet, 1);
    EXPECT_EQ(other.faceName, "");
    EXPECT_EQ(other.pointSize, 8);
    // Compared whole: 3076 (Chinese, Hong Kong) is not 1028.
    EXPECT_EQ(localeFontFor(3076).pointSize, 8);
}

}  // namespace
}  // namespace upd::app
