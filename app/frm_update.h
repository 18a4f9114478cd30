// Wizard page 0, `frmUpdate`: the welcome page and the program's start-up. Its Form_Load
// loads the server page hidden, records LangID and InfoFile, and fills the server page
// from update.svr with the servers of the system's language.
#pragma once

#include "wizard/page.h"

class QGroupBox;
class QLabel;
class QPushButton;

namespace upd::app {

class frmUpdate : public wizard::Page {
    Q_OBJECT

  public:
    explicit frmUpdate(wizard::Wizard& wizard);

    // Start-up: nothing here stops it or shows a message; a step that fails is skipped.
    void Form_Load() override;
    void Next_Button_Click();

    QWidget* defaultFocus() const override;

    // Controls, named as the page's design names them.
    QGroupBox* Frame1 = nullptr;
    QLabel* Welcometext = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Auto = nullptr;  // hidden, no action
    QPushButton* Next_Button = nullptr;
    QPushButton* Cancel = nullptr;
};

}  // namespace upd::app
