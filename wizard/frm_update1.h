// Wizard page 1, `frmUpdate1`: the choice of the download server. Start-up (the welcome
// page) fills its server list and the hidden address list in step; a click on a row puts
// that server's address into `Text1`, which pages 2 and 4 read, and enables Next for good.
// The Proxy button opens the proxy dialog.
#pragma once

#include <QString>
#include <array>
#include <string>

#include "wizard/page.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace upd::controls {
class ImageList;
class ListControl;
}  // namespace upd::controls

namespace upd::wizard {

class frmUpdate1 : public Page {
    Q_OBJECT

  public:
    explicit frmUpdate1(Wizard& wizard);

    void Form_Load() override;
    // A server row was clicked; `row` counts from 1.
    void trelListViewCtl1_ItemClick(int row);
    void Proxy_Button_Click();
    void Next_Button_Click();
    void Back_Button_Click();

    // Start-up's part: appends a server row (icon: image 0) and its address, in step. When
    // the list refuses the name (a duplicate, or a name that reads as a number) neither is
    // added, so that row n always belongs to address n; returns false then.
    bool addServer(const QString& name, const QString& address);

    QWidget* defaultFocus() const override;

    // The chosen server's address (Text1), the prefix of the information file's URL and of
    // the updater's sources.
    std::string chosenAddress() const;
    // The chosen server's name as the list shows it; "" before a choice.
    std::string chosenName() const;
    // The row after the chosen one, wrapping round, chosen as a click would.
    void chooseNextServer();

    // Controls, named as the page's design names them.
    controls::ListControl* trelListViewCtl1 = nullptr;  // the server list
    controls::ImageList* trelImageList1 = nullptr;      // its small icons
    std::array<QLabel*, 2> Label2{};                    // 0: hint, 1: "Address:"
    QLineEdit* Text1 = nullptr;                         // the chosen server's address
    QCheckBox* Check1 = nullptr;                        // "Resume broken downloads"
    QPushButton* Proxy_Button = nullptr;
    QPushButton* Auto = nullptr;  // hidden, no action
    QPushButton* Back_Button = nullptr;
    QPushButton* Next_Button = nullptr;
    QPushButton* Cancel = nullptr;
    QListWidget* List1 = nullptr;  // hidden: the address of row n is entry n - 1

  private:
    QString m_columnHeader;  // string 109, the server list's column key and caption
    int m_chosenRow = 0;
};

}  // namespace upd::wizard
