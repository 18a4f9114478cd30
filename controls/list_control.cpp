#include "controls/list_control.h"

#include <QAccessible>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <utility>

#include "controls/controls_accessible.h"
#include "controls/image_list.h"

namespace upd::controls {

namespace {

// 1440 twips to the inch, 96 pixels to the inch: 15 twips to a pixel. Qt scales the
// result on high-dpi screens.
int twipsToPixels(int twips) {
    return (twips + 7) / 15;
}

QString toQString(const std::string& text) {
    return QString::fromStdString(text);
}

// The tree view under the control. Without full-row selection only the first column
// belongs to a row, as in a classic report list: presses elsewhere hit nothing and the
// cursor stays in the first column.
class ReportView : public QTreeWidget {
  public:
    explicit ReportView(QWidget* parent) : QTreeWidget(parent) {}

    bool fullRowSelect = false;
    // Called whenever the user has made a row the selected one, with that row: after a
    // click (on release, with the row that the press, and any dragging after it, left
    // selected) or a key press.
    std::function<void(QTreeWidgetItem*)> userChoice;

  protected:
    // Qt makes the first row current when the list gets the focus other than by a click, and
    // draws it like a chosen one while nothing is chosen (and Next stays disabled). The
    // focus shows on the list instead; an arrow key then picks the first row.
    void focusInEvent(QFocusEvent* event) override {
        const bool hadCurrent = currentIndex().isValid();
        QTreeWidget::focusInEvent(event);
        if (!hadCurrent && currentIndex().isValid() && selectedItems().isEmpty()) {
            selectionModel()->clearCurrentIndex();
        }
    }

    void keyPressEvent(QKeyEvent* event) override {
        QTreeWidgetItem* before = currentItem();
        const bool wasSelected = before != nullptr && before->isSelected();
        QTreeWidget::keyPressEvent(event);
        QTreeWidgetItem* after = currentItem();
        // Moving to another row, or Space selecting the row the cursor is on.
        if (after != nullptr && after->isSelected() && (after != before || !wasSelected)) {
            report(after);
        }
    }

    void mousePressEvent(QMouseEvent* event) override {
        m_pressOnRow = false;
        if (besideFirstColumn(event)) {
            event->accept();
            return;
        }
        m_pressOnRow = itemAt(event->position().toPoint()) != nullptr;
        QTreeWidget::mousePressEvent(event);
    }

    // Qt reports a click only when press and release hit the same cell, yet a press that
    // is dragged on moves the selection: report the row that is selected in the end, so
    // that the selected row is always the one the owner was told of.
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (besideFirstColumn(event)) {
            event->accept();
        } else {
            QTreeWidget::mouseReleaseEvent(event);
        }
        if (std::exchange(m_pressOnRow, false)) {
            const QList<QTreeWidgetItem*> selected = selectedItems();
            if (!selected.isEmpty()) {
                report(selected.front());
            }
        }
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (besideFirstColumn(event)) {
            event->accept();
            return;
        }
        QTreeWidget::mouseDoubleClickEvent(event);
    }

    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        const QModelIndex next = QTreeWidget::moveCursor(action, modifiers);
        if (fullRowSelect || !next.isValid()) {
            return next;
        }
        return next.sibling(next.row(), 0);
    }

  private:
    bool besideFirstColumn(const QMouseEvent* event) const {
        if (fullRowSelect) {
            return false;
        }
        const QModelIndex index = indexAt(event->position().toPoint());
        return index.isValid() && index.column() != 0;
    }

    void report(QTreeWidgetItem* row) const {
        if (userChoice) {
            userChoice(row);
        }
    }

    bool m_pressOnRow = false;  // the press of the click under way hit a row
};

}  // namespace

ListControl::ListControl(QWidget* parent) : QWidget(parent) {
    installControlsAccessibility();
    auto* view = new ReportView(this);
    m_view = view;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);

    m_view->setColumnCount(0);
    m_view->setRootIsDecorated(false);
    m_view->setItemsExpandable(false);
    m_view->setUniformRowHeights(true);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setDragDropMode(QAbstractItemView::NoDragDrop);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_view->setAllColumnsShowFocus(false);
    m_view->header()->setSectionsClickable(false);
    m_view->header()->setSectionsMovable(false);
    m_view->header()->setStretchLastSection(false);

    view->userChoice = [this](QTreeWidgetItem* chosen) { emit itemClick(rowOf(chosen)); };
}

ListControl::~ListControl() = default;

ListError ListControl::addColumn(const QString& key, const QString& caption, int widthTwips) {
    const ListError error = m_model.addColumn(key.toStdString(), caption.toStdString(), widthTwips);
    if (error != ListError::None) {
        return error;
    }
    const int column = m_model.columnCount() - 1;
    m_view->setColumnCount(m_model.columnCount());
    m_view->headerItem()->setText(column, caption);
    m_view->setColumnWidth(column, twipsToPixels(widthTwips));
    for (int row = 1; row <= rowCount(); ++row) {
        showTexts(row);
    }
    return ListError::None;
}

