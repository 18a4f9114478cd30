// The keyed report list of the wizard pages: a ListModel shown in a Qt tree view without
// branches. Every change goes through the model first, so the widget refuses exactly what
// the model refuses (numeric or duplicate row keys, duplicate column keys) and the rows on
// screen always match the model's rows.
//
// The view is a private child, not a base class, so nothing can add or remove items behind
// the model's back. Fonts and geometry set on the control reach the view.
//
// No row is current until the user picks one (Qt would make the first row current when the
// list gets the focus, drawing it as if chosen). Screen readers see the control as a list of
// its rows, each named by accessibleRowText (controls_accessible.h).
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "controls/image_list.h"  // complete for the QPointer in imageList()
#include "controls/list_model.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace upd::controls {

class ListControl : public QWidget {
    Q_OBJECT

  public:
    explicit ListControl(QWidget* parent = nullptr);
    ~ListControl() override;

    // Column widths are in twips: 15 twips are one pixel at 96 dpi.
    ListError addColumn(const QString& key, const QString& caption, int widthTwips);
    int columnCount() const { return m_model.columnCount(); }
    int findColumn(const QString& key) const;

    // Rows are numbered from 1 in the order they were added.
    ListError addRow(const QString& text, int icon = kNoImage, int stateIcon = kNoImage);
    int rowCount() const { return m_model.rowCount(); }
    // Text (and key) of a row; empty for a row out of range.
    QString rowText(int row) const;
    int findRow(const QString& key) const;
    ListError removeRow(int row);
    void clear();  // rows only; the columns stay

    QString subItem(int row, int index) const;
    ListError setSubItem(int row, int index, const QString& text);
    int icon(int row) const { return m_model.row(row).icon; }
    int stateIcon(int row) const { return m_model.row(row).stateIcon; }
    ListError setIcon(int row, int icon);
    ListError setStateIcon(int row, int stateIcon);

    // Row icons are drawn from the image list; state icons from the state image list, or
    // from the image list when no state image list is attached. The lists are not owned;
    // a list that is destroyed is detached. nullptr detaches.
    void setImageList(const ImageList* images);
    const ImageList* imageList() const { return m_images; }
    void setStateImageList(const ImageList* images);
    const ImageList* stateImageList() const { return m_stateImages; }

    // Full-row selection: a click anywhere on a row selects the whole row. Without it only
    // the first column selects, as in a classic report list. Off when created.
    void setFullRowSelect(bool on);
    bool fullRowSelect() const { return m_fullRowSelect; }

    // The selected row, 0 when none. Nothing is selected until the user chooses a row.
    int selectedRow() const;
    // The row the keyboard is on, 0 when none; none until the user picks one.
    int currentRow() const;

    // Words for the state icons, in the user's language: names[i] says what state image i
    // means ("Downloaded"). A state icon without a word is not said.
    void setStateNames(const QStringList& names);
    QString stateName(int stateIcon) const;
    // A row as a screen reader reads it: its texts in column order, then its state in words
    // ("a.dll, Main library, Downloaded"). Empty for a row out of range.
    QString accessibleRowText(int row) const;

    const ListModel& model() const { return m_model; }
    // The tree view that shows the rows (for fonts, focus and tests); do not change its
    // items or columns directly.
    QTreeWidget* view() const { return m_view; }

  signals:
    // The user chose a row with the mouse (a click on it, reported on release for the row
    // left selected, also after dragging) or with the keyboard (moving to it, or Space on
    // it); `row` counts from 1. A click on the row that is already chosen is reported too.
    void itemClick(int row);

  private:
    QTreeWidgetItem* item(int row) const;
    int rowOf(const QTreeWidgetItem* item) const;
    void showTexts(int row);
    const ImageList* stateSource() const;
    bool anyStateIcon() const;
    void updateStateSlot(bool force);
    void refreshIcons();
    void refreshIcon(int row);
    void watchImageList(const ImageList* previous, const ImageList* images);
    void imageListDestroyed(QObject* object);
    // Tells screen readers that a row's name changed; row 0: rows came or went.
    void notifyAccessibility(int row);

    ListModel m_model;
    QTreeWidget* m_view = nullptr;
    QPointer<const ImageList> m_images;
    QPointer<const ImageList> m_stateImages;
    bool m_fullRowSelect = false;
    // Room for state icons is kept in front of the row icons once any row has one.
    bool m_stateSlot = false;
    QStringList m_stateNames;
};

}  // namespace upd::controls
