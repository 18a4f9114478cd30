// The wizard frame with the real pages 0 and 1 and stand-ins for pages 2 to 5: the
// navigation table with its loads and unloads, one page on screen at a time in one place,
// and the proxy settings that download pages read.
#include <gtest/gtest.h>

#include <QPointer>
#include <QScreen>

#include "app/frm_proxy.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/artwork.h"
#include "wizard/picture_box.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace upd::wizard {
namespace {

using enum PageId;
using test::PageLog;

class WizardFrame : public test::WizardTest {
  protected:
    void SetUp() override { start(); }

    void expectOnlyVisible(PageId visible) {
        EXPECT_EQ(m_wizard->visiblePage(), visible);
        for (const PageId id : loadedPages()) {
            EXPECT_EQ(m_wizard->page(id)->isVisible(), id == visible) << pageNumber(id);
        }
    }
};

TEST_F(WizardFrame, StartsCentredOnTheWelcomePageWithTheServerPageLoadedHidden) {
    EXPECT_EQ(loadedPages(), (std::vector<PageId>{Welcome, Server}));
    expectOnlyVisible(Welcome);
    const QRect screen = m_wizard->window().screen()->availableGeometry();
    const QPoint offset = m_wizard->window().frameGeometry().center() - screen.center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
    const Qt::WindowFlags flags = m_wizard->window().windowFlags();
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(m_wizard->window().minimumSize(), m_wizard->window().maximumSize());
    // Moves outside the table change nothing.
    EXPECT_FALSE(m_wizard->navigate(Welcome, InfoDownload));
    EXPECT_FALSE(m_wizard->navigate(Server, Welcome));  // page 1 is not on screen
    EXPECT_TRUE(m_log.empty());
    // Reading a page that is not loaded loads it without showing or activating it.
    ASSERT_NE(m_wizard->page(Finish), nullptr);
    EXPECT_EQ(m_log, (PageLog{"load 5"}));
    expectOnlyVisible(Welcome);
}

// Page 3 is a pixel taller than the others.
TEST_F(WizardFrame, TheWindowTakesTheSizeOfThePageOnScreen) {
    goTo(Analysis);
    EXPECT_EQ(m_wizard->window().size(), m_wizard->page(Analysis)->size());
    ASSERT_TRUE(m_wizard->navigate(Analysis, FileDownload));
    EXPECT_EQ(m_wizard->window().size(), m_wizard->page(FileDownload)->size());
}

// Back from pages 2, 3 and 4 lands on page 1 and unloads every page after it, oldest first,
// each asked to close for the program's reason. Page 4 read by page 3 (loaded hidden, never
// shown) stays loaded.
class WizardBack : public WizardFrame, public ::testing::WithParamInterface<int> {};

TEST_P(WizardBack, UnloadsThePagesAfterTheServerPage) {
    const PageId from = *pageFromNumber(GetParam());
    m_wizard->window().move(37, 41);
    const QPoint where = m_wizard->window().pos();
    goTo(from);
    const bool readPageFour = from == Analysis;
    ASSERT_TRUE(!readPageFour || m_wizard->page(FileDownload) != nullptr);
    QPointer<Page> pageTwo = m_wizard->page(InfoDownload);
    m_log.clear();
    ASSERT_TRUE(m_wizard->navigate(from, Server));
    PageLog expected;
    for (int number = 2; number <= GetParam(); ++number) {
        expected.push_back("query " + std::to_string(number) + " other");
        expected.push_back("unload " + std::to_string(number));
    }
    EXPECT_EQ(m_log, expected);
    expectOnlyVisible(Server);
    EXPECT_EQ(loadedPages(), (readPageFour ? std::vector{Welcome, Server, FileDownload}
                                           : std::vector{Welcome, Server}));
    EXPECT_EQ(m_wizard->window().pos(), where);
    test::flushDeletions();
    EXPECT_TRUE(pageTwo.isNull());
    // Forward again: a new page 2, loaded afresh.
    m_log.clear();
    ASSERT_TRUE(m_wizard->navigate(Server, InfoDownload));
    EXPECT_EQ(m_log, (PageLog{"load 2", "activate 2"}));
    EXPECT_EQ(m_wizard->window().pos(), where);
}

INSTANTIATE_TEST_SUITE_P(Pages, WizardBack, ::testing::Values(2, 3, 4),
                         [](const auto& param) { return "page" + std::to_string(param.param); });

TEST_F(WizardFrame, APageThatIsNotThereCannotBeReached) {
    m_wizard->registerPage(InfoDownload, nullptr);
    goTo(Server);
    EXPECT_FALSE(m_wizard->navigate(Server, InfoDownload));
    EXPECT_EQ(m_wizard->visiblePage(), Server);
    EXPECT_EQ(m_wizard->page(InfoDownload), nullptr);
}

// The artwork comes from the program's resources: a picture left out of them shows as
// nothing rather than failing.
TEST_F(WizardFrame, EveryPageAndIconFindsItsArtwork) {
    for (int number = 0; number < kPageCount; ++number) {
        const Page* page = m_wizard->page(*pageFromNumber(number));
        EXPECT_TRUE(page->Image1->hasPicture()) << number;
        EXPECT_TRUE(page->Picture1->hasPicture()) << number;
    }
    for (const char* name :
         {"program", "server", "file", "package", "state_downloading", "state_done"}) {
        const QIcon icon = artwork::icon(QString::fromLatin1(name));
        ASSERT_FALSE(icon.isNull()) << name;
        EXPECT_EQ(icon.availableSizes().size(), 2) << name;
    }
    EXPECT_TRUE(artwork::icon("no_such_icon").isNull());
}

TEST_F(WizardFrame, ProxySettingsAreReadFromTheFileThroughAHiddenDialog) {
    m_dir.write("proxy.ini", "[Proxy]\nType=2\nServer=socks.example\nPort= 1080\nRemoteDNS=1\n");
    EXPECT_EQ(m_wizard->proxySettingsInForce("http://s.example/"),
              (app::ProxyConnection{
                  .type = 2, .hostname = "socks.example", .port = 1080, .useRemoteDns = true}));
    EXPECT_TRUE(m_wizard->isProxyDialogLoaded());
    EXPECT_FALSE(m_wizard->proxyDialog().isVisible());
    // Loaded, the dialog is not read again.
    m_dir.write("proxy.ini", "[Proxy]\nType=1\n");
    EXPECT_EQ(m_wizard->proxySettingsInForce("http://s.example/").type, 2);
}

}  // namespace
}  // namespace upd::wizard
