// Persistent connections: transfers "/1", "/2", ... one after the other, each by a download
// object of its own with KeepAlive, against a scripted server. Which connection carries which
// request, and how each transfer ends, one row per case.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>

#include "net/connection_pool.h"
#include "net/failure_code.h"
#include "tests/net/net_test_support.h"
#include "tests/support/expected_request.h"
#include "tests/support/scripted_server.h"

namespace upd::net::test {
namespace {

using upd::test::Script;
using upd::test::ScriptedServer;

std::string keep(std::string_view body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           std::string(body);
}
std::string keepChunked(std::string_view body) {
    return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::to_string(body.size()) +
           "\r\n" + std::string(body) + "\r\n0\r\n\r\n";
}
Script answer(Script s, std::string reply) {
    return s.readRequest().send(std::move(reply));
}

const std::string kDone = "Disconnected 0";
const std::string kCut = "DownloadFailed " + std::to_string(toWhy(FailureCode::ClosedEarly)) + " 0";

struct ReuseCase {
    std::string name;
    std::vector<Script> scripts;
    std::vector<std::string> ends;     // the final event of each transfer
    std::vector<std::string> bodies;   // what each kept in memory
    std::vector<std::string> carried;  // the paths each connection received, joined
    std::function<void(Download&, int)> setup = {};
    std::optional<std::int64_t> resumeFirst = {};  // transfer 1 asks for the rest from there
};

void PrintTo(const ReuseCase& row, std::ostream* os) {
    *os << row.name;
}

std::vector<ReuseCase> reuseCases() {
    const auto maxTwoOnFirst = [](Download& d, int transfer) {
        d->setMaxDownload(transfer == 1 ? 2 : -1);
    };
    // clang-format off
    return {
        {"OneConnectionCarriesEveryTransfer",
         {answer(answer(answer(Script(), keep("a")), keepChunked("bb")), keep("ccc"))},
         {kDone, kDone, kDone}, {"a", "bb", "ccc"}, {"/1/2/3"}},
        {"ServerClosingTheIdleConnectionGetsANewOne",
         {answer(Script(), keep("a")).close(), answer(Script(), keep("b"))},
         {kDone, kDone}, {"a", "b"}, {"/1", "/2"}},
        {"ConnectionCloseIsNotKept",
         {answer(Script(), "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\na"),
          answer(Script(), keep("b"))},
         {kDone, kDone}, {"a", "b"}, {"/1", "/2"}},
        {"Http10IsNotKept",
         {answer(Script(), httpReply(200, "a")), answer(Script(), keep("b"))},
         {kDone, kDone}, {"a", "b"}, {"/1", "/2"}},
        {"ABodyNotReadToItsEndIsNotKept",
         {answer(Script(), keep("abcde")), answer(Script(), keep("b"))},
         {kDone, kDone}, {"ab", "b"}, {"/1", "/2"}, maxTwoOnFirst},
        {"CutBeforeTheReplyIsSentAgainOnce",
         {answer(Script(), keep("a")).readRequest().close(), answer(Script(), keep("b"))},
         {kDone, kDone}, {"a", "b"}, {"/1/2", "/2"}},
        // Replies that end without a close: an error page to a range, one without a body.
        {"AnErrorPageToARangeEndsAtItsLength",
         {answer(answer(Script(), "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 4\r\n\r\nnope"),
                 keep("b"))},
         {kDone, kDone}, {"nope", "b"}, {"/1/2"}, {}, 3},
        {"NoContentHasNoBody",
         {answer(answer(Script(), "HTTP/1.1 204 No Content\r\n\r\n"), keep("b"))},
         {kDone, kDone}, {"", "b"}, {"/1/2"}},
        {"CutAfterTheReplyStartedFails",
         {answer(Script(), keep("a")).readRequest().send("HTTP/1.1 2").close()},
         {kDone, kCut}, {"a", ""}, {"/1/2"}},
    };
    // clang-format on
}

class ConnectionReuse : public ::testing::TestWithParam<ReuseCase> {
  protected:
    // The pool's idle connections are the server's to see closed.
    void TearDown() override { connectionPool().clear(); }
};

TEST_P(ConnectionReuse, Case) {
    const ReuseCase& row = GetParam();
    ScriptedServer server(row.scripts);
    for (std::size_t k = 0; k < row.ends.size(); ++k) {
        const int transfer = static_cast<int>(k) + 1;
        SCOPED_TRACE(transfer);
        Download d;
        d->setDownloadType(1);
        d->setKeepAlive(true);
        if (row.setup) {
            row.setup(d, transfer);
        }
        if (row.resumeFirst && transfer == 1) {
            d->setUseResume(true);
            d->setResumeFrom(*row.resumeFirst);
        }
        d->FetchURLString(server.url("/" + std::to_string(transfer)));
        ASSERT_TRUE(d.runToEnd());
        EXPECT_EQ(d.lines.back(), row.ends[k]);
        std::vector<std::uint8_t> body;
        d->GetBuffer(body);
        EXPECT_EQ(std::string(body.begin(), body.end()), row.bodies[k]);
    }
    connectionPool().clear();
    ASSERT_EQ(server.connections(), row.carried.size());
    for (std::size_t c = 0; c < row.carried.size(); ++c) {
        ASSERT_TRUE(server.waitFinished(c));
        std::string requests;
        std::string paths;
        for (char path = '1'; path <= '9'; ++path) {
            const std::string request = upd::test::expectedRequest(
                {.target = std::string("/") + path,
                 .host = "127.0.0.1:" + std::to_string(server.port()),
                 .rangeFrom = path == '1' ? row.resumeFirst : std::nullopt,
                 .keepAlive = true});
            if (server.received(c).find(request) != std::string::npos) {
                requests += request;
                paths += std::string("/") + path;
            }
        }
        EXPECT_EQ(paths, row.carried[c]) << "connection " << c;
        EXPECT_EQ(server.received(c), requests) << "connection " << c;
    }
    EXPECT_EQ(server.errors(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Rows, ConnectionReuse, ::testing::ValuesIn(reuseCases()),
                         [](const auto& each) { return each.param.name; });

// A redirect to another origin goes over a connection to it; the first connection, whose reply
// was not read, is not kept, and the next transfer to the first origin opens a new one.
TEST(ConnectionReuseRedirect, AnotherOriginTakesAnotherConnection) {
    ScriptedServer other(answer(Script(), keep("there")));
    const std::string moved =
        "HTTP/1.1 302 Found\r\nLocation: " + other.url("/x") + "\r\nContent-Length: 5\r\n\r\nmoved";
    ScriptedServer first({answer(Script(), moved), answer(Script(), keep("here"))});
    for (const char* path : {"/1", "/2"}) {
        Download d;
        d->setDownloadType(1);
        d->setKeepAlive(true);
        d->FetchURLString(first.url(path));
        ASSERT_TRUE(d.runToEnd());
        EXPECT_EQ(d.lines.back(), kDone);
    }
    connectionPool().clear();
    EXPECT_EQ(first.connections(), 2u);
    EXPECT_EQ(other.connections(), 1u);
    EXPECT_EQ(first.errors(), std::vector<std::string>{});
    EXPECT_EQ(other.errors(), std::vector<std::string>{});
}

}  // namespace
}  // namespace upd::net::test
