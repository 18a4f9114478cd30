#include "app/close_rules.h"

#include <gtest/gtest.h>

namespace upd::app {
namespace {

using enum ProgramWindow;
using enum CloseTrigger;

struct Row {
    ProgramWindow window;
    CloseTrigger trigger;
    CloseRule rule;
};

constexpr CloseRule ask(int id, bool force, bool ends) {
    return {.questionId = id, .runsCloseSub = true, .force = force, .endsProcess = ends};
}
constexpr CloseRule closeSub(bool force, bool ends) {
    return {.runsCloseSub = true, .force = force, .endsProcess = ends};
}
constexpr CloseRule quiet{};

// The close behaviour of every window, written out cell by cell.
constexpr Row kTable[] = {
    {Page0, CancelButton, ask(114, false, false)},
    {Page0, CloseBox, ask(114, false, true)},
    {Page0, Other, closeSub(false, true)},
    {Page1, CancelButton, ask(114, false, false)},
    {Page1, CloseBox, ask(114, false, true)},
    {Page1, Other, closeSub(false, true)},
    {Page2, CancelButton, ask(114, false, true)},
    {Page2, CloseBox, ask(114, false, true)},
    {Page2, Other, quiet},
    {Page3, CancelButton, ask(114, false, true)},
    {Page3, CloseBox, ask(114, true, true)},
    {Page3, Other, quiet},
    {Page4, CancelButton, ask(137, false, false)},
    {Page4, CloseBox, ask(137, true, true)},
    {Page4, Other, quiet},
    {Page5, CancelButton, closeSub(false, false)},
    {Page5, CloseBox, closeSub(true, true)},
    {Page5, Other, quiet},
    {ProxyDialog, CancelButton, quiet},
    {ProxyDialog, CloseBox, quiet},
    {ProxyDialog, Other, quiet},
};

TEST(CloseRule, EveryWindowAndTrigger) {
    for (const Row& row : kTable) {
        EXPECT_EQ(closeRule(row.window, row.trigger), row.rule)
            << "window " << static_cast<int>(row.window) << ", trigger "
            << static_cast<int>(row.trigger);
    }
}

TEST(CloseRule, OnlyPagesZeroAndOneEndTheProgramWhenClosedByIt) {
    for (const ProgramWindow window : {Page0, Page1, Page2, Page3, Page4, Page5, ProxyDialog}) {
        const CloseRule rule = closeRule(window, Other);
        EXPECT_EQ(rule.questionId, 0) << static_cast<int>(window);
        EXPECT_EQ(rule.endsProcess, window == Page0 || window == Page1) << static_cast<int>(window);
    }
}

TEST(CloseRule, TheCloseBoxOfPageFiveAsksNothingAndPageFourAsksAboutTheDownload) {
    EXPECT_EQ(closeRule(Page5, CloseBox).questionId, 0);
    EXPECT_EQ(closeRule(Page4, CloseBox).questionId, 137);
    for (const ProgramWindow window : {Page0, Page1, Page2, Page3}) {
        EXPECT_EQ(closeRule(window, CloseBox).questionId, 114);
    }
}

}  // namespace
}  // namespace upd::app