int ListControl::findColumn(const QString& key) const {
    return m_model.findColumn(key.toStdString());
}

ListError ListControl::addRow(const QString& text, int icon, int stateIcon) {
    const ListError error = m_model.addRow(text.toStdString(), icon, stateIcon);
    if (error != ListError::None) {
        return error;
    }
    auto* added = new QTreeWidgetItem();
    added->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren);
    m_view->addTopLevelItem(added);
    showTexts(rowCount());
    if (stateIcon >= 0 && !m_stateSlot) {
        updateStateSlot(false);
    } else {
        refreshIcon(rowCount());
    }
    notifyAccessibility(0);
    return ListError::None;
}

QString ListControl::rowText(int row) const {
    return toQString(m_model.row(row).text);
}

int ListControl::findRow(const QString& key) const {
    return m_model.findRow(key.toStdString());
}

ListError ListControl::removeRow(int row) {
    const ListError error = m_model.removeRow(row);
    if (error != ListError::None) {
        return error;
    }
    delete m_view->takeTopLevelItem(row - 1);
    updateStateSlot(false);
    notifyAccessibility(0);
    return ListError::None;
}

void ListControl::clear() {
    m_model.clear();
    m_view->clear();
    updateStateSlot(false);
    notifyAccessibility(0);
}

QString ListControl::subItem(int row, int index) const {
    return toQString(m_model.subItem(row, index));
}

ListError ListControl::setSubItem(int row, int index, const QString& text) {
    const ListError error = m_model.setSubItem(row, index, text.toStdString());
    if (error == ListError::None) {
        showTexts(row);
        notifyAccessibility(row);
    }
    return error;
}

ListError ListControl::setIcon(int row, int icon) {
    const ListError error = m_model.setIcon(row, icon);
    if (error == ListError::None) {
        refreshIcon(row);
    }
    return error;
}

ListError ListControl::setStateIcon(int row, int stateIcon) {
    const ListError error = m_model.setStateIcon(row, stateIcon);
    if (error != ListError::None) {
        return error;
    }
    if ((stateIcon >= 0) != m_stateSlot) {
        updateStateSlot(false);
    } else {
        refreshIcon(row);
    }
    notifyAccessibility(row);
    return ListError::None;
}

void ListControl::setImageList(const ImageList* images) {
    const ImageList* previous = m_images;
    m_images = images;
    watchImageList(previous, images);
    updateStateSlot(true);
}

void ListControl::setStateImageList(const ImageList* images) {
    const ImageList* previous = m_stateImages;
    m_stateImages = images;
    watchImageList(previous, images);
    updateStateSlot(true);
}

void ListControl::setFullRowSelect(bool on) {
    m_fullRowSelect = on;
    static_cast<ReportView*>(m_view)->fullRowSelect = on;
    m_view->setSelectionBehavior(on ? QAbstractItemView::SelectRows
                                    : QAbstractItemView::SelectItems);
    m_view->setAllColumnsShowFocus(on);
    // A selection made in the other mode may cover cells that no longer belong to a row.
    if (QTreeWidgetItem* selected = item(selectedRow())) {
        m_view->clearSelection();
        m_view->setCurrentItem(selected, 0);
    }
}

int ListControl::selectedRow() const {
    const QList<QTreeWidgetItem*> selected = m_view->selectedItems();
    return selected.isEmpty() ? 0 : rowOf(selected.front());
}

int ListControl::currentRow() const {
    const QTreeWidgetItem* current = m_view->currentItem();
    return current != nullptr ? rowOf(current) : 0;
}

void ListControl::setStateNames(const QStringList& names) {
    m_stateNames = names;
    for (int row = 1; row <= rowCount(); ++row) {
        refreshIcon(row);
        notifyAccessibility(row);
    }
}

QString ListControl::stateName(int stateIcon) const {
    return stateIcon >= 0 && stateIcon < m_stateNames.size() ? m_stateNames.at(stateIcon)
                                                             : QString();
}

// Only the texts that have a column are on screen, so only those are said.
QString ListControl::accessibleRowText(int row) const {
    if (row < 1 || row > rowCount()) {
        return {};
    }
    QStringList parts{rowText(row)};
    for (int index = 1; index <= kSubItemCount && index < columnCount(); ++index) {
        if (const QString shown = subItem(row, index); !shown.isEmpty()) {
            parts << shown;
        }
    }
    if (const QString state = stateName(stateIcon(row)); !state.isEmpty()) {
        parts << state;
    }
    return parts.join(QStringLiteral(", "));
}

