// Start-up: the welcome page loads the server page hidden, fills it with the servers of the
// system's language from update.svr, records LangID and InfoFile, and shows itself with the
// texts and the font of the user's language. Which records match which language is
// server_list_test's; which locale gets which face is font_choice_test's.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <map>

#include "app/frm_update.h"
#include "app/set_from_font.h"
#include "app/string_table.h"
#include "controls/list_control.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/frm_update1.h"
#include "wizard/picture_box.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace upd::app {
namespace {

using wizard::PageId;

class StartUp : public test::WizardTest {
  protected:
    frmUpdate* welcome() { return m_wizard->pageAs<frmUpdate>(PageId::Welcome); }
    wizard::frmUpdate1* server() { return m_wizard->pageAs<wizard::frmUpdate1>(PageId::Server); }

    // Both languages mixed, with a line that is no record; InfoFile comes from the last line.
    void writeServerFile() {
        m_dir.write("update.svr",
                    test::serverRecord("Alpha", "http://a.example/", "EN") +
                        test::serverRecord("甲服务器", "http://jia.example/", "CHS") +
                        test::serverRecord("Beta", "http://b.example/", "EN") +
                        "!!! not a record !!!\r\n" +
                        test::serverRecord("乙服务器", "http://yi.example/", "CHS") +
                        test::serverRecord("Delta", "http://d.example/", "EN", "update/last.ini"));
    }

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
    writeServerFile();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.system << "/" << c.user);
        start(c.system, c.user);
        EXPECT_EQ(rows().join(", "), c.rows);
        EXPECT_EQ(m_wizard->state().LangID, c.system);
        EXPECT_EQ(m_wizard->state().InfoFile, "update/last.ini");
        EXPECT_EQ(m_wizard->window().windowTitle().toStdString(), LoadResString(100, c.user));
        EXPECT_EQ(welcome()->Label1->text().toStdString(), LoadResString(101, c.user));
        EXPECT_EQ(server()->Label1->text().toStdString(), LoadResString(108, c.user));
        // The pages ask the font database for the locale's face.
        const bool simSun = c.user == 2052 && isFontInstalled("宋体");
        EXPECT_EQ(welcome()->Label3->font().families() == QStringList{"宋体"}, simSun);
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
    writeServerFile();
    startIn(wizard::WizardEnvironment::fromSystem());
    EXPECT_EQ(rows().size(), 2);
    EXPECT_EQ(welcome()->Label1->text().toStdString(), LoadResString(101, 2052));
    // Next shows the server page that start-up filled.
    QTest::mouseClick(welcome()->Next_Button, Qt::LeftButton);
    EXPECT_EQ(m_wizard->visiblePage(), PageId::Server);
}

// An installed face reaches every control that shows text, keeping sizes and weights.
TEST_F(StartUp, SetFromFontChangesOnlyTheFace) {
    start();
    auto* page = server();
    const QWidget* controls[] = {
        page->Label1, page->Label2[0],    page->Label2[1],   page->Text1,
        page->Check1, page->Proxy_Button, page->Next_Button, page->trelListViewCtl1->view()};
    std::map<const QWidget*, QFont> design;
    for (const QWidget* control : controls) {
        design[control] = control->font();
    }
    SetFromFont(*page, 2052, [](std::string_view face) { return face == "宋体"; });
    for (const QWidget* control : controls) {
        EXPECT_EQ(control->font().families(), QStringList{"宋体"})
            << control->objectName().toStdString();
        EXPECT_EQ(control->font().pointSize(), design[control].pointSize());
        EXPECT_EQ(control->font().bold(), design[control].bold());
    }
    // Pictures and lines have no font of their own to change.
    EXPECT_FALSE(page->Picture1->testAttribute(Qt::WA_SetFont));
    EXPECT_FALSE(page->Line1[0]->testAttribute(Qt::WA_SetFont));
}

}  // namespace
}  // namespace upd::app
