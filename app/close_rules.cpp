#include "app/close_rules.h"

namespace upd::app {
namespace {

constexpr int kAskEnd = 114;             // "Update have not finished, ... end the application"
constexpr int kAskCancelDownload = 137;  // "Are you sure to cancel downloading"

constexpr CloseRule ask(int question, bool force, bool endsProcess) {
    return {
        .questionId = question, .runsCloseSub = true, .force = force, .endsProcess = endsProcess};
}
constexpr CloseRule closeSub(bool force, bool endsProcess) {
    return {.runsCloseSub = true, .force = force, .endsProcess = endsProcess};
}
constexpr CloseRule kQuiet{};

}  // namespace

CloseRule closeRule(ProgramWindow window, CloseTrigger trigger) {
    switch (window) {
        case ProgramWindow::Page0:
        case ProgramWindow::Page1:
            switch (trigger) {
                case CloseTrigger::CancelButton:
                    return ask(kAskEnd, false, false);
                case CloseTrigger::CloseBox:
                    return ask(kAskEnd, false, true);
                case CloseTrigger::Other:
                    // Pages 0 and 1 end the process even when CloseSub closes them: the walk
                    // of CloseSub ends at the latest when it reaches one of them.
                    return closeSub(false, true);
            }
            break;
        case ProgramWindow::Page2:
            switch (trigger) {
                case CloseTrigger::CancelButton:
                case CloseTrigger::CloseBox:
                    return ask(kAskEnd, false, true);
                case CloseTrigger::Other:
                    return kQuiet;
            }
            break;
        case ProgramWindow::Page3:
            switch (trigger) {
                case CloseTrigger::CancelButton:
                    return ask(kAskEnd, false, true);
                case CloseTrigger::CloseBox:
                    return ask(kAskEnd, true, true);
                case CloseTrigger::Other:
                    return kQuiet;
            }
            break;
        case ProgramWindow::Page4:
            switch (trigger) {
                case CloseTrigger::CancelButton:
                    return ask(kAskCancelDownload, false, false);
                case CloseTrigger::CloseBox:
                    return ask(kAskCancelDownload, true, true);
                case CloseTrigger::Other:
                    return kQuiet;
            }
            break;
        case ProgramWindow::Page5:
            switch (trigger) {
                case CloseTrigger::CancelButton:  // Finish
                    return closeSub(false, false);
                case CloseTrigger::CloseBox:
                    return closeSub(true, true);
                case CloseTrigger::Other:
                    return kQuiet;
            }
            break;
        case ProgramWindow::ProxyDialog:
            return kQuiet;
    }
    return kQuiet;
}

}  // namespace upd::app
