#include "controls/list_model.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace upd::controls {
namespace {

// The analysis page's working list: three columns whose keys are their captions.
ListModel versionList() {
    ListModel list;
    EXPECT_EQ(list.addColumn("FileName", "FileName", 2760), ListError::None);
    EXPECT_EQ(list.addColumn("Ver", "Ver", 1650), ListError::None);
    EXPECT_EQ(list.addColumn("Descript", "Descript", 1650), ListError::None);
    return list;
}

TEST(ListColumns, KeepOrderCaptionAndWidth) {
    const ListModel list = versionList();
    ASSERT_EQ(list.columnCount(), 3);
    EXPECT_EQ(list.column(1).key, "FileName");
    EXPECT_EQ(list.column(1).widthTwips, 2760);
    EXPECT_EQ(list.column(3).caption, "Descript");
    EXPECT_EQ(list.findColumn("Ver"), 2);
    EXPECT_EQ(list.findColumn("ver"), 0);
}

TEST(ListColumns, DuplicateKeyIsRefusedAndChangesNothing) {
    ListModel list = versionList();
    EXPECT_EQ(list.addColumn("Ver", "Another caption", 100), ListError::DuplicateColumnKey);
    EXPECT_EQ(list.columnCount(), 3);
    EXPECT_EQ(list.column(2).caption, "Ver");
}

TEST(ListColumns, SameCaptionUnderAnotherKeyIsAccepted) {
    ListModel list;
    EXPECT_EQ(list.addColumn("a", "Name", 100), ListError::None);
    EXPECT_EQ(list.addColumn("b", "Name", 100), ListError::None);
    EXPECT_EQ(list.columnCount(), 2);
}

TEST(ListColumns, NegativeWidthIsRefused) {
    ListModel list;
    EXPECT_EQ(list.addColumn("a", "A", -1), ListError::InvalidWidth);
    EXPECT_EQ(list.columnCount(), 0);
    EXPECT_EQ(list.addColumn("a", "A", 0), ListError::None);
}

TEST(ListColumns, OutOfRangeReadsAsEmptyAndClearColumnsKeepsRows) {
    ListModel list = versionList();
    EXPECT_TRUE(list.column(0).key.empty());
    EXPECT_TRUE(list.column(4).key.empty());
    ASSERT_EQ(list.addRow("Main.exe"), ListError::None);
    list.clearColumns();
    EXPECT_EQ(list.columnCount(), 0);
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.addColumn("Ver", "Ver", 1), ListError::None);
}

TEST(ListRows, AreNumberedFromOneInInsertionOrder) {
    ListModel list = versionList();
    ASSERT_EQ(list.addRow("Main.exe"), ListError::None);
    ASSERT_EQ(list.addRow("plugins\\Report.dll"), ListError::None);
    ASSERT_EQ(list.addRow("readme"), ListError::None);
    ASSERT_EQ(list.rowCount(), 3);
    EXPECT_EQ(list.row(1).text, "Main.exe");
    EXPECT_EQ(list.row(2).text, "plugins\\Report.dll");
    EXPECT_EQ(list.row(3).text, "readme");
    EXPECT_EQ(list.findRow("plugins\\Report.dll"), 2);
    EXPECT_EQ(list.findRow("missing.dll"), 0);
}

TEST(ListRows, OutOfRangeReadsAsEmptyRow) {
    ListModel list;
    ASSERT_EQ(list.addRow("a.dll", 3, 4), ListError::None);
    for (int bad : {0, -1, 2, 1000}) {
        EXPECT_TRUE(list.row(bad).text.empty()) << bad;
        EXPECT_EQ(list.row(bad).icon, kNoImage) << bad;
        EXPECT_TRUE(list.subItem(bad, 1).empty()) << bad;
    }
}

class NumericKey : public testing::TestWithParam<const char*> {};

TEST_P(NumericKey, IsRefusedAndAddsNothing) {
    ListModel list;
    ASSERT_EQ(list.addRow("first.dll"), ListError::None);
    EXPECT_EQ(list.addRow(GetParam()), ListError::NumericKey);
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.findRow(GetParam()), 0);
    ASSERT_EQ(list.addRow("second.dll"), ListError::None);
    EXPECT_EQ(list.findRow("second.dll"), 2);
}

