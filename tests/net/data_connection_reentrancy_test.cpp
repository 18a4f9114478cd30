// Handlers that re-enter the object raising their event: Disconnect, FetchURLString,
// replacing the handlers, destroying the object (or another one). Every path ends with at
// most one final event, nothing is raised after it, and nothing is touched after a
// destruction (the sanitizer build checks the latter).
#include <poll.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "net/data_connection.h"
#include "net/socket_layer.h"
#include "tests/net/net_test_support.h"
#include "tests/support/reactor_pump.h"
#include "tests/support/scripted_server.h"

namespace upd::net::test {
namespace {

using upd::test::pumpUntil;
using upd::test::Script;
using upd::test::ScriptedServer;

class Reentrancy : public ::testing::Test {
  protected:
    void SetUp() override { setConnectTimeoutMs(2000); }
};

const std::string kBody(3000, 'b');

Script plainReply() {
    return Script().readRequest().send(httpReply(200, kBody)).close();
}

// The reply that raises the event; the status and location ones need a reply of their own.
Script replyFor(const std::string& event) {
    if (event == "DownloadFailed 4") {
        return Script().readRequest().send(httpReply(404, "gone")).close();
    }
    if (event == "ObjectMoved") {
        return Script().readRequest().send(httpReply(302, "x", true, "Location: /y\r\n")).close();
    }
    return plainReply();
}

const std::vector<std::string> kEvents = {"Connected",     "QuerySent",        "StreamBytes",
                                          "BytesReceived", "DownloadFailed 4", "ObjectMoved"};

TEST_F(Reentrancy, DisconnectFromAnyEventEndsWithOneAbort) {
    for (const auto& event : kEvents) {
        SCOPED_TRACE(event);
        ScriptedServer server(replyFor(event));
        Download d;
        d->setDownloadType(2);
        d->setAutoRedirect(false);
        d.recorder.onEvent(event, [&] { d->Disconnect(); });
        d->FetchURLString(server.url("/x"));
        ASSERT_TRUE(d.runToEnd());
        EXPECT_EQ(d.recorder.lines.back(), "DownloadFailed 1 0");
        EXPECT_EQ(d.recorder.finalEvents, 1);
        EXPECT_EQ(d->SocketHandle(), 0);
        EXPECT_FALSE(d->IsConnected());
    }
}

TEST_F(Reentrancy, DestroyingTheObjectFromAnyEventStopsEverything) {
    std::vector<std::string> all = kEvents;
    all.push_back("Disconnected");
    for (const auto& event : all) {
        SCOPED_TRACE(event);
        ScriptedServer server(replyFor(event));
        Download d;
        d->setDownloadType(2);
        d->setAutoRedirect(false);
        std::size_t linesAtDestruction = 0;
        d.recorder.onEvent(event, [&] {
            linesAtDestruction = d.recorder.lines.size();
            d.connection.reset();
        });
        d.connection->FetchURLString(server.url("/x"));
        ASSERT_TRUE(pumpUntil([&] { return d.connection == nullptr; }));
        EXPECT_TRUE(server.waitFinished(0));  // the socket went with the object
        mainReactor().processReady();
        EXPECT_EQ(d.recorder.lines.size(), linesAtDestruction);
    }
}

// From the final event of a transfer that ended or could not connect.
TEST_F(Reentrancy, RestartFromTheFinalEventRunsASecondTransfer) {
    for (const char* first : {"/first", "http://127.0.0.1:1/x"}) {
        SCOPED_TRACE(first);
        ScriptedServer server(plainReply());
        Download d;
        d->setDownloadType(1);
        d.recorder.onEvent(first[0] == '/' ? "Disconnected" : "DownloadFailed 5",
                           [&] { d->FetchURLString(server.url("/second")); });
        d->FetchURLString(first[0] == '/' ? server.url(first) : first);
        ASSERT_TRUE(pumpUntil([&] { return d.recorder.finalEvents == 2; }));
        EXPECT_EQ(d.recorder.lines.back(), "Disconnected 0");
        EXPECT_EQ(server.received(server.connections() - 1),
                  plainRequest(server.url("/second"), "127.0.0.1"));
        EXPECT_EQ(d->GetBufferSize(), static_cast<std::int64_t>(kBody.size()));
    }
}

TEST_F(Reentrancy, RestartFromAChunkAbandonsTheFirstTransfer) {
    ScriptedServer server({Script().readRequest().send(httpReply(200, kBody)).readUntilClosed(),
                           Script().readRequest().send(httpReply(200, "second")).close()});
    Download d;
    d->setDownloadType(1);
    d->setPacketSize(100);
    d.recorder.onEvent("BytesReceived", [&] { d->FetchURLString(server.url("/second")); });
    d->FetchURLString(server.url("/first"));
    ASSERT_TRUE(d.runToEnd());
    EXPECT_EQ(d->GetBufferAsString(), "second");
    EXPECT_EQ(d.recorder.finalEvents, 1);
    EXPECT_EQ(d.recorder.lines.back(), "Disconnected 0");
    EXPECT_TRUE(server.waitFinished(0));
}

TEST_F(Reentrancy, DisconnectWhileTheCloseIsBeingHandledGivesOneFinalEvent) {
    ScriptedServer server(Script().readRequest().send(httpReply(200, kBody)).readUntilClosed());
    Download d;
    d->setDownloadType(1);
    d->FetchURLString(server.url("/x"));
    ASSERT_TRUE(pumpUntil(
        [&] { return !d.recorder.lines.empty() && d.recorder.lines.back() == "QuerySent 0"; }));
    // The reply is waiting in the socket when the close is handled: its read raises
    // BytesReceived, whose handler disconnects.
    pollfd p{d->SocketHandle(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    d.recorder.onEvent("BytesReceived", [&] { d->Disconnect(); });
    d->ProcessMessage(32);
    mainReactor().processReady();
    EXPECT_EQ(d.recorder.lines.back(), "DownloadFailed 1 0");
    EXPECT_EQ(d.recorder.finalEvents, 1);
    EXPECT_FALSE(d->IsConnected());
}

TEST_F(Reentrancy, ReplacingTheHandlersInsideAnEventTakesEffectAtOnce) {
    ScriptedServer server(plainReply());
    Download d;
    d->setDownloadType(1);
    d->setPacketSize(500);
    bool ended = false;
    int laterChunks = 0;
    d.recorder.onEvent("BytesReceived", [&] {
        DataConnectionEvents replacement;
        replacement.BytesReceived = [&](std::int64_t, std::int32_t) { ++laterChunks; };
        replacement.Disconnected = [&](std::int32_t) { ended = true; };
        d->setEvents(replacement);
    });
    d->FetchURLString(server.url("/x"));
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    EXPECT_TRUE(d.recorder.lines.back().starts_with("BytesReceived ")) << d.recorder.lines.back();
    EXPECT_EQ(std::count_if(d.recorder.lines.begin(), d.recorder.lines.end(),
                            [](const std::string& l) { return l.starts_with("BytesReceived"); }),
              1);
    EXPECT_GT(laterChunks, 0);
}

TEST_F(Reentrancy, DestroyingAnotherObjectWithNotificationsPendingIsSafe) {
    ScriptedServer serverA(plainReply());
    ScriptedServer serverB(plainReply());
    Download a;
    Download b;
    a->setDownloadType(1);
    b->setDownloadType(1);
    a.recorder.onEvent("QuerySent", [&] { b.connection.reset(); });
    b->FetchURLString(serverB.url("/b"));
    a->FetchURLString(serverA.url("/a"));
    ASSERT_TRUE(a.runToEnd());
    EXPECT_EQ(a.recorder.lines.back(), "Disconnected 0");
    EXPECT_EQ(b.recorder.finalEvents, 0);
}

}  // namespace
}  // namespace upd::net::test
