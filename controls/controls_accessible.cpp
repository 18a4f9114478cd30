#include "controls/controls_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QGroupBox>
#include <QPointer>
#include <QTreeWidget>
#include <map>

#include "controls/list_control.h"
#include "controls/small_bar.h"

namespace upd::controls {
namespace {

// "&Files" -> "Files", "R&&D" -> "R&D": a frame's title as it is said.
QString withoutAmpersands(const QString& text) {
    QString said;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('&')) {
                said += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        said += text.at(i);
    }
    return said;
}

// One row of a ListControl. Rows have no QObject of their own: the list's interface makes
// one of these per row when asked, and Qt's registry owns it.
class ListRowAccessible : public QAccessibleInterface {
  public:
    ListRowAccessible(ListControl* list, int row) : m_list(list), m_row(row) {}

    const ListControl* list() const { return m_list.data(); }
    int row() const { return m_row; }

    bool isValid() const override {
        return m_list != nullptr && m_row >= 1 && m_row <= m_list->rowCount();
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        const QAccessibleInterface* owner = parent();
        return owner != nullptr ? owner->window() : nullptr;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_list.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text type) const override {
        return type == QAccessible::Name && isValid() ? m_list->accessibleRowText(m_row)
                                                      : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QRect rect() const override {
        const QTreeWidgetItem* item = isValid() ? m_list->view()->topLevelItem(m_row - 1) : nullptr;
        if (item == nullptr) {
            return {};
        }
        const QRect local = m_list->view()->visualItemRect(item);
        return {m_list->view()->viewport()->mapToGlobal(local.topLeft()), local.size()};
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.selectable = true;
        state.focusable = true;
        state.selected = m_list->selectedRow() == m_row;
        state.focused = m_list->currentRow() == m_row && m_list->view()->hasFocus();
        const QTreeWidget* view = m_list->view();
        const QRect shown = view->visualItemRect(view->topLevelItem(m_row - 1));
        state.invisible = !m_list->isVisible();
        state.offscreen = !view->viewport()->rect().intersects(shown);
        return state;
    }

  private:
    QPointer<ListControl> m_list;
    int m_row;
};

class ListControlAccessible : public QAccessibleWidget {
  public:
    explicit ListControlAccessible(ListControl* list)
        : QAccessibleWidget(list, QAccessible::List) {}
    ~ListControlAccessible() override {
        for (const auto& [row, id] : m_rows) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }
    ListControlAccessible(const ListControlAccessible&) = delete;
    ListControlAccessible& operator=(const ListControlAccessible&) = delete;

    ListControl* list() const { return static_cast<ListControl*>(widget()); }

    int childCount() const override { return list()->rowCount(); }

    // Row interfaces are kept by row number: row n is whatever row n is now.
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) {
            return nullptr;
        }
        const int row = index + 1;
        if (const auto known = m_rows.find(row); known != m_rows.end()) {
            if (QAccessibleInterface* iface = QAccessible::accessibleInterface(known->second)) {
                return iface;
            }
        }
        auto* iface = new ListRowAccessible(list(), row);
        m_rows[row] = QAccessible::registerAccessibleInterface(iface);
        return iface;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* row = dynamic_cast<const ListRowAccessible*>(child);
        return row != nullptr && row->list() == list() && row->isValid() ? row->row() - 1 : -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QTreeWidget* view = list()->view();
        QTreeWidgetItem* item = view->itemAt(view->viewport()->mapFromGlobal(QPoint(x, y)));
        return item != nullptr ? child(view->indexOfTopLevelItem(item)) : nullptr;
    }

    QAccessibleInterface* focusChild() const override {
        const int current = list()->currentRow();
        return current != 0 && list()->view()->hasFocus() ? child(current - 1) : nullptr;
    }

    QString text(QAccessible::Text type) const override {
        const QString named = QAccessibleWidget::text(type);
        if (type != QAccessible::Name || !named.isEmpty()) {
            return named;
        }
        if (const auto* frame = qobject_cast<const QGroupBox*>(list()->parentWidget());
            frame != nullptr && !frame->title().trimmed().isEmpty()) {
            return withoutAmpersands(frame->title()).trimmed();
        }
        return QString::fromStdString(list()->model().column(1).caption);
    }

  private:
    mutable std::map<int, QAccessible::Id> m_rows;
};

class SmallBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit SmallBarAccessible(SmallBar* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Value) {
            return QString::number(bar()->shownPercent()) + QLatin1Char('%');
        }
        return QAccessibleWidget::text(type);
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }

    QVariant currentValue() const override { return bar()->shownPercent(); }
    // The pages move the bar; a reader cannot.
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 0; }

  private:
    const SmallBar* bar() const { return static_cast<const SmallBar*>(widget()); }
};

QAccessibleInterface* controlsFactory(const QString& className, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    if (className == QLatin1String(ListControl::staticMetaObject.className())) {
        return new ListControlAccessible(static_cast<ListControl*>(object));
    }
    if (className == QLatin1String(SmallBar::staticMetaObject.className())) {
        return new SmallBarAccessible(static_cast<SmallBar*>(object));
    }
    return nullptr;
}

}  // namespace

void installControlsAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(&controlsFactory);
        return true;
    }();
    static_cast<void>(installed);
}

}  // namespace upd::controls
