// Start-up: the welcome page loads the server page hidden, fills it with the servers of the
// system's language from update.svr, records LangID and InfoFile, and shows itself with the
// texts of the user's language. Which records match which language is server_list_test's.
#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/frm_update.h"
#include "app/server_list.h"
#include "app/string_table.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
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

// Both languages mixed, with a record that matches neither.
std::string mixedServerFile() {
    return line("Alpha", "http://a.example/", "first.ini", "EN") +
           line("甲服务器", "http://jia.example/", "first.ini", "CHS") +
           line("Beta", "http://b.example/", "first.ini", "EN") + "!!! not a record !!!\r\n" +
           line("乙服务器", "http://yi.example/", "first.ini", "CHS") +
           line("Delta", "http://d.example/", "update/last.ini", "EN");
}

class StartUp : public test::WizardTest {
  protected:
    frmUpdate* welcome() { return m_wizard->pageAs<frmUpdate>(PageId::Welcome); }
    wizard::frmUpdate1* server() { return m_wizard->pageAs<wizard::frmUpdate1>(PageId::Server); }

    // Each row's text with the address it stands for.
    QStringList rows() {
        QStringList texts;
        for (int row = 1; row <= server()->trelListViewCtl1->rowCount(); ++row) {
            const QListWidgetItem* address = server()->List1->item(row - 1);
            texts << server()->trelListViewCtl1->rowText(row) + " " +
                         (address != nullptr ? address->text() : "?");
        }
        return texts;
    }
};

TEST_F(StartUp, ServersFollowTheSystemLanguageAndTextsTheUser) {
    const QString english =
        "Alpha http://a.example/, Beta http://b.example/, Delta http://d.example/";
    const QString chinese = "甲服务器 http://jia.example/, 乙服务器 http://yi.example/";
    const struct {
        platform::LangId system, user;
        QString rows;
    } cases[] = {{1033, 1033, english}, {2052, 1033, chinese}, {1033, 2052, english}};
    m_dir.write("update.svr", mixedServerFile());
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.system << "/" << c.user);
        start(c.system, c.user);
        EXPECT_EQ(rows().join(", "), c.rows);
        EXPECT_EQ(server()->List1->count(), server()->trelListViewCtl1->rowCount());
        EXPECT_FALSE(server()->isVisible());
        EXPECT_EQ(m_wizard->state().LangID, c.system);
        EXPECT_EQ(m_wizard->state().InfoFile, "update/last.ini");
        EXPECT_EQ(m_wizard->window().windowTitle().toStdString(), LoadResString(100, c.user));
        EXPECT_EQ(welcome()->Label1->text().toStdString(), LoadResString(101, c.user));
        EXPECT_EQ(server()->Label1->text().toStdString(), LoadResString(108, c.user));
        // Single-line labels grow to their text where the font is wider.
        for (const QLabel* label : welcome()->findChildren<QLabel*>()) {
            if (!label->wordWrap()) {
                EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
            }
        }
    }
}

TEST_F(StartUp, TheLocaleGivesBothLanguages) {
    const test::LocaleGuard locale("zh_CN.UTF-8");
    m_dir.write("update.svr", mixedServerFile());
    startIn(wizard::WizardEnvironment::fromSystem());
    EXPECT_EQ(rows().size(), 2);
    EXPECT_EQ(welcome()->Label1->text().toStdString(), LoadResString(101, 2052));
}

TEST_F(StartUp, WithoutUpdateSvrTheServerListStaysEmpty) {
    start();
    EXPECT_EQ(m_wizard->visiblePage(), PageId::Welcome);
    EXPECT_TRUE(m_wizard->window().isVisible());
    EXPECT_EQ(server()->trelListViewCtl1->rowCount(), 0);
    EXPECT_EQ(server()->List1->count(), 0);
    EXPECT_TRUE(m_wizard->state().InfoFile.empty());
    EXPECT_TRUE(m_boxes.shown.empty());

    // Nothing to click: Next stays disabled; Back still works.
    QTest::mouseClick(welcome()->Next_Button, Qt::LeftButton);
    ASSERT_EQ(m_wizard->visiblePage(), PageId::Server);
    EXPECT_FALSE(server()->Next_Button->isEnabled());
    QTest::mouseClick(server()->Back_Button, Qt::LeftButton);
    EXPECT_EQ(m_wizard->visiblePage(), PageId::Welcome);
}

}  // namespace
}  // namespace upd::app
