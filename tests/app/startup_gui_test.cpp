// Start-up: the welcome page loads the server page hidden, keeps the servers of the
// system's language from update.svr in file order, records LangID and InfoFile, and shows
// itself with the texts of the user's language.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "app/frm_update.h"
#include "app/server_list.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "tests/support/locale_guard.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/frm_update1.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace upd::app {
namespace {

using wizard::PageId;

// A record in the code page of its language, as the vendor's tool writes them.
std::string line(std::string_view name, std::string_view address, std::string_view info,
                 std::string_view tag) {
    return encodeServerLine(name, address, info, tag, tag == "CHS" ? 936 : 1252) + "\r\n";
}

// Both languages mixed, with records that match neither.
std::string mixedServerFile() {
    return line("Alpha", "http://a.example/", "first.ini", "EN") +
           line("甲服务器", "http://jia.example/", "first.ini", "CHS") +
           line("Beta", "http://b.example/", "first.ini", "EN") + "!!! not a record !!!\r\n" +
           line("乙服务器", "http://yi.example/", "first.ini", "CHS") +
           line("Lower case", "http://lower.example/", "first.ini", "en") +
           line("Trailing blank", "http://blank.example/", "first.ini", "EN ") +
           line("丙服务器", "http://bing.example/", "first.ini", "CHS") +
           line("Delta", "http://d.example/", "update/last.ini", "EN");
}

class StartUp : public ::testing::Test {
  protected:
    ~StartUp() override {
        m_wizard.reset();
        test::flushDeletions();
    }

    void start(wizard::WizardEnvironment environment) {
        environment.appFolder = m_dir.path();
        m_wizard = std::make_unique<wizard::Wizard>(environment, m_boxes, m_process);
        registerWizardPages(*m_wizard);
        startWizard(*m_wizard);
        m_welcome = m_wizard->pageAs<frmUpdate>(PageId::Welcome);
        m_server = m_wizard->pageAs<wizard::frmUpdate1>(PageId::Server);
    }

    QStringList rows() const {
        QStringList texts;
        for (int row = 1; row <= m_server->trelListViewCtl1->rowCount(); ++row) {
            texts << m_server->trelListViewCtl1->rowText(row);
        }
        return texts;
    }

    void clickRow(int row) {
        QTreeWidget* view = m_server->trelListViewCtl1->view();
        QTreeWidgetItem* item = view->topLevelItem(row - 1);
        ASSERT_NE(item, nullptr) << row;
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualItemRect(item).center());
    }

    test::TempDir m_dir;
    test::ScriptedMessageBoxes m_boxes;
    test::RecordingProcessExit m_process;
    std::unique_ptr<wizard::Wizard> m_wizard;
    frmUpdate* m_welcome = nullptr;
    wizard::frmUpdate1* m_server = nullptr;
};

TEST_F(StartUp, EnglishSystemGetsTheEnglishServersInFileOrder) {
    m_dir.write("update.svr", mixedServerFile());
    start({.systemLanguage = 1033, .userLocale = 1033});
    EXPECT_EQ(rows(), (QStringList{"Alpha", "Beta", "Delta"}));
    ASSERT_EQ(m_server->List1->count(), 3);
    EXPECT_EQ(m_server->List1->item(0)->text(), "http://a.example/");
    EXPECT_EQ(m_server->List1->item(1)->text(), "http://b.example/");
    EXPECT_EQ(m_server->List1->item(2)->text(), "http://d.example/");
    EXPECT_EQ(m_wizard->state().LangID, 1033);
    EXPECT_EQ(m_wizard->state().InfoFile, "update/last.ini");
    EXPECT_FALSE(m_wizard->state().StartPending);
}

TEST_F(StartUp, SimplifiedChineseSystemGetsTheChineseServers) {
    m_dir.write("update.svr", mixedServerFile());
    start({.systemLanguage = 2052, .userLocale = 2052});
    EXPECT_EQ(rows(), (QStringList{"甲服务器", "乙服务器", "丙服务器"}));
    EXPECT_EQ(m_server->List1->item(2)->text(), "http://bing.example/");
    EXPECT_EQ(m_wizard->state().LangID, 2052);
    EXPECT_EQ(m_wizard->state().InfoFile, "update/last.ini");
}

TEST_F(StartUp, TraditionalChineseSystemGetsTheEnglishServers) {
    m_dir.write("update.svr", mixedServerFile());
    start({.systemLanguage = 1028, .userLocale = 1028});
    EXPECT_EQ(rows(), (QStringList{"Alpha", "Beta", "Delta"}));
    EXPECT_EQ(m_welcome->Label1->text(), "Welcome");
}

TEST_F(StartUp, AFileOfTheOtherLanguageOnlyStillGivesTheInfoFile) {
    m_dir.write("update.svr", line("甲服务器", "http://jia.example/", "zh/update.ini", "CHS"));
    start({.systemLanguage = 1033, .userLocale = 1033});
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_EQ(m_wizard->state().InfoFile, "zh/update.ini");
}

TEST_F(StartUp, WithoutUpdateSvrTheServerListStaysEmpty) {
    start({.systemLanguage = 1033, .userLocale = 1033});
    EXPECT_EQ(m_wizard->visiblePage(), PageId::Welcome);
    EXPECT_TRUE(m_wizard->window().isVisible());
    EXPECT_EQ(m_server->trelListViewCtl1->rowCount(), 0);
    EXPECT_EQ(m_server->List1->count(), 0);
    EXPECT_TRUE(m_wizard->state().InfoFile.empty());
    EXPECT_TRUE(m_boxes.shown.empty());

    // Nothing to click: Next stays disabled; Back still works.
    ASSERT_TRUE(m_wizard->navigate(PageId::Welcome, PageId::Server));
    EXPECT_FALSE(m_server->Next_Button->isEnabled());
    QTest::mouseClick(m_server->Back_Button, Qt::LeftButton);
    EXPECT_EQ(m_wizard->visiblePage(), PageId::Welcome);
}

