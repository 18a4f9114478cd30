#include "wizard/frm_update1.h"

#include "app/frm_proxy.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>

#include "app/design_fonts.h"
#include "app/twips.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "wizard/artwork.h"
#include "wizard/wizard.h"

namespace upd::wizard {

frmUpdate1::frmUpdate1(Wizard& wizard) : Page(wizard, PageId::Server) {
    setTitleSize(2295, 240);

    trelImageList1 = new controls::ImageList(this);
    trelImageList1->setObjectName("trelImageList1");
    trelImageList1->add(artwork::serverIcon());

    trelListViewCtl1 = new controls::ListControl(this);
    trelListViewCtl1->setObjectName("trelListViewCtl1");
    trelListViewCtl1->setGeometry(app::twipsRect(2040, 960, 4935, 2535));
    trelListViewCtl1->setFullRowSelect(true);
    trelListViewCtl1->setFont(app::simSun9Font());
    // The chosen row stays marked when the list loses the focus.
    QPalette palette = trelListViewCtl1->view()->palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    }
    trelListViewCtl1->view()->setPalette(palette);

    Label2[1] = addLabel(this, "Label2_1", 2040, 3720, 720, 180);
    Text1 = new QLineEdit(this);
    Text1->setObjectName("Text1");
    Text1->setGeometry(app::twipsRect(2880, 3705, 4095, 270));
    Text1->setReadOnly(true);
    QPalette face = Text1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    Text1->setPalette(face);

    Check1 = new QCheckBox(this);
    Check1->setObjectName("Check1");
    Check1->setGeometry(app::twipsRect(2040, 4200, 2655, 255));
    Check1->setChecked(true);
    Proxy_Button = new QPushButton(this);
    Proxy_Button->setObjectName("Proxy_Button");
    Proxy_Button->setGeometry(app::twipsRect(5640, 4200, 1215, 315));
    Proxy_Button->setAutoDefault(true);
    Label2[0] = addLabel(this, "Label2_0", 2040, 4680, 4050, 180);

    Auto = addButton("Auto", 1440);
    Auto->setVisible(false);
    Back_Button = addButton("Back_Button", 2880);
    Next_Button = addButton("Next_Button", 4200);
    Next_Button->setEnabled(false);
    Cancel = addButton("Cancel", 5640);
    setEscapeButton(Cancel);

    List1 = new QListWidget(this);
    List1->setObjectName("List1");
    List1->setGeometry(app::twipsRect(360, 5520, 615, 240));
    List1->setVisible(false);

    connect(trelListViewCtl1, &controls::ListControl::itemClick, this,
            [this](int row) { trelListViewCtl1_ItemClick(row); });
    connect(Proxy_Button, &QPushButton::clicked, this, [this] { Proxy_Button_Click(); });
    connect(Back_Button, &QPushButton::clicked, this, [this] { Back_Button_Click(); });
    connect(Next_Button, &QPushButton::clicked, this, [this] { Next_Button_Click(); });
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
}

void frmUpdate1::Form_Load() {
    setWindowTitle(text(100));
    Label1->setText(text(108));
    m_columnHeader = text(109);
    // Alt keys beside B, N, C and A: the check box's Chinese text has P, so Proxy takes X.
    Label2[1]->setText(textWithMnemonic(110, 'D'));
    Label2[1]->setBuddy(Text1);
    Check1->setText(textWithMnemonic(111, 'R'));
    Label2[0]->setText(text(112));
    Auto->setText(text(105));
    Next_Button->setText(text(106));
    Cancel->setText(text(107));
    Back_Button->setText(text(113));
    Proxy_Button->setText(textWithMnemonic(144, 'X'));
    trelListViewCtl1->setAccessibleName(m_columnHeader);

    trelListViewCtl1->setImageList(trelImageList1);
    // A new list holds no column yet, so the one column is never refused.
    static_cast<void>(trelListViewCtl1->addColumn(m_columnHeader, m_columnHeader, 4800));
    callSetFromFont();
}

bool frmUpdate1::addServer(const QString& name, const QString& address) {
    if (trelListViewCtl1->addRow(name, 0) != controls::ListError::None) {
        return false;
    }
    List1->addItem(address);
    return true;
}

void frmUpdate1::trelListViewCtl1_ItemClick(int row) {
    m_chosenRow = row;
    const QListWidgetItem* entry = List1->item(row - 1);
    Text1->setText(entry != nullptr ? entry->text() : QString());
    Next_Button->setEnabled(true);
}

void frmUpdate1::Proxy_Button_Click() {
    // Without a saved choice the dialog shows the system's proxy for this server's scheme.
    wizard().proxyDialog().setServerUrl(chosenAddress());
    wizard().showProxyDialog();
}

void frmUpdate1::Next_Button_Click() {
    wizard().navigate(PageId::Server, PageId::InfoDownload);
}

void frmUpdate1::Back_Button_Click() {
    wizard().navigate(PageId::Server, PageId::Welcome);
}

std::string frmUpdate1::chosenName() const {
    return m_chosenRow > 0 ? trelListViewCtl1->rowText(m_chosenRow).toStdString() : std::string();
}

void frmUpdate1::chooseNextServer() {
    const int rows = trelListViewCtl1->rowCount();
    if (rows > 0) {
        trelListViewCtl1_ItemClick(m_chosenRow % rows + 1);
    }
}

std::string frmUpdate1::chosenAddress() const {
    return Text1->text().toStdString();
}

QWidget* frmUpdate1::defaultFocus() const {
    return trelListViewCtl1;
}

}  // namespace upd::wizard
