// The server page frmUpdate1: its controls as designed, choosing a server, and what it
// keeps when the user moves away and back.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>

#include "app/frm_proxy.h"
#include "app/server_list.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "tests/support/locale_guard.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/frm_update1.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace upd::wizard {
namespace {

using enum PageId;

std::string serverLine(std::string_view name, std::string_view address, std::string_view tag) {
    return app::encodeServerLine(name, address, "info/update.ini", tag, 1252) + "\r\n";
}

class ServerPage : public ::testing::Test {
  protected:
    ServerPage() {
        m_dir.write("update.svr", serverLine("First", "http://one.example/", "EN") +
                                      serverLine("Other language", "http://x.example/", "CHS") +
                                      serverLine("Second", "http://two.example/", "EN") +
                                      serverLine("Third", "http://three.example/", "EN"));
        m_wizard = std::make_unique<Wizard>(WizardEnvironment{m_dir.path(), 1033, 1033}, m_boxes,
                                            m_process);
        test::registerPagesWithStandIns(*m_wizard, m_log);
        app::startWizard(*m_wizard);
        m_page = m_wizard->pageAs<frmUpdate1>(Server);
    }
    ~ServerPage() override {
        m_wizard.reset();
        test::flushDeletions();
    }

    void show() { ASSERT_TRUE(m_wizard->navigate(Welcome, Server)); }

    void clickRow(int row) {
        QTreeWidget* view = m_page->trelListViewCtl1->view();
        QTreeWidgetItem* item = view->topLevelItem(row - 1);
        ASSERT_NE(item, nullptr) << row;
        // Beside the text, in the empty part of the row: full-row selection takes it.
        const QRect rect = view->visualItemRect(item);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    }

