#include "wizard/frm_update4.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "app/design_fonts.h"
#include "app/twips.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "controls/small_bar.h"
#include "wizard/artwork.h"
#include "wizard/wizard.h"

namespace upd::wizard {

frmUpdate4::frmUpdate4(Wizard& wizard) : Page(wizard, PageId::FileDownload) {
    setTitleSize(3645, 240);
    trelImageList1 = new controls::ImageList(this);
    trelImageList1->setObjectName("trelImageList1");
    trelImageList1->add(artwork::icon(QStringLiteral("file")));
    trelImageList1->add(artwork::icon(QStringLiteral("package")));

    Frame1 = addFrame(3495);
    trelListViewCtl1 = new controls::ListControl(Frame1);
    trelListViewCtl1->setObjectName("trelListViewCtl1");
    trelListViewCtl1->setGeometry(app::twipsRect(240, 240, 4455, 2055));
    trelListViewCtl1->setFullRowSelect(true);
    trelListViewCtl1->setFont(app::simSun9Font());
    Label2 = addLabel(Frame1, "Label2", 240, 2400, 4455, 180);
    const int labelPlaces[4][2] = {{240, 2640}, {2400, 2640}, {240, 2880}, {2400, 2880}};
    for (std::size_t i = 0; i < Label4.size(); ++i) {
        const std::string name = "Label4_" + std::to_string(i);
        Label4[i] = addLabel(Frame1, name.c_str(), labelPlaces[i][0], labelPlaces[i][1], 2040, 180);
    }
    SmallBar1 = new controls::SmallBar(Frame1);
    SmallBar1->setObjectName("SmallBar1");
    SmallBar1->setGeometry(app::twipsRect(240, 3120, 4455, 255));
    Label3[0] = addLabel(this, "Label3_0", 2280, 4680, 4320, 180);

    Back_Button = addButton("Back_Button", 2640);
    Next_Button = addButton("Next_Button", 3960);
    Next_Button->setEnabled(false);
    Cancel = addButton("Cancel", 5400);
    setEscapeButton(Cancel);

    connect(Back_Button, &QPushButton::clicked, this, [this] { Back_Button_Click(); });
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
}

void frmUpdate4::Form_Load() {
    setWindowTitle(text(100));
    Next_Button->setText(text(106));
    Cancel->setText(text(107));
    Back_Button->setText(text(113));
    Label1->setText(text(130));
    Frame1->setTitle(text(130));
    Label2->setText(text(131));
    for (std::size_t i = 0; i < Label4.size(); ++i) {
        Label4[i]->setText(text(132 + static_cast<int>(i)) + text(136));
    }
    Label3[0]->setText(text(138));
    callSetFromFont();
}

void frmUpdate4::Back_Button_Click() {
    if (!wizard().confirm(137)) {
        return;
    }
    wizard().state().StartPending = false;
    wizard().navigate(PageId::FileDownload, PageId::Server);
}

}  // namespace upd::wizard
