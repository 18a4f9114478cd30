// SetFromFont on real pages: the locale's face where it is installed, sizes and weights
// always kept. Which locale gets which face, and none, is font_choice_test's.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <map>

#include "app/frm_update.h"
#include "app/set_from_font.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/frm_update1.h"
#include "wizard/picture_box.h"
#include "wizard/wizard.h"

namespace upd::app {
namespace {

using wizard::PageId;

class SetFromFontOnPages : public test::WizardTest {};

TEST_F(SetFromFontOnPages, AnInstalledFaceReachesEveryControlThatShowsText) {
    start(2052, 2052);
    auto* server = m_wizard->pageAs<wizard::frmUpdate1>(PageId::Server);
    const QWidget* controls[] = {server->Label1,      server->Label2[0],
                                 server->Label2[1],   server->Text1,
                                 server->Check1,      server->Proxy_Button,
                                 server->Next_Button, server->trelListViewCtl1->view()};
    std::map<const QWidget*, QFont> design;
    for (const QWidget* control : controls) {
        design[control] = control->font();
    }
    SetFromFont(*server, 2052, [](std::string_view face) { return face == "宋体"; });
    for (const QWidget* control : controls) {
        EXPECT_EQ(control->font().families(), QStringList{"宋体"})
            << control->objectName().toStdString();
        EXPECT_EQ(control->font().pointSize(), design[control].pointSize());
        EXPECT_EQ(control->font().bold(), design[control].bold());
    }
    // Pictures and lines have no font of their own to change.
    EXPECT_FALSE(server->Picture1->testAttribute(Qt::WA_SetFont));
    EXPECT_FALSE(server->Line1[0]->testAttribute(Qt::WA_SetFont));
}

TEST_F(SetFromFontOnPages, PagesAskTheFontDatabase) {
    start(2052, 2052);
    const auto* welcome = m_wizard->pageAs<frmUpdate>(PageId::Welcome);
    const bool simSunHere = isFontInstalled("宋体");
    EXPECT_EQ(welcome->Label3->font().families() == QStringList{"宋体"}, simSunHere);
    EXPECT_EQ(welcome->Label1->font().families().contains("宋体"), simSunHere);
}

}  // namespace
}  // namespace upd::app
