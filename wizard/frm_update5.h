// Wizard page 5, `frmUpdate5`: the end of the update. It says that the application is up
// to date; Finish ends the program. Installing the downloaded files and the advertisement
// area's page are not built yet.
#pragma once

#include "wizard/page.h"

class QLabel;
class QListWidget;
class QTextBrowser;

namespace upd::wizard {

class frmUpdate5 : public Page {
    Q_OBJECT

  public:
    explicit frmUpdate5(Wizard& wizard);

    void Form_Load() override;

    QLabel* Label2 = nullptr;
    QTextBrowser* WebBrowser1 = nullptr;  // the advertisement area
    QPushButton* Finish = nullptr;
    QListWidget* List1 = nullptr;  // hidden: the files downloaded, in completion order
};

}  // namespace upd::wizard
