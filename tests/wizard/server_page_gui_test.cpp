// The server page frmUpdate1: choosing a server, the proxy dialog over it, and what it keeps
// when the user moves away and back.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/frm_proxy.h"
#include "controls/list_control.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/frm_update1.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace upd::wizard {
namespace {

using enum PageId;

class ServerPage : public test::WizardTest {
  protected:
    void SetUp() override {
        // The record of the other language must not put rows and addresses out of step.
        m_dir.write("update.svr", test::serverRecord("First", "http://one.example/", "EN") +
                                      test::serverRecord("其他", "http://x.example/", "CHS") +
                                      test::serverRecord("Second", "http://two.example/", "EN") +
                                      test::serverRecord("Third", "http://three.example/", "EN"));
        start();
        m_page = m_wizard->pageAs<frmUpdate1>(Server);
    }

    void clickRow(int row) {
        QTreeWidget* view = m_page->trelListViewCtl1->view();
        QTreeWidgetItem* item = view->topLevelItem(row - 1);
        ASSERT_NE(item, nullptr) << row;
        // Beside the text, in the empty part of the row: full-row selection takes it.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualItemRect(item).center());
    }

    frmUpdate1* m_page = nullptr;
};

// The list takes the focus with no row looking chosen, Next disabled; an arrow picks row 1.
TEST_F(ServerPage, NoRowIsCurrentUntilTheUserPicksOne) {
    goTo(Server);
    m_wizard->window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_wizard->window()));
    QTreeWidget* view = m_page->trelListViewCtl1->view();
    ASSERT_EQ(m_wizard->window().focusWidget(), view);
    EXPECT_EQ(m_page->trelListViewCtl1->currentRow(), 0);
    EXPECT_FALSE(m_page->Next_Button->isEnabled());
    QTest::keyClick(view, Qt::Key_Down);
    EXPECT_EQ(m_page->trelListViewCtl1->selectedRow(), 1);
}

// Page 1 is never unloaded: back from page 0 (from the later pages: WizardBack), it is as it
// was left.
TEST_F(ServerPage, KeepsTheChosenServerWhereverTheUserGoes) {
    goTo(Server);
    clickRow(2);
    QTest::mouseClick(m_page->Check1, Qt::LeftButton);
    ASSERT_FALSE(m_page->Check1->isChecked());
    QTest::mouseClick(m_page->Back_Button, Qt::LeftButton);
    EXPECT_EQ(m_wizard->visiblePage(), Welcome);
    ASSERT_TRUE(m_wizard->navigate(Welcome, Server));
    EXPECT_EQ(m_wizard->pageAs<frmUpdate1>(Server), m_page);
    EXPECT_EQ(m_page->Text1->text(), "http://two.example/");
    EXPECT_TRUE(m_page->Next_Button->isEnabled());
    EXPECT_FALSE(m_page->Check1->isChecked());
    EXPECT_EQ(m_page->trelListViewCtl1->selectedRow(), 2);
    EXPECT_EQ(m_page->trelListViewCtl1->rowCount(), 3);
    QTest::mouseClick(m_page->Next_Button, Qt::LeftButton);
    EXPECT_EQ(m_wizard->visiblePage(), InfoDownload);
}

// The dialog was already loaded hidden (a download page read it). What is typed and then
// cancelled never reaches the settings in force nor the file; what is saved with OK does.
TEST_F(ServerPage, TheProxyDialogChangesTheSettingsOnlyWithOk) {
    const std::string stored = "[Proxy]\r\nType=1\r\nServer=http.example\r\nPort=3128\r\n";
    m_dir.write("proxy.ini", stored);
    ASSERT_EQ(m_wizard->proxySettingsInForce("http://one.example/").type, 1);
    goTo(Server);
    clickRow(1);
    const auto editAndPress = [this](Qt::Key key) {
        bool modal = false;
        QTimer::singleShot(0, [&] {
            app::frmProxy& dialog = m_wizard->proxyDialog();
            modal = QApplication::activeModalWidget() == &dialog;
            dialog.cmbProxyServer->setCurrentIndex(3);
            dialog.txtProxy->setText("socks5.example");
            dialog.txtProxyPort->setText("1081");
            QTest::keyClick(dialog.txtProxy, key);
        });
        QTest::mouseClick(m_page->Proxy_Button, Qt::LeftButton);
        EXPECT_TRUE(modal);
        EXPECT_FALSE(m_wizard->isProxyDialogLoaded());
        EXPECT_EQ(m_wizard->visiblePage(), Server);
        EXPECT_EQ(m_page->Text1->text(), "http://one.example/");
    };
    editAndPress(Qt::Key_Escape);
    EXPECT_EQ(test::readFile(m_dir.file("proxy.ini")), stored);
    EXPECT_EQ(m_wizard->proxySettingsInForce("http://one.example/"),
              (app::ProxyConnection{.type = 1, .hostname = "http.example", .port = 3128}));
    editAndPress(Qt::Key_Return);
    EXPECT_EQ(m_wizard->proxySettingsInForce("http://one.example/"),
              (app::ProxyConnection{.type = 3, .hostname = "socks5.example", .port = 1081}));
}

TEST_F(ServerPage, ANameTheListRefusesAddsNeitherRowNorAddress) {
    EXPECT_FALSE(m_page->addServer("Second", "http://duplicate.example/"));
    EXPECT_FALSE(m_page->addServer("12", "http://numeric.example/"));
    EXPECT_TRUE(m_page->addServer("Fourth", "http://four.example/"));
    goTo(Server);
    clickRow(4);
    EXPECT_EQ(m_page->Text1->text(), "http://four.example/");
}

}  // namespace
}  // namespace upd::wizard
