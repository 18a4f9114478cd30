#include "app/progress_line.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <vector>

#include "tests/support/env_guard.h"

namespace upd::app {
namespace {

TEST(ProgressText, SaysTheSizeTheShareTheSpeedAndTheTimeLeft) {
    // clang-format off
    const struct { std::int64_t done, total; double speed; std::int64_t left; const char* text; } cases[] = {
        {0, -1, -1, -1, "0.0 KB"},
        {512, -1, -1, -1, "0.5 KB"},
        {1048575, -1, -1, -1, "1.0 MB"},  // not "1024.0 KB"
        {1572864, 10485760, 2411724.8, 65, "1.5 MB of 10.0 MB (15 %), 2.3 MB/s, 1 min 05 s left"},
        {2048, 1024, -1, -1, "2.0 KB of 1.0 KB (100 %)"},
        {0, 0, 0, 0, "0.0 KB of 0.0 KB (100 %), 0.0 KB/s, 0 s left"},
        {5242880, -1, 1536, 7384, "5.0 MB, 1.5 KB/s, 2 h 03 min left"},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(progressText(c.done, c.total, c.speed, c.left), c.text);
    }
}

// Driven with made-up times: phases of `calls` calls `stepMs` apart, each adding `bytes`. What
// reaches the other end is read back up to a marker written last.
TEST(ProgressLine, RedrawsAtMostTenTimesASecondAndOnlyOnATerminal) {
    // clang-format off
    struct Phase { std::int64_t stepMs; int calls; std::int64_t bytes; };
    const struct { bool terminal, enabled; unsigned short columns; std::int64_t total;
                   std::vector<Phase> phases; std::size_t draws; const char* last; } cases[] = {
        {true, true, 0, -1, {{10, 100, 1000}}, 10, "88.9 KB, 97.7 KB/s"},
        {true, true, 0, 20 << 20, {{100, 11, 1 << 20}}, 11, "11.0 MB of 20.0 MB (55 %), 10.0 MB/s, 1 s left"},
        {true, true, 12, 20 << 20, {{100, 11, 1 << 20}}, 11, "11.0 MB of "},  // never wraps
        // The speed of the last five seconds, not the average since the start.
        {true, true, 0, -1, {{100, 100, 104858}, {100, 100, 314573}}, 200, "40.0 MB, 3.0 MB/s"},
        {true, false, 0, -1, {{10, 100, 1000}}, 0, ""},
        {false, true, 0, -1, {{10, 100, 1000}}, 0, ""},
    };
    // clang-format on
    test::EnvGuard env;
    env.set("TERM", nullptr);
    for (const auto& c : cases) {
        int fds[2] = {-1, -1};  // read end, write end
        const winsize size{0, c.columns, 0, 0};
        ASSERT_EQ(c.terminal ? openpty(&fds[0], &fds[1], nullptr, nullptr, &size) : pipe(fds), 0);
        {
            ProgressLine line(fds[1], c.enabled);
            std::int64_t now = 0, done = 0;
            for (const Phase& phase : c.phases) {
                for (int i = 0; i < phase.calls; ++i, now += phase.stepMs) {
                    line.update(done += phase.bytes, c.total, now);
                }
            }
        }
        ASSERT_EQ(write(fds[1], "#", 1), 1);
        std::string out;
        char buffer[4096];
        pollfd ready{fds[0], POLLIN, 0};
        for (int idle = 0; !out.ends_with('#') && idle < 50;) {  // 5 quiet seconds at most
            const ssize_t n = poll(&ready, 1, 100) == 1 ? read(fds[0], buffer, sizeof buffer) : 0;
            idle += n > 0 ? 0 : 1;
            out.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        close(fds[0]);
        close(fds[1]);
        // Each draw is "\r" TEXT "\x1b[K"; the destructor's clearing ends with an empty text.
        std::vector<std::string> texts;
        for (std::size_t at = 0, end; (end = out.find("\x1b[K", at)) != std::string::npos;
             at = end + 3) {
            texts.push_back(out.substr(at + 1, end - at - 1));
        }
        EXPECT_EQ(texts.size(), c.draws + (c.draws > 0));
        EXPECT_EQ(texts.size() < 2 ? "" : texts[texts.size() - 2], c.last);
        EXPECT_TRUE(c.draws == 0 ? out == "#" : out.ends_with("\r\x1b[K#")) << out;
    }
}

}  // namespace
}  // namespace upd::app
