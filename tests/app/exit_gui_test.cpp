// Every way out of the wizard: the Cancel button (Finish on page 5), Esc, the close box and
// a close from outside, on each of the six pages, with both answers to the question.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <filesystem>

#include "app/frm_proxy.h"
#include "tests/support/locale_guard.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/frm_update1.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace upd::app {
namespace {

using wizard::PageId;
using enum PageId;
using test::PageLog;

enum class Way { CancelButton, Escape, CloseBox, FromOutside };

const char* wayName(Way way) {
    switch (way) {
        case Way::CancelButton:
            return "cancel button";
        case Way::Escape:
            return "escape";
        case Way::CloseBox:
            return "close box";
        case Way::FromOutside:
            return "from outside";
    }
    return "";
}

class Exit : public ::testing::Test {
  protected:
    Exit() {
        m_wizard = std::make_unique<wizard::Wizard>(
            wizard::WizardEnvironment{m_dir.path(), 1033, 1033}, m_boxes, m_process);
        test::registerPagesWithStandIns(*m_wizard, m_log);
        startWizard(*m_wizard);
    }
    ~Exit() override {
        m_wizard.reset();
        test::flushDeletions();
    }

    void goTo(PageId target) {
        const std::pair<PageId, PageId> steps[] = {
            {Welcome, Server},        {Server, InfoDownload},
            {InfoDownload, Analysis}, {Analysis, target == Finish ? Finish : FileDownload},
            {FileDownload, Finish},
        };
        for (const auto& [from, to] : steps) {
            if (m_wizard->visiblePage() == target) {
                break;
            }
            ASSERT_TRUE(m_wizard->navigate(from, to));
        }
        ASSERT_EQ(m_wizard->visiblePage(), target);
        m_log.clear();
    }

    void leave(Way way) {
        wizard::Page* page = m_wizard->page(*m_wizard->visiblePage());
        switch (way) {
            case Way::CancelButton:
                QTest::mouseClick(page->escapeButton(), Qt::LeftButton);
                break;
            case Way::Escape:
                m_wizard->window().activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(&m_wizard->window()));
                QTest::keyClick(&m_wizard->window(), Qt::Key_Escape);
                break;
            case Way::CloseBox:
                m_wizard->window().close();
                break;
            case Way::FromOutside:
                m_wizard->closeForOtherReason();
                break;
        }
    }

    std::vector<int> loadedPages() const {
        std::vector<int> loaded;
        for (int number = 0; number < wizard::kPageCount; ++number) {
            if (m_wizard->isLoaded(*wizard::pageFromNumber(number))) {
                loaded.push_back(number);
            }
        }
        return loaded;
    }

    test::LocaleGuard m_locale{"en_US.UTF-8"};
    test::TempDir m_dir;
    test::ScriptedMessageBoxes m_boxes;
    test::RecordingProcessExit m_process;
    PageLog m_log;
    std::unique_ptr<wizard::Wizard> m_wizard;
};

struct ExitCase {
    PageId page;
    Way way;
    int question;  // 0: none
};

class ExitOnEveryPage : public Exit, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ExitOnEveryPage, OkEndsTheProgramWithOneQuestionAtMost) {
    const ExitCase c = GetParam();
    goTo(c.page);
    if (c.question != 0) {
        m_boxes.answers.push_back(MessageAnswer::Ok);
    }
    leave(c.way);
    ASSERT_EQ(m_boxes.shown.size(), c.question != 0 ? 1u : 0u);
    if (c.question != 0) {
        const std::string expected = c.question == 114
                                         ? "Update have not finished,and do you make sure to "
                                           "end the application"
                                         : "Are you sure to cancel downloading";
        EXPECT_EQ(m_boxes.shown[0].text, expected);
        EXPECT_EQ(m_boxes.shown[0].buttons, MessageButtons::OkCancel);
        EXPECT_EQ(m_boxes.shown[0].icon, MessageIcon::Question);
    }
    EXPECT_EQ(m_process.ended, 1);
    EXPECT_TRUE(m_wizard->processEnded());
    // The later pages were closed quietly, newest first, before the process ended.
    PageLog quiet;
    for (const std::string& entry : m_log) {
        if (entry.starts_with("unload")) {
            quiet.push_back(entry);
        }
    }
    EXPECT_TRUE(std::is_sorted(quiet.rbegin(), quiet.rend())) << ::testing::PrintToString(m_log);
}

