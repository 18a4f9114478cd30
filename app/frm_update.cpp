#include "app/frm_update.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "app/design_fonts.h"
#include "app/server_list.h"
#include "wizard/frm_update1.h"
#include "wizard/wizard.h"

namespace upd::app {

using wizard::PageId;

frmUpdate::frmUpdate(wizard::Wizard& wizard) : Page(wizard, PageId::Welcome) {
    setTitleSize(945, 240);
    Frame1 = addFrame(3495);
    Welcometext = addLabel(Frame1, "Welcometext", 360, 480, 2280, 195);
    Welcometext->setFont(systemBoldFont());
    Label2 = addLabel(Frame1, "Label2", 360, 1320, 3870, 1440);
    Label2->setWordWrap(true);
    Label3 = addLabel(this, "Label3", 2280, 4680, 3150, 180);

    Auto = addButton("Auto", 2400);
    Auto->setVisible(false);
    Next_Button = addButton("Next_Button", 3840);
    Cancel = addButton("Cancel", 5280);
    setEscapeButton(Cancel);

    connect(Next_Button, &QPushButton::clicked, this, [this] { Next_Button_Click(); });
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
}

void frmUpdate::Form_Load() {
    const std::string folder = wizard().environment().appFolder;

    // The server page loads first, hidden: its own Form_Load runs before any row exists.
    auto* servers = wizard().pageAs<wizard::frmUpdate1>(PageId::Server);

    wizard::SharedState& state = wizard().state();
    state.LangID = wizard().environment().systemLanguage;

    // Only the records whose language tag is that of LangID ("CHS" for 2052, "EN" for
    // every other language); InfoFile from the last line whatever its language. A missing
    // or unreadable file leaves both lists and InfoFile empty.
    const ServerList list = loadServerList(folder + "update.svr", state.LangID);
    if (servers != nullptr) {
        for (const ServerEntry& server : list.servers) {
            servers->addServer(QString::fromStdString(server.name),
                               QString::fromStdString(server.address));
        }
    }
    state.InfoFile = list.infoFile;

    setWindowTitle(text(100));
    Label1->setText(text(101));
    Frame1->setTitle(text(101));
    Welcometext->setText(text(102));
    Label2->setText(text(103));
    Label3->setText(text(104));
    Auto->setText(text(105));
    Next_Button->setText(text(106));
    Cancel->setText(text(107));
    callSetFromFont();
}

void frmUpdate::Next_Button_Click() {
    wizard().navigate(PageId::Welcome, PageId::Server);
}

QWidget* frmUpdate::defaultFocus() const {
    return Next_Button;
}

}  // namespace upd::app
