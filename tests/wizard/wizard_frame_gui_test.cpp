// The wizard frame with the real pages 0 and 1 and stand-ins for pages 2 to 5: the
// navigation table with its loads and unloads, one page on screen at a time in one place,
// and the proxy settings that download pages read.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "app/frm_proxy.h"
#include "app/frm_update.h"
#include "tests/support/locale_guard.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/artwork.h"
#include "wizard/frm_update1.h"
#include "wizard/picture_box.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace upd::wizard {
namespace {

using enum PageId;
using test::PageLog;

class WizardFrame : public ::testing::Test {
  protected:
    WizardFrame() {
        m_wizard = std::make_unique<Wizard>(
            WizardEnvironment{m_dir.path(), platform::kLangEnglishUS, platform::kLangEnglishUS},
            m_boxes, m_process);
        test::registerPagesWithStandIns(*m_wizard, m_log);
        app::startWizard(*m_wizard);
    }
    ~WizardFrame() override {
        m_wizard.reset();
        test::flushDeletions();
    }

    // Walks forward from the welcome page to `target` by the table.
    void goTo(PageId target) {
        const std::pair<PageId, PageId> steps[] = {
            {Welcome, Server},
            {Server, InfoDownload},
            {InfoDownload, Analysis},
            {Analysis, target == Finish ? Finish : FileDownload},
        };
        for (const auto& [from, to] : steps) {
            if (m_wizard->visiblePage() == target) {
                break;
            }
            ASSERT_TRUE(m_wizard->navigate(from, to));
        }
        ASSERT_EQ(m_wizard->visiblePage(), target);
    }

    void expectOnlyVisible(PageId visible) {
        EXPECT_EQ(m_wizard->visiblePage(), visible);
        for (int number = 0; number < kPageCount; ++number) {
            const PageId id = *pageFromNumber(number);
            if (m_wizard->isLoaded(id)) {
                EXPECT_EQ(m_wizard->page(id)->isVisible(), id == visible) << number;
            }
        }
    }

