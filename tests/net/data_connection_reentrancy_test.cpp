// Handlers that re-enter the object raising their event: Disconnect, FetchURLString,
// replacing the handlers, destroying the object (or another one). Every path ends with at
// most one final event, nothing is raised after it, and nothing is touched after a
// destruction (the sanitizer build checks the latter).
#include <poll.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/net/net_test_support.h"
#include "tests/support/expected_request.h"
#include "tests/support/scripted_server.h"

namespace upd::net::test {
namespace {

using upd::test::pumpUntil;
using upd::test::Script;
using upd::test::ScriptedServer;

const std::string kBody(3000, 'b');

Script reply(std::string bytes = httpReply(200, kBody)) {
    return Script().readRequest().send(std::move(bytes)).close();
}

// Each event with a reply that raises it.
const std::vector<std::pair<std::string, Script>> kEvents = {
    {"Connected", reply()},
    {"QuerySent", reply()},
    {"StreamBytes", reply()},
    {"BytesReceived", reply()},
    {"DownloadFailed 4", reply(httpReply(404, "gone"))},
    {"ObjectMoved", reply(httpReply(302, "x", true, "Location: /y\r\n"))},
    {"Disconnected", reply()},
};

TEST(Reentrancy, DisconnectFromAnyEventEndsWithOneAbort) {
    for (const auto& [event, script] : kEvents) {
        if (event == "Disconnected") {
            continue;  // already final
        }
        SCOPED_TRACE(event);
        ScriptedServer server(script);
        Download d;
        d->setDownloadType(2);
        d->setAutoRedirect(false);
        d.onEvent(event, [&] { d->Disconnect(); });
        d->FetchURLString(server.url("/x"));
        ASSERT_TRUE(d.runToEnd());
        EXPECT_EQ(d.lines.back(), "DownloadFailed 1 0");
        EXPECT_EQ(d.finalEvents, 1);
        EXPECT_EQ(d->SocketHandle(), 0);
    }
}

TEST(Reentrancy, DestroyingTheObjectFromAnyEventStopsEverything) {
    for (const auto& [event, script] : kEvents) {
        SCOPED_TRACE(event);
        ScriptedServer server(script);
        Download d;
        d->setDownloadType(2);
        d->setAutoRedirect(false);
        std::size_t linesAtDestruction = 0;
        d.onEvent(event, [&] {
            linesAtDestruction = d.lines.size();
            d.connection.reset();
        });
        d->FetchURLString(server.url("/x"));
        ASSERT_TRUE(pumpUntil([&] { return d.connection == nullptr; }));
        EXPECT_TRUE(server.waitFinished(0));  // the socket went with the object
        mainReactor().processReady();
        EXPECT_EQ(d.lines.size(), linesAtDestruction);
    }
}

// From the final event of a transfer that ended or could not connect.
TEST(Reentrancy, RestartFromTheFinalEventRunsASecondTransfer) {
    for (const char* first : {"/first", "http://127.0.0.1:1/x"}) {
        SCOPED_TRACE(first);
        ScriptedServer server(reply());
        Download d;
        d->setDownloadType(1);
        d.onEvent(first[0] == '/' ? "Disconnected" : "DownloadFailed 5",
                  [&] { d->FetchURLString(server.url("/second")); });
        d->FetchURLString(first[0] == '/' ? server.url(first) : first);
        ASSERT_TRUE(pumpUntil([&] { return d.finalEvents == 2; }));
        EXPECT_EQ(d.lines.back(), "Disconnected 0");
        EXPECT_EQ(server.received(server.connections() - 1),
                  upd::test::expectedRequest({.target = "/second"}));
        EXPECT_EQ(d->GetBufferSize(), static_cast<std::int64_t>(kBody.size()));
    }
}

TEST(Reentrancy, DisconnectWhileTheCloseIsBeingHandledGivesOneFinalEvent) {
    ScriptedServer server(Script().readRequest().send(httpReply(200, kBody)));
    Download d;
    d->setDownloadType(1);
    d->FetchURLString(server.url("/x"));
    ASSERT_TRUE(pumpUntil([&] { return !d.lines.empty() && d.lines.back() == "QuerySent 0"; }));
    // The reply is waiting in the socket when the close is handled: its read raises
    // BytesReceived, whose handler disconnects.
    pollfd p{d->SocketHandle(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    d.onEvent("BytesReceived", [&] { d->Disconnect(); });
    d->ProcessMessage(32);
    mainReactor().processReady();
    EXPECT_EQ(d.lines.back(), "DownloadFailed 1 0");
    EXPECT_EQ(d.finalEvents, 1);
}

TEST(Reentrancy, ReplacingTheHandlersInsideAnEventTakesEffectAtOnce) {
    ScriptedServer server(reply());
    Download d;
    d->setDownloadType(1);
    d->setPacketSize(500);
    bool ended = false;
    int laterChunks = 0;
    d.onEvent("BytesReceived", [&] {
        DataConnectionEvents replacement;
        replacement.BytesReceived = [&](std::int64_t, std::int32_t) { ++laterChunks; };
        replacement.Disconnected = [&](std::int32_t) { ended = true; };
        d->setEvents(replacement);
    });
    d->FetchURLString(server.url("/x"));
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    EXPECT_EQ(std::count_if(d.lines.begin(), d.lines.end(),
                            [](const std::string& l) { return l.starts_with("BytesReceived"); }),
              1);
    EXPECT_TRUE(d.lines.back().starts_with("BytesReceived ")) << d.lines.back();
    EXPECT_GT(laterChunks, 0);
}

// b holds the registry's first entry: a's notifications are routed past the emptied one.
TEST(Reentrancy, DestroyingAnotherObjectWithNotificationsPendingIsSafe) {
    ScriptedServer serverA(reply());
    ScriptedServer serverB(reply());
    Download b;
    Download a;
    a->setDownloadType(1);
    b->setDownloadType(1);
    a.onEvent("QuerySent", [&] { b.connection.reset(); });
    b->FetchURLString(serverB.url("/b"));
    a->FetchURLString(serverA.url("/a"));
    ASSERT_TRUE(a.runToEnd());
    EXPECT_EQ(a.lines.back(), "Disconnected 0");
    EXPECT_EQ(b.finalEvents, 0);
}

}  // namespace
}  // namespace upd::net::test
