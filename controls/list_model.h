// The data of a keyed report list: columns, and rows numbered from 1 in the order they were
// added, each with a text that is also its key, two sub-item texts and two image indexes.
// Toolkit-free, so the analysis page keeps its working lists in it without a widget;
// ListControl shows one on screen.
//
// Keys:
//   - a row's key is its text, and it is unique within the list ("a.dll" and "A.dll" are
//     different keys, as they are different files here);
//   - a row key that reads as a number ("12", " 7 ", "1.5", "-3", "1e3", "&H1F") is refused,
//     so a key can never be mistaken for a row number;
//   - a column's key is unique among the columns.
// A refused addition changes nothing; the caller must look at the returned ListError.
#pragma once

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace upd::controls {

enum class [[nodiscard]] ListError{
    None,
    NumericKey,          // a row key that reads as a number
    DuplicateKey,        // a row key that the list already holds
    DuplicateColumnKey,  // a column key that the list already holds
    NoSuchRow,           // a row number outside 1 .. rowCount()
    NoSuchSubItem,       // a sub-item index other than 1 or 2
    InvalidWidth,        // a negative column width
};

// English description of an error, for the message box of a page that shows it.
std::string_view listErrorText(ListError error);

// Sub-items 1 and 2 are the texts shown in the second and third columns.
inline constexpr int kSubItemCount = 2;

// No image: the index an icon or a state icon has until one is set.
inline constexpr int kNoImage = -1;

struct ListColumn {
    std::string key;
    std::string caption;
    int widthTwips = 0;
};

struct ListRow {
    std::string text;                                 // also the row's key
    std::array<std::string, kSubItemCount> subItems;  // sub-item i is subItems[i - 1]
    int icon = kNoImage;                              // index into the attached image list, from 0
    int stateIcon = kNoImage;                         // index into the state image list, from 0
};

class ListModel {
  public:
    // Appends a column. Fails with DuplicateColumnKey or InvalidWidth.
    ListError addColumn(std::string key, std::string caption, int widthTwips);
    int columnCount() const { return static_cast<int>(m_columns.size()); }
    // Column `index` counted from 1; an empty column for an index out of range.
    const ListColumn& column(int index) const;
    // 1-based index of the column with this key, 0 when there is none.
    int findColumn(std::string_view key) const;
    // Removes every column; the rows and their sub-items stay.
    void clearColumns();

    // Appends a row whose text and key are `text`; it becomes row rowCount(). A negative
    // image index means "no image". Fails with NumericKey or DuplicateKey.
    ListError addRow(std::string text, int icon = kNoImage, int stateIcon = kNoImage);
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    // Row `row` counted from 1; an empty row for a number out of range.
    const ListRow& row(int row) const;
    // Number of the row with this key, 0 when there is none.
    int findRow(std::string_view key) const;
    // Removes a row; the rows after it move up by one. Fails with NoSuchRow.
    ListError removeRow(int row);
    // Removes every row; the columns stay.
    void clear();

    // Sub-item `index` (1 or 2) of a row; empty for a row or index out of range.
    const std::string& subItem(int row, int index) const;
    ListError setSubItem(int row, int index, std::string text);
    // A negative index means "no image". Fail with NoSuchRow.
    ListError setIcon(int row, int icon);
    ListError setStateIcon(int row, int stateIcon);

  private:
    bool validRow(int row) const { return row >= 1 && row <= rowCount(); }
    void reindex();

    std::vector<ListColumn> m_columns;
    std::vector<ListRow> m_rows;
    // Row key -> 0-based position; rebuilt when a row is removed.
    std::map<std::string, int, std::less<>> m_index;
};

}  // namespace upd::controls
