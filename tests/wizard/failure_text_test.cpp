// The text and way out chosen for each way a download fails; a real transfer onto a full disk
// (/dev/full) tells the megabytes still to come.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/net/net_test_support.h"
#include "tests/support/scripted_server.h"
#include "wizard/failure_text.h"

namespace upd::wizard {
namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

TEST(FailureText, EveryFailureHasItsTextAndWayOut) {
    using enum WayOut;
    const std::string refused = "the certificate of h was not accepted: ";
    const struct {
        TransferFacts facts;
        int id;
        std::vector<std::string> values;
        WayOut way;
    } cases[] = {
        // clang-format off
        {{.why = 0}, kTextTransferCut, {}, Retry},
        {{.why = 2}, kTextCannotStart, {}, Retry},
        {{.why = 4, .reply = 503}, kTextServerAnsweredError, {}, RetryOrAnotherServer},
        {{.why = 4, .reply = 404}, kTextFileMissing, {}, AnotherServer},
        {{.why = 5}, kTextServerUnreachable, {}, RetryOrAnotherServer},
        {{.why = 6, .fileError = EACCES}, kTextFileUnusable, {}, Retry},
        {{.why = 6, .fileError = ENOSPC, .length = 10 * kMiB, .received = 5 * kMiB / 2},
         kTextDiskFullNeeds, {"7.5"}, Retry},
        {{.why = 6, .fileError = ENOSPC, .length = kMiB, .received = kMiB - 1},
         kTextDiskFullNeeds, {"0.1"}, Retry},
        {{.why = 6, .fileError = ENOSPC}, kTextDiskFull, {}, Retry},
        {{.why = 7}, kTextProxyUnreachable, {}, RetryOrAnotherServer},
        {{.why = 8, .detail = "403 Forbidden"}, kTextProxyRefused, {}, RetryOrAnotherServer},
        {{.why = 9}, kTextProxySignIn, {}, AnotherServer},
        {{.why = 11}, kTextUnusableAddress, {}, AnotherServer},
        {{.why = 12, .detail = "the TLS handshake with h failed: wrong version number"},
         kTextNoSecureConnection, {}, RetryOrAnotherServer},
        {{.why = 12, .detail = refused + "certificate has expired"}, kTextCertificateDates, {},
         RetryOrAnotherServer},
        {{.why = 12, .detail = refused + "Hostname mismatch"}, kTextCertificateRefused, {},
         AnotherServer},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.facts.why) + " " + c.facts.detail);
        const FailureDescription shown = describeTransfer(c.facts);
        EXPECT_EQ(shown.textId, c.id);
        EXPECT_EQ(shown.values, c.values);
        EXPECT_EQ(shown.wayOut, c.way);
    }
    // The peer's words stay in brackets, never as control bytes.
    EXPECT_EQ(describeTransfer({.why = 8, .detail = "no\x1b[2J"}).technical, "no\\x1b[2J");
}

TEST(FailureText, AFullDiskTellsTheSpaceStillNeeded) {
    test::ScriptedServer server(test::Script().readRequest().send(
        "HTTP/1.0 200 OK\r\nContent-Length: 3145728\r\n\r\n" + std::string(50000, 'x')));
    net::test::Download download;
    download->setFilename("/dev/full");
    download->setUseTempFile(false);
    download->FetchURLString(server.url("/big.bin"));
    ASSERT_TRUE(download.runToEnd());
    // 3 MiB less the at most 50000 bytes that arrived, rounded up to the tenth.
    const FailureDescription shown = describeTransfer(transferFacts(6, download.connection.get()));
    EXPECT_EQ(shown.textId, kTextDiskFullNeeds);
    EXPECT_EQ(shown.values, std::vector<std::string>{"3.0"});
}

}  // namespace
}  // namespace upd::wizard