TEST_F(StartUp, TheServerPageIsLoadedBeforeAnyRowAndStaysHidden) {
    m_dir.write("update.svr", mixedServerFile());
    start({.systemLanguage = 1033, .userLocale = 1033});
    EXPECT_FALSE(m_server->isVisible());
    EXPECT_EQ(m_server->trelListViewCtl1->columnCount(), 1);
    EXPECT_EQ(m_server->trelListViewCtl1->view()->headerItem()->text(0), "Server");
}

TEST_F(StartUp, TheWelcomePageInEnglish) {
    start({.systemLanguage = 1033, .userLocale = 1033});
    EXPECT_EQ(m_wizard->window().windowTitle(), "Update");
    EXPECT_EQ(m_welcome->Label1->text(), "Welcome");
    EXPECT_EQ(m_welcome->Frame1->title(), "Welcome");
    EXPECT_EQ(m_welcome->Welcometext->text(), "Welcome use update!");
    EXPECT_TRUE(m_welcome->Label2->text().startsWith("The steps for updating"));
    EXPECT_TRUE(m_welcome->Label2->wordWrap());
    EXPECT_EQ(m_welcome->Label3->text(), "Click \"Next\" and choose the server.");
    EXPECT_EQ(m_welcome->Next_Button->text(), "&Next");
    EXPECT_EQ(m_welcome->Cancel->text(), "&Cancel");
    EXPECT_EQ(m_welcome->Auto->text(), "&Auto update");
    EXPECT_FALSE(m_welcome->Auto->isVisible());
    EXPECT_TRUE(m_welcome->Welcometext->font().bold());
}

TEST_F(StartUp, TheWelcomePageInSimplifiedChinese) {
    start({.systemLanguage = 2052, .userLocale = 2052});
    EXPECT_EQ(m_wizard->window().windowTitle(), "在线升级程序");
    EXPECT_EQ(m_welcome->Label1->text(), "欢迎信息");
    EXPECT_EQ(m_welcome->Welcometext->text(), "欢迎使用在线升级程序！");
    EXPECT_EQ(m_welcome->Next_Button->text(), "下一步(&N)");
    EXPECT_EQ(m_server->Label1->text(), "选择下载服务器");
    EXPECT_EQ(m_server->Check1->text(), "使用断点续传(&P)");
}

TEST_F(StartUp, TextsFollowTheUserAndServersTheSystem) {
    m_dir.write("update.svr", mixedServerFile());
    start({.systemLanguage = 2052, .userLocale = 1033});
    EXPECT_EQ(m_welcome->Label1->text(), "Welcome");
    EXPECT_EQ(rows(), (QStringList{"甲服务器", "乙服务器", "丙服务器"}));
}

TEST_F(StartUp, ControlsOfTheWelcomePageSitWhereTheyWereDesigned) {
    start({.systemLanguage = 1033, .userLocale = 1033});
    EXPECT_EQ(m_welcome->Frame1->geometry(), QRect(136, 64, 329, 233));
    EXPECT_EQ(m_welcome->Welcometext->pos(), QPoint(24, 32));
    EXPECT_EQ(m_welcome->Label2->geometry(), QRect(24, 88, 258, 96));
    EXPECT_EQ(m_welcome->Label3->pos(), QPoint(152, 312));
    EXPECT_EQ(m_welcome->Next_Button->geometry(), QRect(256, 352, 81, 21));
    EXPECT_EQ(m_welcome->Cancel->geometry(), QRect(352, 352, 81, 21));
    EXPECT_EQ(m_welcome->Auto->geometry(), QRect(160, 352, 81, 21));
    // The title is never cut: it grows to its text where the font is wider.
    EXPECT_GE(m_welcome->Label1->width(), m_welcome->Label1->sizeHint().width());
}

// The locale decides both languages: LANG as the system sets it.
class StartUpInLocale : public StartUp, public ::testing::WithParamInterface<const char*> {};

TEST_P(StartUpInLocale, ClickingTheNthRowShowsTheNthMatchingAddress) {
    const test::LocaleGuard locale(GetParam());
    m_dir.write("update.svr", mixedServerFile());
    start(wizard::WizardEnvironment::fromSystem());
    const bool chinese = std::string_view(GetParam()).starts_with("zh_CN");
    const QStringList addresses =
        chinese ? QStringList{"http://jia.example/", "http://yi.example/", "http://bing.example/"}
                : QStringList{"http://a.example/", "http://b.example/", "http://d.example/"};
    EXPECT_EQ(m_welcome->Label1->text(), chinese ? "欢迎信息" : "Welcome");

    ASSERT_TRUE(m_wizard->navigate(PageId::Welcome, PageId::Server));
    ASSERT_EQ(m_server->trelListViewCtl1->rowCount(), 3);
    for (const int row : {2, 3, 1}) {
        clickRow(row);
        EXPECT_EQ(m_server->Text1->text(), addresses[row - 1]) << "row " << row;
        EXPECT_TRUE(m_server->Next_Button->isEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, StartUpInLocale,
                         ::testing::Values("zh_CN.UTF-8", "zh_TW.UTF-8", "en_US.UTF-8"));

}  // namespace
}  // namespace upd::app