void ListControl::notifyAccessibility(int row) {
    if (!QAccessible::isActive()) {
        return;
    }
    QAccessibleEvent event(this, row == 0 ? QAccessible::ObjectReorder : QAccessible::NameChanged);
    if (row != 0) {
        event.setChild(row - 1);
    }
    QAccessible::updateAccessibility(&event);
}

QTreeWidgetItem* ListControl::item(int row) const {
    if (row < 1 || row > rowCount()) {
        return nullptr;
    }
    return m_view->topLevelItem(row - 1);
}

int ListControl::rowOf(const QTreeWidgetItem* rowItem) const {
    return m_view->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(rowItem)) + 1;
}

// Column 0 shows the row text, column i sub-item i; sub-items without a column wait in the
// model until their column is added.
void ListControl::showTexts(int row) {
    QTreeWidgetItem* rowItem = item(row);
    if (rowItem == nullptr) {
        return;
    }
    const int columns = m_model.columnCount();
    if (columns >= 1) {
        rowItem->setText(0, toQString(m_model.row(row).text));
    }
    for (int index = 1; index <= kSubItemCount && index < columns; ++index) {
        rowItem->setText(index, toQString(m_model.subItem(row, index)));
    }
}

const ImageList* ListControl::stateSource() const {
    return m_stateImages ? m_stateImages.data() : m_images.data();
}

bool ListControl::anyStateIcon() const {
    for (int row = 1; row <= rowCount(); ++row) {
        if (m_model.row(row).stateIcon >= 0) {
            return true;
        }
    }
    return false;
}

void ListControl::updateStateSlot(bool force) {
    const bool slot = anyStateIcon();
    if (slot != m_stateSlot || force) {
        m_stateSlot = slot;
        refreshIcons();
    }
}

void ListControl::refreshIcons() {
    const ImageList* states = m_stateSlot ? stateSource() : nullptr;
    const QSize stateSize = states != nullptr ? states->imageSize() : QSize(0, 0);
    const QSize iconSize = m_images ? m_images->imageSize() : QSize(0, 0);
    m_view->setIconSize(QSize(stateSize.width() + iconSize.width(),
                              std::max(stateSize.height(), iconSize.height())));
    for (int row = 1; row <= rowCount(); ++row) {
        refreshIcon(row);
    }
}

// The first column's decoration holds the state icon (when any row has one) followed by the
// row icon; an empty place is left for a missing image so that the texts stay aligned.
void ListControl::refreshIcon(int row) {
    QTreeWidgetItem* rowItem = item(row);
    if (rowItem == nullptr) {
        return;
    }
    // The view's own accessible cells say the state too, for a reader that follows them.
    rowItem->setData(0, Qt::AccessibleDescriptionRole, stateName(m_model.row(row).stateIcon));
    const ImageList* states = m_stateSlot ? stateSource() : nullptr;
    const ImageList* icons = m_images.data();
    if (states == nullptr && icons == nullptr) {
        rowItem->setIcon(0, QIcon());
        return;
    }
    const QSize stateSize = states != nullptr ? states->imageSize() : QSize(0, 0);
    const QSize iconSize = icons != nullptr ? icons->imageSize() : QSize(0, 0);
    const QSize total(stateSize.width() + iconSize.width(),
                      std::max(stateSize.height(), iconSize.height()));
    const qreal ratio = devicePixelRatioF();
    QPixmap canvas(total * ratio);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        const ListRow& shown = m_model.row(row);
        if (states != nullptr) {
            const QPixmap image = states->pixmap(shown.stateIcon, ratio);
            if (!image.isNull()) {
                painter.drawPixmap(
                    QRect(QPoint(0, (total.height() - stateSize.height()) / 2), stateSize), image);
            }
        }
        if (icons != nullptr) {
            const QPixmap image = icons->pixmap(shown.icon, ratio);
            if (!image.isNull()) {
                painter.drawPixmap(
                    QRect(QPoint(stateSize.width(), (total.height() - iconSize.height()) / 2),
                          iconSize),
                    image);
            }
        }
    }
    rowItem->setIcon(0, QIcon(canvas));
}

void ListControl::watchImageList(const ImageList* previous, const ImageList* images) {
    if (previous != nullptr && previous != m_images && previous != m_stateImages) {
        disconnect(previous, nullptr, this, nullptr);
    }
    if (images == nullptr) {
        return;
    }
    connect(images, &ImageList::changed, this, &ListControl::refreshIcons, Qt::UniqueConnection);
    connect(images, &QObject::destroyed, this, &ListControl::imageListDestroyed,
            Qt::UniqueConnection);
}

void ListControl::imageListDestroyed(QObject* object) {
    if (m_images.data() == object) {
        m_images = nullptr;
    }
    if (m_stateImages.data() == object) {
        m_stateImages = nullptr;
    }
    // The guards may already be empty; drawing again with what is left is right either way.
    refreshIcons();
}

}  // namespace upd::controls
