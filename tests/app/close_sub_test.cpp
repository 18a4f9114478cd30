#include "app/close_sub.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace upd::app {
namespace {

// Windows 1, 2, 3 ... in creation order, each with a close handler written as one letter:
// '.' closes, 'R' refuses, 'E' ends the process, 'S' runs CloseSub again and then ends the
// process (as pages 0 and 1 do), '2' closes window 2 first.
class FakeHost : public ExitHost {
  public:
    std::map<WindowSerial, char> windows;
    std::vector<WindowSerial> closing;
    std::string log;
    bool ended = false;

    std::vector<WindowSerial> openWindows() const override {
        std::vector<WindowSerial> open;
        for (const auto& [serial, handler] : windows) {
            if (std::find(closing.begin(), closing.end(), serial) == closing.end()) {
                open.push_back(serial);
            }
        }
        return open;
    }
    bool isOpen(WindowSerial window) const override { return windows.count(window) != 0; }
    void closeWindow(WindowSerial serial) override {
        log += "close " + std::to_string(serial) + ", ";
        closing.push_back(serial);
        const char handler = windows.at(serial);
        if (handler == 'S') {
            CloseSub(*this, false);
        }
        if (handler == 'E' || (handler == 'S' && !ended)) {
            endProcess();
        }
        if (handler == '2') {
            windows.erase(2);
        }
        std::erase(closing, serial);
        if (handler != 'R' && !ended) {
            windows.erase(serial);
        }
    }
    bool anyWindowOpen() const override { return !windows.empty(); }
    void closeOpenFiles() override { log += "files, "; }
    void endProcess() override {
        log += "end, ";
        ended = true;
    }
    bool processEnded() const override { return ended; }
};

using enum CloseSubResult;

// clang-format off
const struct Case { const char* name; const char* windows; bool force; CloseSubResult result;
                    const char* log; std::vector<ExitHost::WindowSerial> openAfter; } kCases[] = {
    {"newest_first", "...", false, AllClosed, "close 3, close 2, close 1, files, ", {}},
    {"force_ends_when_all_closed", "..", true, ProcessEnded, "close 2, close 1, files, end, ", {}},
    {"no_force_gives_up_at_a_refusal", ".R.", false, GaveUp, "close 3, close 2, ", {1, 2}},
    {"force_walks_past_a_refusal", ".R.", true, ProcessEnded,
     "close 3, close 2, close 1, files, end, ", {2}},
    // 4 and 3 close quietly; 2's handler walks again and reaches 1, whose own walk finds
    // only windows being closed: a window is left, so the process ends there, once.
    {"a_handler_running_closesub_is_not_asked_twice", "SS..", false, ProcessEnded,
     "close 4, close 3, close 2, close 1, end, ", {1, 2}},
    {"passes_over_windows_a_handler_closed", "..2", false, AllClosed,
     "close 3, close 1, files, ", {}},
    {"stops_once_the_process_has_ended", ".E.", true, ProcessEnded,
     "close 3, close 2, end, ", {1, 2}},
};
// clang-format on

class CloseSubWalk : public ::testing::TestWithParam<Case> {};

TEST_P(CloseSubWalk, ClosesNewestFirst) {
    const Case& c = GetParam();
    FakeHost host;
    for (std::size_t i = 0; c.windows[i] != '\0'; ++i) {
        host.windows[i + 1] = c.windows[i];
    }
    EXPECT_EQ(CloseSub(host, c.force), c.result);
    EXPECT_EQ(host.log, c.log);
    EXPECT_EQ(host.openWindows(), c.openAfter);
}

INSTANTIATE_TEST_SUITE_P(Cases, CloseSubWalk, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace upd::app