    test::LocaleGuard m_locale{"en_US.UTF-8"};
    test::TempDir m_dir;
    test::ScriptedMessageBoxes m_boxes;
    test::RecordingProcessExit m_process;
    PageLog m_log;
    std::unique_ptr<Wizard> m_wizard;
};

TEST_F(WizardFrame, StartsWithTheWelcomePageAndTheServerPageLoadedHidden) {
    EXPECT_TRUE(m_wizard->window().isVisible());
    EXPECT_TRUE(m_wizard->isLoaded(Welcome));
    EXPECT_TRUE(m_wizard->isLoaded(Server));
    for (const PageId id : {InfoDownload, Analysis, FileDownload, Finish}) {
        EXPECT_FALSE(m_wizard->isLoaded(id));
    }
    expectOnlyVisible(Welcome);
    EXPECT_EQ(m_wizard->window().windowTitle(), "Update");
    EXPECT_EQ(m_wizard->window().size(), QSize(477, 383));
}

TEST_F(WizardFrame, TheWindowIsCentredWithoutMinimiseOrMaximise) {
    const QRect screen = m_wizard->window().screen()->availableGeometry();
    const QPoint offset = m_wizard->window().frameGeometry().center() - screen.center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
    const Qt::WindowFlags flags = m_wizard->window().windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_EQ(m_wizard->window().minimumSize(), m_wizard->window().maximumSize());
}

TEST_F(WizardFrame, ForwardLoadsTheTargetFirstAndKeepsThePageLeftLoaded) {
    goTo(Server);
    ASSERT_TRUE(m_wizard->navigate(Server, InfoDownload));
    EXPECT_EQ(m_log, (PageLog{"load 2", "activate 2"}));
    expectOnlyVisible(InfoDownload);
    EXPECT_TRUE(m_wizard->isLoaded(Server));
    ASSERT_TRUE(m_wizard->navigate(InfoDownload, Analysis));
    EXPECT_EQ(m_log, (PageLog{"load 2", "activate 2", "load 3", "activate 3"}));
    expectOnlyVisible(Analysis);
    EXPECT_TRUE(m_wizard->isLoaded(InfoDownload));
}

TEST_F(WizardFrame, EveryPageAppearsWhereThePreviousOneWas) {
    m_wizard->window().move(37, 41);
    const QPoint where = m_wizard->window().pos();
    goTo(FileDownload);
    EXPECT_EQ(m_wizard->window().pos(), where);
    ASSERT_TRUE(m_wizard->navigate(FileDownload, Server));
    EXPECT_EQ(m_wizard->window().pos(), where);
    ASSERT_TRUE(m_wizard->navigate(Server, Welcome));
    EXPECT_EQ(m_wizard->window().pos(), where);
}

TEST_F(WizardFrame, ThePageOfTheUpdateInformationIsOnePixelTaller) {
    goTo(Analysis);
    EXPECT_EQ(m_wizard->window().size(), QSize(477, 384));
    ASSERT_TRUE(m_wizard->navigate(Analysis, FileDownload));
    EXPECT_EQ(m_wizard->window().size(), QSize(477, 383));
}

TEST_F(WizardFrame, BackFromPageTwoUnloadsIt) {
    goTo(InfoDownload);
    QPointer<Page> pageTwo = m_wizard->page(InfoDownload);
    ASSERT_TRUE(m_wizard->navigate(InfoDownload, Server));
    expectOnlyVisible(Server);
    EXPECT_FALSE(m_wizard->isLoaded(InfoDownload));
    EXPECT_EQ(m_log, (PageLog{"load 2", "activate 2", "query 2 other", "unload 2"}));
    test::flushDeletions();
    EXPECT_TRUE(pageTwo.isNull());

    // Forward again: a new page, loaded afresh.
    m_log.clear();
    ASSERT_TRUE(m_wizard->navigate(Server, InfoDownload));
    EXPECT_EQ(m_log, (PageLog{"load 2", "activate 2"}));
    EXPECT_NE(m_wizard->page(InfoDownload), nullptr);
}

TEST_F(WizardFrame, BackFromPageThreeUnloadsPagesTwoThenThree) {
    goTo(Analysis);
    m_log.clear();
    ASSERT_TRUE(m_wizard->navigate(Analysis, Server));
    expectOnlyVisible(Server);
    EXPECT_EQ(m_log, (PageLog{"query 2 other", "unload 2", "query 3 other", "unload 3"}));
}

TEST_F(WizardFrame, BackFromPageThreeLeavesAPageFourThatPageThreeLoaded) {
    goTo(Analysis);
    ASSERT_NE(m_wizard->page(FileDownload), nullptr);  // read, so loaded hidden
    expectOnlyVisible(Analysis);
    ASSERT_TRUE(m_wizard->navigate(Analysis, Server));
    EXPECT_TRUE(m_wizard->isLoaded(FileDownload));
    EXPECT_FALSE(m_wizard->page(FileDownload)->isVisible());
}

TEST_F(WizardFrame, BackFromPageFourUnloadsPagesTwoThreeAndFour) {
    goTo(FileDownload);
    m_log.clear();
    ASSERT_TRUE(m_wizard->navigate(FileDownload, Server));
    expectOnlyVisible(Server);
    EXPECT_EQ(m_log, (PageLog{"query 2 other", "unload 2", "query 3 other", "unload 3",
                              "query 4 other", "unload 4"}));
    for (const PageId id : {InfoDownload, Analysis, FileDownload}) {
        EXPECT_FALSE(m_wizard->isLoaded(id));
    }
}

TEST_F(WizardFrame, PageFiveFollowsPageThreeOrPageFour) {
    goTo(Analysis);
    m_log.clear();
    ASSERT_TRUE(m_wizard->navigate(Analysis, Finish));
    expectOnlyVisible(Finish);
    EXPECT_EQ(m_log, (PageLog{"load 5", "activate 5"}));
    EXPECT_FALSE(m_wizard->navigate(Finish, Server));
}

TEST_F(WizardFrame, MovesOutsideTheTableChangeNothing) {
    EXPECT_FALSE(m_wizard->navigate(Welcome, InfoDownload));
    EXPECT_FALSE(m_wizard->navigate(Server, Welcome));  // page 1 is not on screen
    expectOnlyVisible(Welcome);
    EXPECT_TRUE(m_log.empty());
}

TEST_F(WizardFrame, ReadingAnUnloadedPageLoadsItInvisibly) {
    Page* finish = m_wizard->page(Finish);
    ASSERT_NE(finish, nullptr);
    EXPECT_EQ(m_log, (PageLog{"load 5"}));  // loaded, not activated
    expectOnlyVisible(Welcome);
    EXPECT_EQ(m_wizard->page(Finish), finish);
    EXPECT_EQ(m_log.size(), 1u);
}

TEST(WizardFramePages, APageThatIsNotThereCannotBeReached) {
    test::TempDir dir;
    test::ScriptedMessageBoxes boxes;
    test::RecordingProcessExit process;
    Wizard wizard({dir.path(), 1033, 1033}, boxes, process);
    app::registerWizardPages(wizard);
    app::startWizard(wizard);
    ASSERT_TRUE(wizard.navigate(Welcome, Server));
    EXPECT_FALSE(wizard.isRegistered(InfoDownload));
    EXPECT_FALSE(wizard.navigate(Server, InfoDownload));
    EXPECT_EQ(wizard.visiblePage(), Server);
    EXPECT_EQ(wizard.page(InfoDownload), nullptr);
}

TEST_F(WizardFrame, ThePagesTakeTheCommonLayout) {
    goTo(InfoDownload);
    for (const PageId id : {Welcome, Server, InfoDownload}) {
        const Page* page = m_wizard->page(id);
        EXPECT_EQ(page->Image1->geometry(), QRect(0, 0, 478, 54));
        EXPECT_EQ(page->Label1->pos(), QPoint(24, 16));
        EXPECT_EQ(page->Line1[0]->geometry(), QRect(0, 56, 472, 1));
        EXPECT_EQ(page->Line1[1]->geometry(), QRect(0, 57, 472, 1));
        EXPECT_EQ(page->Line1[2]->geometry(), QRect(0, 336, 472, 1));
        EXPECT_EQ(page->Line1[3]->geometry(), QRect(0, 337, 472, 1));
        EXPECT_EQ(page->Picture1->geometry(), QRect(0, 64, 125, 264));
        EXPECT_TRUE(page->Image1->hasPicture());
        EXPECT_TRUE(page->Picture1->hasPicture());
        EXPECT_EQ(page->Label1->font().pointSize(), 12);
        EXPECT_TRUE(page->Label1->font().bold());
    }
    EXPECT_EQ(m_wizard->page(Welcome)->Label1->font().families().front(), "Arial");
    EXPECT_EQ(m_wizard->page(Server)->Label1->font().families().front(), "SimSun");
}

TEST_F(WizardFrame, PagesTwoAndFourShareTheirSidePicture) {
    goTo(FileDownload);
    ASSERT_NE(m_wizard->page(Finish), nullptr);
    QStringList names;
    for (int number = 0; number < kPageCount; ++number) {
        names << m_wizard->page(*pageFromNumber(number))->Picture1->pictureName();
    }
    EXPECT_EQ(names[2], names[4]);
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), 5);
}

