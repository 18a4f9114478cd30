// SetFromFont on real pages: the locale's face where it is installed, design fonts
// everywhere else, sizes and weights always kept.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "app/frm_update.h"
#include "app/set_from_font.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/frm_update1.h"
#include "wizard/picture_box.h"
#include "wizard/wizard.h"

namespace upd::app {
namespace {

using wizard::PageId;

class SetFromFontOnPages : public ::testing::Test {
  protected:
    void start(platform::LangId locale) {
        m_wizard = std::make_unique<wizard::Wizard>(
            wizard::WizardEnvironment{m_dir.path(), locale, locale}, m_boxes, m_process);
        registerWizardPages(*m_wizard);
        startWizard(*m_wizard);
        m_server = m_wizard->pageAs<wizard::frmUpdate1>(PageId::Server);
    }
    ~SetFromFontOnPages() override {
        m_wizard.reset();
        test::flushDeletions();
    }

    static bool onlySimSun(std::string_view face) { return face == "宋体"; }

    test::TempDir m_dir;
    test::ScriptedMessageBoxes m_boxes;
    test::RecordingProcessExit m_process;
    std::unique_ptr<wizard::Wizard> m_wizard;
    wizard::frmUpdate1* m_server = nullptr;
};

TEST_F(SetFromFontOnPages, AnInstalledFaceReachesEveryControlThatShowsText) {
    start(2052);
    SetFromFont(*m_server, 2052, onlySimSun);
    const QWidget* controls[] = {m_server->Label1,      m_server->Label2[0],
                                 m_server->Label2[1],   m_server->Text1,
                                 m_server->Check1,      m_server->Proxy_Button,
                                 m_server->Next_Button, m_server->trelListViewCtl1->view()};
    for (const QWidget* control : controls) {
        EXPECT_EQ(control->font().families(), QStringList{"宋体"})
            << control->objectName().toStdString();
    }
    // Sizes and weights stay as designed.
    EXPECT_EQ(m_server->Label1->font().pointSize(), 12);
    EXPECT_TRUE(m_server->Label1->font().bold());
    EXPECT_EQ(m_server->trelListViewCtl1->view()->font().pointSize(), 9);
    EXPECT_EQ(m_server->Check1->font().pointSize(), 8);
    // Pictures and lines have no font of their own to change.
    EXPECT_FALSE(m_server->Picture1->testAttribute(Qt::WA_SetFont));
    EXPECT_FALSE(m_server->Line1[0]->testAttribute(Qt::WA_SetFont));
}

TEST_F(SetFromFontOnPages, TheFaceOfAnotherLocaleChangesNothing) {
    start(1033);
    const QFont before = m_server->Label2[0]->font();
    SetFromFont(*m_server, 1028, onlySimSun);
    SetFromFont(*m_server, 1033, onlySimSun);
    EXPECT_EQ(m_server->Label2[0]->font(), before);
}

TEST_F(SetFromFontOnPages, AMissingFaceKeepsTheDesignFonts) {
    start(2052);
    const QFont title = m_server->Label1->font();
    const QFont text = m_server->Check1->font();
    SetFromFont(*m_server, 2052, [](std::string_view) { return false; });
    EXPECT_EQ(m_server->Label1->font(), title);
    EXPECT_EQ(m_server->Check1->font(), text);
}

TEST_F(SetFromFontOnPages, PagesAskTheFontDatabase) {
    start(2052);
    const auto* welcome = m_wizard->pageAs<frmUpdate>(PageId::Welcome);
    const bool simSunHere = isFontInstalled("宋体");
    EXPECT_EQ(welcome->Label3->font().families() == QStringList{"宋体"}, simSunHere);
    EXPECT_EQ(welcome->Label1->font().pointSize(), 12);
    EXPECT_EQ(welcome->Label1->font().families().contains("宋体"), simSunHere);
}

}  // namespace
}  // namespace upd::app