INSTANTIATE_TEST_SUITE_P(ReadsAsNumber, NumericKey,
                         testing::Values("12", "0", "1.5", " 7 ", "\t7", "-3", "+4", ".5", "1.",
                                         "1e3", "1E+3", "2D-1", "&H1F", "&hff", "&O17", "&17",
                                         "007"));

class TextKey : public testing::TestWithParam<const char*> {};

TEST_P(TextKey, IsAccepted) {
    ListModel list;
    EXPECT_EQ(list.addRow(GetParam()), ListError::None);
    EXPECT_EQ(list.findRow(GetParam()), 1);
}

INSTANTIATE_TEST_SUITE_P(DoesNotReadAsNumber, TextKey,
                         testing::Values("Main.exe", "2005.06.01", "1.5.dll", "1.5 dll", "12a",
                                         "e5", "1e", "1e+", ".", "-", "+", "&", "&H", "&HG", "&O8",
                                         "&19", "0x1F", "1 2", "", " ", "主程序.exe"));

TEST(ListRows, DuplicateKeyIsRefusedAndKeepsTheFirstRow) {
    ListModel list;
    ASSERT_EQ(list.addRow("a.dll", 0, 0), ListError::None);
    EXPECT_EQ(list.addRow("a.dll", 1, 1), ListError::DuplicateKey);
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.row(1).icon, 0);
}

TEST(ListRows, KeysCompareExactly) {
    ListModel list;
    ASSERT_EQ(list.addRow("a.dll"), ListError::None);
    EXPECT_EQ(list.addRow("A.dll"), ListError::None);
    EXPECT_EQ(list.addRow("a.dll "), ListError::None);
    EXPECT_EQ(list.findRow("A.dll"), 2);
}

TEST(ListRows, EmptyTextIsAKeyLikeAnyOther) {
    ListModel list;
    ASSERT_EQ(list.addRow(""), ListError::None);
    EXPECT_EQ(list.addRow(""), ListError::DuplicateKey);
    EXPECT_EQ(list.findRow(""), 1);
}

// A second Next after a failure meets the rows already planned.
TEST(ListRows, PlanRowsAddedTwiceFailAtTheFirstRow) {
    ListModel plan;
    ASSERT_EQ(plan.addRow("Main.exe"), ListError::None);
    ASSERT_EQ(plan.addRow("data\\Templates.dat"), ListError::None);
    EXPECT_EQ(plan.addRow("Main.exe"), ListError::DuplicateKey);
    EXPECT_EQ(plan.rowCount(), 2);
}

TEST(ListSubItems, OneAndTwoAreReadableAndWritable) {
    ListModel list = versionList();
    ASSERT_EQ(list.addRow("Main.exe"), ListError::None);
    ASSERT_EQ(list.addRow("b.dll"), ListError::None);
    EXPECT_TRUE(list.subItem(1, 1).empty());
    ASSERT_EQ(list.setSubItem(1, 1, "2.1.0.0"), ListError::None);
    ASSERT_EQ(list.setSubItem(1, 2, "Program"), ListError::None);
    ASSERT_EQ(list.setSubItem(1, 2, "Library"), ListError::None);
    EXPECT_EQ(list.subItem(1, 1), "2.1.0.0");
    EXPECT_EQ(list.subItem(1, 2), "Library");
    EXPECT_EQ(list.row(1).subItems[1], "Library");
    EXPECT_TRUE(list.subItem(2, 1).empty());
}

TEST(ListSubItems, BadIndexOrRowIsAnError) {
    ListModel list;
    ASSERT_EQ(list.addRow("a.dll"), ListError::None);
    EXPECT_EQ(list.setSubItem(1, 0, "x"), ListError::NoSuchSubItem);
    EXPECT_EQ(list.setSubItem(1, 3, "x"), ListError::NoSuchSubItem);
    EXPECT_EQ(list.setSubItem(0, 1, "x"), ListError::NoSuchRow);
    EXPECT_EQ(list.setSubItem(2, 1, "x"), ListError::NoSuchRow);
    EXPECT_TRUE(list.subItem(1, 0).empty());
    EXPECT_TRUE(list.subItem(1, 3).empty());
}