TEST(Artwork, EveryIconComesAtBothSizes) {
    for (const char* name :
         {"program", "server", "file", "package", "state_downloading", "state_done"}) {
        const QIcon icon = artwork::icon(QString::fromLatin1(name));
        ASSERT_FALSE(icon.isNull()) << name;
        EXPECT_EQ(icon.availableSizes().size(), 2) << name;
    }
    EXPECT_TRUE(artwork::icon("no_such_icon").isNull());
}

// ---- proxy settings for the download pages ----

TEST_F(WizardFrame, ProxySettingsAreReadFromTheFileThroughAHiddenDialog) {
    m_dir.write("proxy.ini", "[Proxy]\nType=2\nServer=socks.example\nPort= 1080\nRemoteDNS=1\n");
    const app::ProxyConnection settings = m_wizard->proxySettingsInForce();
    EXPECT_EQ(settings.type, 2);
    EXPECT_EQ(settings.hostname, "socks.example");
    EXPECT_EQ(settings.port, 1080);
    EXPECT_TRUE(settings.useRemoteDns);
    EXPECT_TRUE(m_wizard->isProxyDialogLoaded());
    EXPECT_FALSE(m_wizard->proxyDialog().isVisible());

    // Loaded, the dialog is not read again.
    m_dir.write("proxy.ini", "[Proxy]\nType=1\n");
    EXPECT_EQ(m_wizard->proxySettingsInForce().type, 2);
}

TEST_F(WizardFrame, SettingsCancelledInTheDialogNeverReachADownload) {
    m_dir.write("proxy.ini", "[Proxy]\nType=1\nServer=http.example\nPort=3128\n");
    ASSERT_EQ(m_wizard->proxySettingsInForce().type, 1);
    goTo(Server);
    QTimer::singleShot(0, [this] {
        app::frmProxy& dialog = m_wizard->proxyDialog();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.txtProxy->text(), "http.example");
        dialog.cmbProxyServer->setCurrentIndex(3);
        dialog.txtProxy->setText("edited.example");
        dialog.Cancel->click();
    });
    m_wizard->showProxyDialog();
    EXPECT_FALSE(m_wizard->isProxyDialogLoaded());
    const app::ProxyConnection settings = m_wizard->proxySettingsInForce();
    EXPECT_EQ(settings.type, 1);
    EXPECT_EQ(settings.hostname, "http.example");
    EXPECT_EQ(settings.port, 3128);
}

TEST_F(WizardFrame, SettingsSavedWithOkAreTheOnesInForce) {
    goTo(Server);
    QTimer::singleShot(0, [this] {
        app::frmProxy& dialog = m_wizard->proxyDialog();
        dialog.cmbProxyServer->setCurrentIndex(3);
        dialog.txtProxy->setText("socks5.example");
        dialog.txtProxyPort->setText("1081");
        dialog.txtUsername->setText("user");
        dialog.txtPassword->setText("secret");
        dialog.OK->click();
    });
    m_wizard->showProxyDialog();
    EXPECT_FALSE(m_wizard->isProxyDialogLoaded());
    const app::ProxyConnection expected{.type = 3,
                                        .hostname = "socks5.example",
                                        .port = 1081,
                                        .username = "user",
                                        .password = "secret",
                                        .useRemoteDns = false};
    EXPECT_EQ(m_wizard->proxySettingsInForce(), expected);
}

}  // namespace
}  // namespace upd::wizard
