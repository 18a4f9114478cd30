#include "wizard/frm_update5.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTextBrowser>

#include "app/twips.h"
#include "wizard/wizard.h"

namespace upd::wizard {

frmUpdate5::frmUpdate5(Wizard& wizard) : Page(wizard, PageId::Finish) {
    setTitleSize(3645, 240);
    Label2 = addLabel(this, "Label2", 2160, 960, 4230, 180);
    WebBrowser1 = new QTextBrowser(this);
    WebBrowser1->setObjectName("WebBrowser1");
    WebBrowser1->setGeometry(app::twipsRect(2160, 1560, 4695, 3015));
    WebBrowser1->setOpenLinks(false);
    Finish = addButton("Finish", 5280);
    setEscapeButton(Finish);
    List1 = new QListWidget(this);
    List1->setObjectName("List1");
    List1->setVisible(false);
    connect(Finish, &QPushButton::clicked, this, [this] { Cancel_Click(); });
}

void frmUpdate5::Form_Load() {
    setWindowTitle(text(100));
    Label1->setText(text(140));
    Label2->setText(text(141));
    Finish->setText(text(139));
    callSetFromFont();
}

}  // namespace upd::wizard