TEST(ListIcons, IndexesAreKeptPerRowAndNegativeMeansNone) {
    ListModel list;
    ASSERT_EQ(list.addRow("Setup.zip", 1, 1), ListError::None);
    ASSERT_EQ(list.addRow("a.dll", 0, 0), ListError::None);
    ASSERT_EQ(list.addRow("b.dll"), ListError::None);
    ASSERT_EQ(list.addRow("c.dll", -7, -2), ListError::None);
    EXPECT_EQ(list.row(1).icon, 1);
    EXPECT_EQ(list.row(1).stateIcon, 1);
    EXPECT_EQ(list.row(2).icon, 0);
    EXPECT_EQ(list.row(3).icon, kNoImage);
    EXPECT_EQ(list.row(3).stateIcon, kNoImage);
    EXPECT_EQ(list.row(4).icon, kNoImage);
    EXPECT_EQ(list.row(4).stateIcon, kNoImage);

    ASSERT_EQ(list.setStateIcon(2, 2), ListError::None);
    ASSERT_EQ(list.setIcon(3, 5), ListError::None);
    EXPECT_EQ(list.row(2).stateIcon, 2);
    EXPECT_EQ(list.row(2).icon, 0);
    EXPECT_EQ(list.row(3).icon, 5);
    EXPECT_EQ(list.setIcon(5, 0), ListError::NoSuchRow);
    EXPECT_EQ(list.setStateIcon(0, 0), ListError::NoSuchRow);
}

TEST(ListRemoval, RenumbersTheRowsAfterAndFreesTheKey) {
    ListModel list;
    for (const char* name : {"a", "b", "c"}) {
        ASSERT_EQ(list.addRow(name), ListError::None);
    }
    ASSERT_EQ(list.setSubItem(3, 1, "third"), ListError::None);
    ASSERT_EQ(list.removeRow(2), ListError::None);
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.row(2).text, "c");
    EXPECT_EQ(list.subItem(2, 1), "third");
    EXPECT_EQ(list.findRow("c"), 2);
    EXPECT_EQ(list.findRow("b"), 0);
    ASSERT_EQ(list.addRow("b"), ListError::None);
    EXPECT_EQ(list.findRow("b"), 3);
}

TEST(ListRemoval, OutOfRangeIsAnErrorAndKeepsTheRows) {
    ListModel list;
    ASSERT_EQ(list.addRow("a"), ListError::None);
    EXPECT_EQ(list.removeRow(0), ListError::NoSuchRow);
    EXPECT_EQ(list.removeRow(2), ListError::NoSuchRow);
    EXPECT_EQ(list.rowCount(), 1);
}

TEST(ListRemoval, ClearRemovesRowsAndKeysButKeepsColumns) {
    ListModel list = versionList();
    ASSERT_EQ(list.addRow("a"), ListError::None);
    ASSERT_EQ(list.addRow("b"), ListError::None);
    list.clear();
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_EQ(list.columnCount(), 3);
    EXPECT_EQ(list.findRow("a"), 0);
    ASSERT_EQ(list.addRow("b"), ListError::None);
    EXPECT_EQ(list.findRow("b"), 1);
}

TEST(ListErrors, EveryErrorHasItsOwnDescription) {
    std::set<std::string> texts;
    for (ListError error : {ListError::None, ListError::NumericKey, ListError::DuplicateKey,
                            ListError::DuplicateColumnKey, ListError::NoSuchRow,
                            ListError::NoSuchSubItem, ListError::InvalidWidth}) {
        const std::string_view text = listErrorText(error);
        EXPECT_FALSE(text.empty());
        texts.emplace(text);
    }
    EXPECT_EQ(texts.size(), 7u);
}

}  // namespace
}  // namespace upd::controls