class ExitAnsweredCancel : public Exit, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ExitAnsweredCancel, LeavesEverythingAsItWas) {
    const ExitCase c = GetParam();
    goTo(c.page);
    const std::vector<int> before = loadedPages();
    m_boxes.answers.push_back(MessageAnswer::Cancel);
    leave(c.way);
    EXPECT_EQ(m_boxes.shown.size(), 1u);
    EXPECT_EQ(m_process.ended, 0);
    EXPECT_EQ(m_wizard->visiblePage(), c.page);
    EXPECT_TRUE(m_wizard->page(c.page)->isVisible());
    EXPECT_TRUE(m_wizard->window().isVisible());
    EXPECT_EQ(loadedPages(), before);
    for (const std::string& entry : m_log) {
        EXPECT_TRUE(entry.ends_with(" user")) << entry;  // asked, and nothing closed
    }
}

std::vector<ExitCase> allCases() {
    std::vector<ExitCase> cases;
    for (int number = 0; number < wizard::kPageCount; ++number) {
        const PageId page = *wizard::pageFromNumber(number);
        const int asks = page == FileDownload ? 137 : page == Finish ? 0 : 114;
        cases.push_back({page, Way::CancelButton, asks});
        cases.push_back({page, Way::Escape, asks});
        cases.push_back({page, Way::CloseBox, asks});
        cases.push_back({page, Way::FromOutside, 0});
    }
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<ExitCase>& param) {
    std::string name = "page" + std::to_string(wizard::pageNumber(param.param.page)) + "_" +
                       wayName(param.param.way);
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

std::vector<ExitCase> casesWithAQuestion() {
    std::vector<ExitCase> cases = allCases();
    std::erase_if(cases, [](const ExitCase& c) { return c.question == 0; });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(CloseTable, ExitOnEveryPage, ::testing::ValuesIn(allCases()), caseName);
INSTANTIATE_TEST_SUITE_P(CloseTable, ExitAnsweredCancel, ::testing::ValuesIn(casesWithAQuestion()),
                         caseName);

TEST_F(Exit, TheCloseBoxAsksThePageOnScreenOnly) {
    goTo(Analysis);
    m_boxes.answers.push_back(MessageAnswer::Cancel);
    m_wizard->window().close();
    EXPECT_EQ(m_log, (PageLog{"query 3 user"}));
}

TEST_F(Exit, OkOnPageFourClosesThePagesAfterTheServerPageNewestFirst) {
    goTo(FileDownload);
    m_boxes.answers.push_back(MessageAnswer::Ok);
    leave(Way::CancelButton);
    EXPECT_EQ(m_log, (PageLog{"query 4 other", "unload 4", "query 3 other", "unload 3",
                              "query 2 other", "unload 2"}));
    EXPECT_EQ(m_process.ended, 1);
}

TEST_F(Exit, TheProxyDialogIsClosedFirstWithoutSaving) {
    goTo(InfoDownload);
    static_cast<void>(m_wizard->proxySettingsInForce());  // page 2 reads it: loaded hidden
    ASSERT_TRUE(m_wizard->isProxyDialogLoaded());
    m_wizard->proxyDialog().txtProxy->setText("never.saved");
    m_boxes.answers.push_back(MessageAnswer::Ok);
    leave(Way::CancelButton);
    EXPECT_FALSE(m_wizard->isProxyDialogLoaded());
    EXPECT_EQ(m_log, (PageLog{"query 2 other", "unload 2"}));
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("proxy.ini")));
    EXPECT_EQ(m_process.ended, 1);
}

TEST_F(Exit, FinishEndsTheProgramWithoutAQuestion) {
    goTo(Finish);
    leave(Way::CancelButton);
    EXPECT_TRUE(m_boxes.shown.empty());
    EXPECT_EQ(m_process.ended, 1);
}

TEST_F(Exit, NothingRunsAfterTheProcessHasEnded) {
    goTo(Server);
    m_boxes.answers.push_back(MessageAnswer::Ok);
    leave(Way::CancelButton);
    ASSERT_EQ(m_process.ended, 1);
    EXPECT_FALSE(m_wizard->navigate(Server, InfoDownload));
    m_wizard->window().close();
    m_wizard->closeForOtherReason();
    EXPECT_EQ(m_boxes.shown.size(), 1u);
    EXPECT_EQ(m_process.ended, 1);
}

}  // namespace
}  // namespace upd::app
