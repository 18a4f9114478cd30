#include "controls/list_model.h"

#include <gtest/gtest.h>

namespace upd::controls {
namespace {

// The analysis page's working list: three columns whose keys are their captions.
ListModel versionList() {
    ListModel list;
    for (const char* key : {"FileName", "Ver", "Descript"}) {
        EXPECT_EQ(list.addColumn(key, key, 1650), ListError::None);
    }
    return list;
}

TEST(ListColumns, KeysAreUniqueAndWidthsNotNegative) {
    ListModel list = versionList();
    EXPECT_EQ(list.findColumn("Ver"), 2);
    EXPECT_EQ(list.findColumn("ver"), 0);
    EXPECT_TRUE(list.column(0).key.empty());
    EXPECT_TRUE(list.column(4).key.empty());

    EXPECT_EQ(list.addColumn("Ver", "Another caption", 100), ListError::DuplicateColumnKey);
    EXPECT_EQ(list.addColumn("a", "A", -1), ListError::InvalidWidth);
    EXPECT_EQ(list.columnCount(), 3);
    EXPECT_EQ(list.column(2).caption, "Ver");
    // Only the key must be unique; a width of 0 is allowed.
    EXPECT_EQ(list.addColumn("Ver2", "Ver", 0), ListError::None);

    // Rows outlive their columns.
    ASSERT_EQ(list.addRow("Main.exe"), ListError::None);
    list.clearColumns();
    EXPECT_EQ(list.columnCount(), 0);
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.addColumn("Ver", "Ver", 1), ListError::None);
}

// A key that reads as a number could be taken for a row number, so it is refused; a refused
// key leaves no trace.
TEST(ListRows, KeysThatReadAsNumbersAreRefused) {
    const auto check = [](const char* key, bool numeric) {
        SCOPED_TRACE(key);
        ListModel list;
        ASSERT_EQ(list.addRow("first.dll"), ListError::None);
        EXPECT_EQ(list.addRow(key), numeric ? ListError::NumericKey : ListError::None);
        EXPECT_EQ(list.findRow(key), numeric ? 0 : 2);
        ASSERT_EQ(list.addRow("last.dll"), ListError::None);
        EXPECT_EQ(list.findRow("last.dll"), numeric ? 2 : 3);
    };
    for (const char* key : {"12", "0", "1.5", " 7 ", "\t7", "-3", "+4", ".5", "1.", "1e3", "1E+3",
                            "2D-1", "&H1F", "&hff", "&O17", "&17", "007"}) {
        check(key, true);
    }
    for (const char* key :
         {"Main.exe", "2005.06.01", "1.5.dll", "1.5 dll", "12a", "e5", "1e",
          "1e+",      ".",          "-",       "+",       "&",   "&H", "&HG",
          "&O8",      "&19",        "0x1F",    "1 2",     "",    " ",  "主程序.exe"}) {
        check(key, false);
    }
}

// Keys compare exactly: "a.dll" and "A.dll" are different files here. A refused duplicate
// keeps the first row as it was. Negative image indexes mean none.
TEST(ListRows, AreNumberedFromOneAndKeyedByTheirText) {
    ListModel list;
    ASSERT_EQ(list.addRow("Main.exe", 1, 2), ListError::None);
    ASSERT_EQ(list.addRow("plugins\\Report.dll", -7, -2), ListError::None);
    ASSERT_EQ(list.addRow("a.dll", 0), ListError::None);
    EXPECT_EQ(list.row(1).text, "Main.exe");
    EXPECT_EQ(list.findRow("plugins\\Report.dll"), 2);
    EXPECT_EQ(list.findRow("missing.dll"), 0);
    for (int bad : {0, -1, 4}) {
        EXPECT_TRUE(list.row(bad).text.empty()) << bad;
        EXPECT_EQ(list.row(bad).icon, kNoImage) << bad;
    }
    EXPECT_EQ(list.row(1).stateIcon, 2);
    EXPECT_EQ(list.row(2).icon, kNoImage);
    EXPECT_EQ(list.row(2).stateIcon, kNoImage);
    ASSERT_EQ(list.setStateIcon(1, 0), ListError::None);
    EXPECT_EQ(list.row(1).stateIcon, 0);
    EXPECT_EQ(list.row(1).icon, 1);
    ASSERT_EQ(list.setIcon(1, -5), ListError::None);
    EXPECT_EQ(list.row(1).icon, kNoImage);
    EXPECT_EQ(list.setIcon(4, 0), ListError::NoSuchRow);
    EXPECT_EQ(list.setStateIcon(0, 0), ListError::NoSuchRow);

    EXPECT_EQ(list.addRow("a.dll", 1), ListError::DuplicateKey);
    ASSERT_EQ(list.rowCount(), 3);
    EXPECT_EQ(list.row(3).icon, 0);
    EXPECT_EQ(list.addRow("A.dll"), ListError::None);
    EXPECT_EQ(list.addRow("a.dll "), ListError::None);
    EXPECT_EQ(list.findRow("A.dll"), 4);
    EXPECT_EQ(list.addRow(""), ListError::None);
    EXPECT_EQ(list.addRow(""), ListError::DuplicateKey);
    EXPECT_EQ(list.findRow(""), 6);
}

// Sub-items 1 and 2 of an existing row; removal renumbers the rows after and frees the keys.
TEST(ListRows, SubItemsAndRemoval) {
    ListModel list = versionList();
    for (const char* name : {"a", "b", "c"}) {
        ASSERT_EQ(list.addRow(name), ListError::None);
    }
    ASSERT_EQ(list.setSubItem(1, 1, "2.1.0.0"), ListError::None);
    ASSERT_EQ(list.setSubItem(3, 2, "Program"), ListError::None);
    ASSERT_EQ(list.setSubItem(3, 2, "Library"), ListError::None);
    EXPECT_EQ(list.subItem(1, 1), "2.1.0.0");
    EXPECT_EQ(list.subItem(3, 2), "Library");
    EXPECT_TRUE(list.subItem(2, 1).empty());
    EXPECT_EQ(list.setSubItem(1, 0, "x"), ListError::NoSuchSubItem);
    EXPECT_EQ(list.setSubItem(1, 3, "x"), ListError::NoSuchSubItem);
    EXPECT_EQ(list.setSubItem(0, 1, "x"), ListError::NoSuchRow);
    EXPECT_EQ(list.setSubItem(4, 1, "x"), ListError::NoSuchRow);
    EXPECT_TRUE(list.subItem(1, 0).empty());
    EXPECT_TRUE(list.subItem(1, 3).empty());
    EXPECT_TRUE(list.subItem(4, 1).empty());

    EXPECT_EQ(list.removeRow(0), ListError::NoSuchRow);
    EXPECT_EQ(list.removeRow(4), ListError::NoSuchRow);
    ASSERT_EQ(list.removeRow(2), ListError::None);
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.row(2).text, "c");
    EXPECT_EQ(list.subItem(2, 2), "Library");
    EXPECT_EQ(list.findRow("c"), 2);
    EXPECT_EQ(list.findRow("b"), 0);
    ASSERT_EQ(list.addRow("b"), ListError::None);
    EXPECT_EQ(list.findRow("b"), 3);

    list.clear();
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_EQ(list.columnCount(), 3);
    EXPECT_EQ(list.findRow("c"), 0);
    ASSERT_EQ(list.addRow("c"), ListError::None);
    EXPECT_EQ(list.findRow("c"), 1);
}

}  // namespace
}  // namespace upd::controls
