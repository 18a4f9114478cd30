#include "controls/list_model.h"

#include <utility>

namespace upd::controls {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isOctalDigit(char c) {
    return c >= '0' && c <= '7';
}

template <typename Pred>
bool allOf(std::string_view s, Pred pred) {
    for (char c : s) {
        if (!pred(c)) {
            return false;
        }
    }
    return !s.empty();
}

// What the system's number conversion accepts, so a key can never be taken for a row
// number: blanks around the text, then "&H1F" (hexadecimal), "&O17" or "&17" (octal), or a
// decimal with optional sign, point and exponent ("-3", "1.", ".5", "1e3", "2D-1").
// "2005.06.01" and "1.5.dll" are not numbers.
bool readsAsNumber(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    if (s.empty()) {
        return false;
    }
    if (s.front() == '&') {
        s.remove_prefix(1);
        if (!s.empty() && (s.front() == 'H' || s.front() == 'h')) {
            return allOf(s.substr(1), isHexDigit);
        }
        if (!s.empty() && (s.front() == 'O' || s.front() == 'o')) {
            return allOf(s.substr(1), isOctalDigit);
        }
        return allOf(s, isOctalDigit);
    }
    std::size_t i = 0;
    if (s[i] == '+' || s[i] == '-') {
        ++i;
    }
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            ++i;
        }
        std::size_t exponentDigits = 0;
        while (i < s.size() && isDigit(s[i])) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return false;
        }
    }
    return i == s.size();
}

int normalisedImage(int index) {
    return index < 0 ? kNoImage : index;
}

const ListColumn kNoColumn{};
const ListRow kNoRow{};
const std::string kNoText{};

}  // namespace

std::string_view listErrorText(ListError error) {
    switch (error) {
        case ListError::None:
            return "No error";
        case ListError::NumericKey:
            return "Invalid key: a key must not be a number";
        case ListError::DuplicateKey:
            return "Key is not unique in the list";
        case ListError::DuplicateColumnKey:
            return "Column key is not unique in the list";
        case ListError::NoSuchRow:
            return "Row number out of range";
        case ListError::NoSuchSubItem:
            return "Sub-item index out of range";
        case ListError::InvalidWidth:
            return "Invalid column width";
    }
    return "Unknown list error";
}

ListError ListModel::addColumn(std::string key, std::string caption, int widthTwips) {
    if (widthTwips < 0) {
        return ListError::InvalidWidth;
    }
    if (findColumn(key) != 0) {
        return ListError::DuplicateColumnKey;
    }
    m_columns.push_back(ListColumn{std::move(key), std::move(caption), widthTwips});
    return ListError::None;
}

const ListColumn& ListModel::column(int index) const {
    if (index < 1 || index > columnCount()) {
        return kNoColumn;
    }
    return m_columns[static_cast<std::size_t>(index - 1)];
}

int ListModel::findColumn(std::string_view key) const {
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].key == key) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

void ListModel::clearColumns() {
    m_columns.clear();
}

ListError ListModel::addRow(std::string text, int icon, int stateIcon) {
    if (readsAsNumber(text)) {
        return ListError::NumericKey;
    }
    if (m_index.find(text) != m_index.end()) {
        return ListError::DuplicateKey;
    }
    m_index.emplace(text, rowCount());
    ListRow added;
    added.text = std::move(text);
    added.icon = normalisedImage(icon);
    added.stateIcon = normalisedImage(stateIcon);
    m_rows.push_back(std::move(added));
    return ListError::None;
}

const ListRow& ListModel::row(int row) const {
    if (!validRow(row)) {
        return kNoRow;
    }
    return m_rows[static_cast<std::size_t>(row - 1)];
}

int ListModel::findRow(std::string_view key) const {
    auto it = m_index.find(key);
    return it == m_index.end() ? 0 : it->second + 1;
}

ListError ListModel::removeRow(int row) {
    if (!validRow(row)) {
        return ListError::NoSuchRow;
    }
    m_rows.erase(m_rows.begin() + (row - 1));
    reindex();
    return ListError::None;
}

void ListModel::clear() {
    m_rows.clear();
    m_index.clear();
}

const std::string& ListModel::subItem(int row, int index) const {
    if (!validRow(row) || index < 1 || index > kSubItemCount) {
        return kNoText;
    }
    return m_rows[static_cast<std::size_t>(row - 1)].subItems[static_cast<std::size_t>(index - 1)];
}

ListError ListModel::setSubItem(int row, int index, std::string text) {
    if (!validRow(row)) {
        return ListError::NoSuchRow;
    }
    if (index < 1 || index > kSubItemCount) {
        return ListError::NoSuchSubItem;
    }
    m_rows[static_cast<std::size_t>(row - 1)].subItems[static_cast<std::size_t>(index - 1)] =
        std::move(text);
    return ListError::None;
}

ListError ListModel::setIcon(int row, int icon) {
    if (!validRow(row)) {
        return ListError::NoSuchRow;
    }
    m_rows[static_cast<std::size_t>(row - 1)].icon = normalisedImage(icon);
    return ListError::None;
}

ListError ListModel::setStateIcon(int row, int stateIcon) {
    if (!validRow(row)) {
        return ListError::NoSuchRow;
    }
    m_rows[static_cast<std::size_t>(row - 1)].stateIcon = normalisedImage(stateIcon);
    return ListError::None;
}

void ListModel::reindex() {
    m_index.clear();
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        m_index.emplace(m_rows[i].text, static_cast<int>(i));
    }
}

}  // namespace upd::controls
