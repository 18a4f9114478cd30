#include "app/termination_signals.h"

#include <gtest/gtest.h>

#include <csignal>

namespace upd::app {
namespace {

TEST(TerminationSignals, EachSignalBecomesOneByteForTheEventLoop) {
    const int fd = TerminationSignals::install();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(TerminationSignals::install(), fd);
    EXPECT_EQ(TerminationSignals::drain(fd), 0);

    ASSERT_EQ(raise(SIGTERM), 0);
    ASSERT_EQ(raise(SIGHUP), 0);
    ASSERT_EQ(raise(SIGINT), 0);
    // raise() returns after the handler has run in this thread.
    EXPECT_EQ(TerminationSignals::drain(fd), 3);
    EXPECT_EQ(TerminationSignals::drain(fd), 0);
}

}  // namespace
}  // namespace upd::app
