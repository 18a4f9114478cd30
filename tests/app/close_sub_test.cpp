#include "app/close_sub.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace upd::app {
namespace {

// Windows 1, 2, 3 ... in creation order. Each window's close handler is a script: it may
// refuse, or run something (CloseSub again, end the process) before it closes.
class FakeHost : public ExitHost {
  public:
    struct Window {
        bool refuses = false;
        std::function<void()> handler{};
    };

    std::map<WindowSerial, Window> windows;
    std::vector<WindowSerial> closing;
    std::vector<std::string> log;
    bool ended = false;

    std::vector<WindowSerial> openWindows() const override {
        std::vector<WindowSerial> open;
        for (const auto& [serial, window] : windows) {
            if (std::find(closing.begin(), closing.end(), serial) == closing.end()) {
                open.push_back(serial);
            }
        }
        return open;
    }
    bool isOpen(WindowSerial window) const override { return windows.count(window) != 0; }
    void closeWindow(WindowSerial serial) override {
        log.push_back("close " + std::to_string(serial));
        closing.push_back(serial);
        const Window window = windows.at(serial);
        if (window.handler) {
            window.handler();
        }
        std::erase(closing, serial);
        if (!window.refuses && !ended) {
            windows.erase(serial);
        }
    }
    bool anyWindowOpen() const override { return !windows.empty(); }
    void closeOpenFiles() override { log.push_back("files"); }
    void endProcess() override {
        log.push_back("end");
        ended = true;
    }
    bool processEnded() const override { return ended; }
};

using Log = std::vector<std::string>;

TEST(CloseSub, ClosesNewestFirstAndReturnsWhenTheLastWindowIsGone) {
    FakeHost host;
    host.windows = {{1, {}}, {2, {}}, {3, {}}};
    EXPECT_EQ(CloseSub(host, false), CloseSubResult::AllClosed);
    EXPECT_EQ(host.log, (Log{"close 3", "close 2", "close 1", "files"}));
    EXPECT_FALSE(host.ended);
}

TEST(CloseSub, WithForceClosesFilesAndEndsEvenWhenAllClosed) {
    FakeHost host;
    host.windows = {{1, {}}, {2, {}}};
    EXPECT_EQ(CloseSub(host, true), CloseSubResult::ProcessEnded);
    EXPECT_EQ(host.log, (Log{"close 2", "close 1", "files", "end"}));
}

TEST(CloseSub, WithoutForceGivesUpAtTheFirstRefusal) {
    FakeHost host;
    host.windows = {{1, {}}, {2, {.refuses = true}}, {3, {}}};
    EXPECT_EQ(CloseSub(host, false), CloseSubResult::GaveUp);
    EXPECT_EQ(host.log, (Log{"close 3", "close 2"}));
    EXPECT_TRUE(host.isOpen(1));
    EXPECT_TRUE(host.isOpen(2));
}

TEST(CloseSub, WithForceWalksOnPastARefusalAndEndsWithoutClosingTwice) {
    FakeHost host;
    host.windows = {{1, {}}, {2, {.refuses = true}}, {3, {}}};
    EXPECT_EQ(CloseSub(host, true), CloseSubResult::ProcessEnded);
    EXPECT_EQ(host.log, (Log{"close 3", "close 2", "close 1", "files", "end"}));
}

TEST(CloseSub, NoWindowsAtAll) {
    FakeHost host;
    EXPECT_EQ(CloseSub(host, false), CloseSubResult::AllClosed);
    EXPECT_EQ(host.log, (Log{"files"}));
}

// The first two pages end the process from their own close handler, after running
// CloseSub themselves: the walk ends when it reaches the second window.
TEST(CloseSub, AHandlerThatRunsCloseSubAgainIsNotAskedTwice) {
    FakeHost host;
    const auto pageZeroOrOne = [&host] {
        CloseSub(host, false);
        if (!host.ended) {
            host.endProcess();
        }
    };
    host.windows = {
        {1, {.handler = pageZeroOrOne}}, {2, {.handler = pageZeroOrOne}}, {3, {}}, {4, {}}};
    EXPECT_EQ(CloseSub(host, false), CloseSubResult::ProcessEnded);
    // 4 and 3 close quietly; 2's handler walks again: 1 (whose handler finds only windows
    // being closed, so a window is left open and the process ends there).
    EXPECT_EQ(host.log, (Log{"close 4", "close 3", "close 2", "close 1", "end"}));
}

TEST(CloseSub, PassesOverWindowsThatAHandlerClosedAlready) {
    FakeHost host;
    host.windows = {{1, {}}, {2, {}}, {3, {}}};
    host.windows[3].handler = [&host] { host.windows.erase(2); };
    EXPECT_EQ(CloseSub(host, false), CloseSubResult::AllClosed);
    EXPECT_EQ(host.log, (Log{"close 3", "close 1", "files"}));
}

TEST(CloseSub, StopsAsSoonAsTheProcessHasEnded) {
    FakeHost host;
    host.windows = {{1, {}}, {2, {.handler = [&host] { host.endProcess(); }}}, {3, {}}};
    EXPECT_EQ(CloseSub(host, true), CloseSubResult::ProcessEnded);
    EXPECT_EQ(host.log, (Log{"close 3", "close 2", "end"}));
}

}  // namespace
}  // namespace upd::app