    test::LocaleGuard m_locale{"en_US.UTF-8"};
    test::TempDir m_dir;
    test::ScriptedMessageBoxes m_boxes;
    test::RecordingProcessExit m_process;
    test::PageLog m_log;
    std::unique_ptr<Wizard> m_wizard;
    frmUpdate1* m_page = nullptr;
};

TEST_F(ServerPage, StartsWithNoServerChosen) {
    show();
    EXPECT_TRUE(m_page->Text1->text().isEmpty());
    EXPECT_TRUE(m_page->Text1->isReadOnly());
    EXPECT_FALSE(m_page->Next_Button->isEnabled());
    EXPECT_TRUE(m_page->Back_Button->isEnabled());
    EXPECT_TRUE(m_page->Check1->isChecked());
    EXPECT_EQ(m_page->trelListViewCtl1->selectedRow(), 0);
    EXPECT_FALSE(m_page->Auto->isVisible());
    EXPECT_FALSE(m_page->List1->isVisible());
}

TEST_F(ServerPage, HasItsTextsAndItsOneColumn) {
    show();
    EXPECT_EQ(m_page->windowTitle(), "Update");
    EXPECT_EQ(m_page->Label1->text(), "Choose the server");
    EXPECT_EQ(m_page->Label2[1]->text(), "Address:");
    EXPECT_EQ(m_page->Check1->text(), "Resume broken downloads");
    EXPECT_EQ(m_page->Label2[0]->text(), "Click \"Next\" and obtain the update file list.");
    EXPECT_EQ(m_page->Auto->text(), "&Auto update");
    EXPECT_EQ(m_page->Back_Button->text(), "&Back");
    EXPECT_EQ(m_page->Next_Button->text(), "&Next");
    EXPECT_EQ(m_page->Cancel->text(), "&Cancel");
    EXPECT_EQ(m_page->Proxy_Button->text(), "Proxy");

    const controls::ListControl& list = *m_page->trelListViewCtl1;
    ASSERT_EQ(list.columnCount(), 1);
    EXPECT_EQ(list.model().column(1).key, "Server");
    EXPECT_EQ(list.model().column(1).caption, "Server");
    EXPECT_EQ(list.model().column(1).widthTwips, 4800);
    EXPECT_TRUE(list.fullRowSelect());
    EXPECT_EQ(list.imageList(), m_page->trelImageList1);
    EXPECT_FALSE(list.view()->header()->sectionsClickable());
    EXPECT_EQ(list.view()->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(ServerPage, ControlsSitWhereTheyWereDesigned) {
    show();
    EXPECT_EQ(m_page->trelListViewCtl1->geometry(), QRect(136, 64, 329, 169));
    EXPECT_EQ(m_page->Label2[1]->pos(), QPoint(136, 248));
    EXPECT_EQ(m_page->Text1->geometry(), QRect(192, 247, 273, 18));
    EXPECT_EQ(m_page->Check1->geometry(), QRect(136, 280, 177, 17));
    EXPECT_EQ(m_page->Proxy_Button->geometry(), QRect(376, 280, 81, 21));
    EXPECT_EQ(m_page->Label2[0]->pos(), QPoint(136, 312));
    EXPECT_EQ(m_page->Back_Button->geometry(), QRect(192, 352, 81, 21));
    EXPECT_EQ(m_page->Next_Button->geometry(), QRect(280, 352, 81, 21));
    EXPECT_EQ(m_page->Cancel->geometry(), QRect(376, 352, 81, 21));
    EXPECT_EQ(m_page->Auto->geometry(), QRect(96, 352, 81, 21));
    EXPECT_EQ(m_page->Label1->font().pointSize(), 12);
    EXPECT_EQ(m_page->trelListViewCtl1->font().pointSize(), 9);
}

TEST_F(ServerPage, RowsAndAddressesStayInStep) {
    const controls::ListControl& list = *m_page->trelListViewCtl1;
    ASSERT_EQ(list.rowCount(), 3);
    ASSERT_EQ(m_page->List1->count(), 3);
    const char* names[] = {"First", "Second", "Third"};
    const char* addresses[] = {"http://one.example/", "http://two.example/",
                               "http://three.example/"};
    for (int row = 1; row <= 3; ++row) {
        EXPECT_EQ(list.rowText(row), names[row - 1]);
        EXPECT_EQ(list.icon(row), 0);
        EXPECT_EQ(m_page->List1->item(row - 1)->text(), addresses[row - 1]);
    }
}

TEST_F(ServerPage, ClickingARowChoosesItsServerAndEnablesNextForGood) {
    show();
    clickRow(2);
    EXPECT_EQ(m_page->Text1->text(), "http://two.example/");
    EXPECT_TRUE(m_page->Next_Button->isEnabled());
    EXPECT_EQ(m_page->trelListViewCtl1->selectedRow(), 2);

    clickRow(3);
    EXPECT_EQ(m_page->Text1->text(), "http://three.example/");
    clickRow(3);
    EXPECT_EQ(m_page->Text1->text(), "http://three.example/");
    clickRow(1);
    EXPECT_EQ(m_page->Text1->text(), "http://one.example/");
    EXPECT_TRUE(m_page->Next_Button->isEnabled());
}

TEST_F(ServerPage, BackToTheWelcomePageAndForwardKeepsEverything) {
    show();
    m_wizard->window().move(50, 60);
    clickRow(2);
    QTest::mouseClick(m_page->Check1, Qt::LeftButton);
    ASSERT_FALSE(m_page->Check1->isChecked());

    QTest::mouseClick(m_page->Back_Button, Qt::LeftButton);
    EXPECT_EQ(m_wizard->visiblePage(), Welcome);
    EXPECT_EQ(m_wizard->window().pos(), QPoint(50, 60));
    EXPECT_TRUE(m_wizard->isLoaded(Server));
    ASSERT_EQ(m_wizard->pageAs<frmUpdate1>(Server), m_page);  // hidden, not unloaded

    ASSERT_TRUE(m_wizard->navigate(Welcome, Server));
    EXPECT_EQ(m_wizard->window().pos(), QPoint(50, 60));
    EXPECT_EQ(m_page->Text1->text(), "http://two.example/");
    EXPECT_TRUE(m_page->Next_Button->isEnabled());
    EXPECT_FALSE(m_page->Check1->isChecked());
    EXPECT_EQ(m_page->trelListViewCtl1->selectedRow(), 2);
    EXPECT_EQ(m_page->trelListViewCtl1->rowCount(), 3);
}

TEST_F(ServerPage, BackFromTheLaterPagesShowsTheChosenServer) {
    show();
    clickRow(3);
    QTest::mouseClick(m_page->Next_Button, Qt::LeftButton);
    EXPECT_EQ(m_wizard->visiblePage(), InfoDownload);
    ASSERT_TRUE(m_wizard->navigate(InfoDownload, Analysis));
    ASSERT_TRUE(m_wizard->navigate(Analysis, Server));
    EXPECT_EQ(m_wizard->visiblePage(), Server);
    EXPECT_EQ(m_page->Text1->text(), "http://three.example/");
    EXPECT_TRUE(m_page->Next_Button->isEnabled());
}

TEST_F(ServerPage, CancellingTheProxyDialogChangesNothing) {
    show();
    clickRow(1);
    bool sawDialog = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        sawDialog = modal != nullptr && modal == &m_wizard->proxyDialog();
        if (modal != nullptr) {
            QTest::keyClick(modal, Qt::Key_Escape);
        }
    });
    QTest::mouseClick(m_page->Proxy_Button, Qt::LeftButton);
    EXPECT_TRUE(sawDialog);
    EXPECT_FALSE(m_wizard->isProxyDialogLoaded());
    EXPECT_EQ(m_wizard->visiblePage(), Server);
    EXPECT_EQ(m_page->Text1->text(), "http://one.example/");
    EXPECT_TRUE(m_page->Next_Button->isEnabled());
    EXPECT_TRUE(m_boxes.shown.empty());
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("proxy.ini")));
}

TEST_F(ServerPage, ANameTheListRefusesAddsNeitherRowNorAddress) {
    EXPECT_FALSE(m_page->addServer("Second", "http://duplicate.example/"));
    EXPECT_FALSE(m_page->addServer("12", "http://numeric.example/"));
    EXPECT_TRUE(m_page->addServer("Fourth", "http://four.example/"));
    EXPECT_EQ(m_page->trelListViewCtl1->rowCount(), 4);
    ASSERT_EQ(m_page->List1->count(), 4);
    show();
    clickRow(4);
    EXPECT_EQ(m_page->Text1->text(), "http://four.example/");
}

}  // namespace
}  // namespace upd::wizard
