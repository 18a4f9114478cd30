// The desktop's opener is looked up in PATH's absolute folders only: an empty or relative
// entry would name the working folder (the application folder), where a planted xdg-open must
// never run. Each fake xdg-open tells through a named pipe that it ran.
#include "platform/spawn_detached.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::platform {
namespace {

TEST(OpenWithDesktop, RunsOnlyAnOpenerFoundInAnAbsoluteFolder) {
    const test::TempDir dir;
    const std::string pipe = dir.file("ran");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const char* opener : {"work/xdg-open", "work/relative/bin/xdg-open", "bin/xdg-open"}) {
        const std::string script = dir.write(
            opener, "#!/bin/sh\necho " + std::string(opener) + " \"$1\" > '" + pipe + "'\n");
        ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    }
    dir.write("folder/xdg-open/not-a-program", "");
    // PATH, and whether bin/xdg-open runs; a planted one never does.
    const std::pair<std::string, bool> cases[] = {
        {"", false},
        {":.:relative/bin:" + dir.file("bin"), true},
        {dir.file("folder") + ":" + dir.file("bin"), true},
    };
    for (const auto& [path, runs] : cases) {
        SCOPED_TRACE("PATH=" + path);
        test::EnvGuard env;
        env.set("PATH", path.c_str());
        // Opened first, without waiting, so that an opener's write finds a reader.
        int ran = open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(ran, 0);
        const int error = openWithDesktop("update/Setup.zip", dir.file("work"));
        EXPECT_EQ(error, runs ? 0 : ENOENT);
        std::string line;
        char buffer[256];
        for (int waits = 0; error == 0 && line.find('\n') == std::string::npos && waits < 100;) {
            pollfd ready{ran, POLLIN, 0};
            const int events = poll(&ready, 1, 100);
            const ssize_t n = events == 1 ? ::read(ran, buffer, sizeof buffer) : 0;
            line.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (n <= 0) {
                ++waits;
            }
            if (n == 0 && events == 1) {
                // An earlier case's opener closed its end only now: reading anew clears that.
                close(ran);
                ran = open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            }
        }
        EXPECT_EQ(line, runs ? "bin/xdg-open update/Setup.zip\n" : "");
        close(ran);
    }
}

}  // namespace
}  // namespace upd::platform
