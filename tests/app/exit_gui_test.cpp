// Every way out of the wizard through the real window: the Cancel button (Finish on page 5),
// the close box and a close from outside, on each of the six pages, with both answers to the
// question. This is where the close table is checked; that Enter and Esc press the button is
// keyboard_access_gui_test's.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <optional>

#include "app/frm_proxy.h"
#include "app/session_end.h"
#include "app/string_table.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace upd::app {
namespace {

using wizard::PageId;
using enum PageId;
using test::PageLog;

enum class Way { CancelButton, CloseBox, FromOutside };
constexpr const char* kWayNames[] = {"cancel_button", "close_box", "from_outside"};

class Exit : public test::WizardTest {
  protected:
    void SetUp() override {
        start();
        m_sessionEnd.emplace(m_application, *m_wizard);
    }
    void TearDown() override { m_sessionEnd.reset(); }

    // Stands in for the application object, which a quit event must not reach in a test.
    QObject m_application;
    std::optional<SessionEndWatcher> m_sessionEnd;

    void leave(Way way) {
        const auto cancel = [this] {
            return m_wizard->page(*m_wizard->visiblePage())->escapeButton();
        };
        QEvent quit(QEvent::Quit);  // from outside: as when the session ends
        switch (way) {
            case Way::CancelButton:
                return QTest::mouseClick(cancel(), Qt::LeftButton);
            case Way::CloseBox:
                m_wizard->window().close();
                return;
            case Way::FromOutside:
                QCoreApplication::sendEvent(&m_application, &quit);
        }
    }
};

class ExitOnEveryPage : public Exit, public ::testing::WithParamInterface<std::tuple<int, Way>> {};

// Cancel to the question leaves everything as it was; OK ends the program.
TEST_P(ExitOnEveryPage, AsksAtMostOnceAndEndsTheProgramOnOk) {
    const auto [number, way] = GetParam();
    const PageId page = *wizard::pageFromNumber(number);
    const int question = way == Way::FromOutside ? 0
                         : page == FileDownload  ? 137
                         : page == Finish        ? 0
                                                 : 114;
    goTo(page);
    const bool userClose = way == Way::CloseBox && number >= 2;
    const PageLog asked =
        userClose ? PageLog{"query " + std::to_string(number) + " user"} : PageLog{};
    const std::vector<PageId> loaded = loadedPages();
    if (question != 0) {
        m_boxes.answers.push_back(MessageAnswer::Cancel);
        leave(way);
        EXPECT_TRUE(m_wizard->page(page)->isVisible());
        // The close box asks the page on screen only; the buttons ask no page at all.
        EXPECT_EQ(m_log, asked);
        m_log.clear();
        m_boxes.shown.clear();
        m_boxes.answers.push_back(MessageAnswer::Ok);
    }
    // After the question, every later page still open is asked and unloaded quietly,
    // newest first, until page 1 ends the process.
    PageLog expected = asked;
    for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) {
        const int other = wizard::pageNumber(*it);
        if (other >= 2 && !(userClose && other == number)) {
            expected.push_back("query " + std::to_string(other) + " other");
            expected.push_back("unload " + std::to_string(other));
        }
    }
    leave(way);
    ASSERT_EQ(m_boxes.shown.size(), question != 0 ? 1u : 0u);
    if (question != 0) {
        EXPECT_EQ(m_boxes.shown[0].text, LoadResString(question, 1033));
        EXPECT_EQ(m_boxes.shown[0].buttons, MessageButtons::OkCancel);
        EXPECT_EQ(m_boxes.shown[0].icon, MessageIcon::Question);
    }
    EXPECT_EQ(m_log, expected);
    EXPECT_EQ(m_process.ended, 1);
}

INSTANTIATE_TEST_SUITE_P(CloseTable, ExitOnEveryPage,
                         ::testing::Combine(::testing::Range(0, wizard::kPageCount),
                                            ::testing::Values(Way::CancelButton, Way::CloseBox,
                                                              Way::FromOutside)),
                         [](const auto& param) {
                             return "page" + std::to_string(std::get<0>(param.param)) + "_" +
                                    kWayNames[static_cast<int>(std::get<1>(param.param))];
                         });

// A page that will not close shows the `force` and `ends the process` columns, which the
// real pages, always closing when the program asks, never reveal.
struct RefusalCase {
    const char* name;
    PageId page;
    Way way;
    PageId refusing;
    const char* log;
    int ended;
    friend void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }
};

class ExitPastARefusal : public Exit, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ExitPastARefusal, FollowsTheCloseTable) {
    const RefusalCase& c = GetParam();
    goTo(c.page);
    static_cast<test::StandInPage*>(m_wizard->page(c.refusing))->refusesOther = true;
    m_boxes.answers.push_back(MessageAnswer::Ok);
    leave(c.way);
    EXPECT_EQ(testing::PrintToString(m_log), c.log);
    EXPECT_EQ(m_process.ended, c.ended);
}

INSTANTIATE_TEST_SUITE_P(
    CloseTable, ExitPastARefusal,
    ::testing::Values(
        // No force: the walk stops at page 2, and page 3 ends the process itself.
        RefusalCase{"page3_cancel_stops_at_the_refusal", Analysis, Way::CancelButton, InfoDownload,
                    R"({ "query 3 other", "unload 3", "query 2 other" })", 1},
        // Force: the walk goes on to page 1, whose own walk asks page 2 again.
        RefusalCase{"page3_close_box_walks_past_it", Analysis, Way::CloseBox, InfoDownload,
                    R"({ "query 3 user", "query 2 other", "query 2 other" })", 1},
        // No force and no end: cancelling the download leaves the program running.
        RefusalCase{"page4_cancel_runs_on", FileDownload, Way::CancelButton, Analysis,
                    R"({ "query 4 other", "unload 4", "query 3 other" })", 0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Exit, TheProxyDialogIsClosedFirstWithoutSaving) {
    goTo(InfoDownload);
    static_cast<void>(
        m_wizard->proxySettingsInForce("http://s.example/"));  // page 2 reads it: loaded hidden
    m_wizard->proxyDialog().txtProxy->setText("never.saved");
    m_boxes.answers.push_back(MessageAnswer::Ok);
    leave(Way::CancelButton);
    EXPECT_FALSE(m_wizard->isProxyDialogLoaded());
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("proxy.ini")));
    EXPECT_EQ(m_process.ended, 1);
}

// Page 1 stays on screen after its Cancel has ended the process.
TEST_F(Exit, NothingRunsAfterTheProcessHasEnded) {
    goTo(Server);
    m_boxes.answers.push_back(MessageAnswer::Ok);
    leave(Way::CancelButton);
    ASSERT_EQ(m_process.ended, 1);
    EXPECT_FALSE(m_wizard->navigate(Server, InfoDownload));
    m_wizard->window().close();
    m_wizard->closeForOtherReason();
    EXPECT_EQ(m_process.ended, 1);
}

}  // namespace
}  // namespace upd::app
