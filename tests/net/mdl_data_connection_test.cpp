// The module shared by all download objects: the registry, the hub's lifetime, and the
// routing of a notification to the object that holds the socket.
#include <gtest/gtest.h>

#include "net/mdl_data_connection.h"
#include "tests/net/net_test_support.h"
#include "tests/support/scripted_server.h"

namespace upd::net::test {
namespace {

using upd::test::Script;
using upd::test::ScriptedServer;

TEST(Module, RegistryReusesTheLowestEmptyEntry) {
    ASSERT_EQ(LiveConnections(), 0);
    auto a = std::make_unique<DataConnection>();
    auto b = std::make_unique<DataConnection>();
    auto c = std::make_unique<DataConnection>();
    EXPECT_EQ(connectionIndex(*a), 0);
    EXPECT_EQ(connectionIndex(*b), 1);
    EXPECT_EQ(connectionIndex(*c), 2);
    RegisterConnection(*b);  // already there: nothing changes
    EXPECT_EQ(LiveConnections(), 3);

    b.reset();
    const std::int32_t slots = ConnectionSlots();
    auto d = std::make_unique<DataConnection>();
    EXPECT_EQ(connectionIndex(*d), 1);
    EXPECT_EQ(ConnectionSlots(), slots);

    UnregisterConnection(*d);
    UnregisterConnection(*d);  // not there any more: nothing changes
    EXPECT_EQ(LiveConnections(), 2);
    EXPECT_EQ(connectionIndex(*d), -1);
    RegisterConnection(*d);
    EXPECT_EQ(connectionIndex(*d), 1);
}

TEST(Module, HubLivesFromTheFirstObjectToTheLast) {
    ASSERT_EQ(SocketWindow(), 0);
    auto first = std::make_unique<DataConnection>();
    const std::int32_t hub = SocketWindow();
    EXPECT_NE(hub, 0);
    auto second = std::make_unique<DataConnection>();
    first.reset();
    EXPECT_EQ(SocketWindow(), hub);
    second.reset();
    EXPECT_EQ(SocketWindow(), 0);
    DataConnection third;
    EXPECT_NE(SocketWindow(), 0);
    EXPECT_NE(SocketWindow(), hub);
}

TEST(Module, NotificationGoesToTheObjectHoldingTheSocket) {
    ScriptedServer server(Script{});
    Download bystander;
    Download holder;
    holder->setDownloadType(1);
    holder->FetchURLString(server.url("/x"));
    ASSERT_EQ(holder.lines, (std::vector<std::string>{"Connected 0"}));
    const int socket = holder->liveSocket();

    SocketWindowProc(SocketWindow(), kSocketMessage, socket + 1000, kFdClose);  // nobody's
    SocketWindowProc(SocketWindow(), kSocketMessage - 1, socket, kFdClose);     // not ours
    EXPECT_EQ(holder.lines.size(), 1u);

    // A close whose high half carries an error (ECONNRESET) is handled as a close.
    SocketWindowProc(SocketWindow(), kSocketMessage, socket, kFdClose | (104 << 16));
    EXPECT_EQ(holder.lines, (std::vector<std::string>{"Connected 0", "DownloadFailed 0 0"}));
    EXPECT_TRUE(bystander.lines.empty());
    EXPECT_EQ(holder->SocketHandle(), -1);
}

}  // namespace
}  // namespace upd::net::test
