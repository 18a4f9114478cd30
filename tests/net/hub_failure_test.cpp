// When the notification hub cannot be made (here: the process may open no more descriptors,
// so the reactor cannot start), the object says so at once with failure 2 and stays out of
// the registry; once descriptors are available again a new object works. A process of its
// own: its reactor must never have been opened.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "net/data_connection.h"
#include "net/mdl_data_connection.h"
#include "net/reactor.h"

namespace upd::net {
namespace {

TEST(NotificationHub, FailureToMakeItIsReportedFromCreation) {
    ASSERT_FALSE(mainReactor().isOpen());
    // The sanitizer runtime checks a dynamic type it has not seen before through a pipe,
    // which cannot be made while no descriptor is free: show it the constructor's types first.
    auto events = std::make_shared<const DataConnectionEvents>();
    auto copy = events;
    auto life = std::make_shared<const char>('\0');
    std::weak_ptr<const char> watcher = life;
    EXPECT_FALSE(watcher.expired());

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = static_cast<rlim_t>(dup(0));  // the lowest free descriptor
    close(static_cast<int>(none.rlim_cur));
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    std::vector<std::string> failures;
    DataConnectionEvents handlers;
    handlers.DownloadFailed = [&](std::int32_t why, std::int32_t id) {
        failures.push_back(std::to_string(why) + " " + std::to_string(id));
    };
    auto orphan = std::make_unique<DataConnection>(handlers);
    setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_EQ(failures, std::vector<std::string>{"2 0"});
    EXPECT_EQ(connectionIndex(*orphan), -1);
    EXPECT_EQ(SocketWindow(), 0);
    orphan.reset();
    EXPECT_EQ(failures, std::vector<std::string>{"2 0"});  // nothing more

    DataConnection working;
    EXPECT_NE(SocketWindow(), 0);
    EXPECT_EQ(connectionIndex(working), 0);
}

}  // namespace
}  // namespace upd::net
