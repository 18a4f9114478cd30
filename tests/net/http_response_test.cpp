// The response header: lines, its end, the size bound, and what is read from it. A header
// split at every receive boundary is tested through the engine (data_connection_test).
#include <gtest/gtest.h>

#include "net/chunked_decoder.h"
#include "net/http_response.h"

namespace upd::net {
namespace {

TEST(ReadHeaderLine, TakesTheRestWhenNoLineEndFollows) {
    std::string text = "no end";
    EXPECT_EQ(ReadHeaderLine(text), "no end");
    EXPECT_EQ(text, "");
}

TEST(HeaderCollector, OnlyABlankLineEndsItWithin64KiB) {
    HeaderCollector lf;
    EXPECT_EQ(lf.feed("HTTP/1.0 200 OK\n\n\r\n\r").status, HeaderCollector::Status::Incomplete);
    EXPECT_EQ(lf.feed("\n").status, HeaderCollector::Status::Complete);

    HeaderCollector c;
    const std::string filler(HeaderCollector::kMaxHeaderBytes - 1, 'a');
    EXPECT_EQ(c.feed(filler).status, HeaderCollector::Status::Incomplete);
    EXPECT_EQ(c.feed("a").status, HeaderCollector::Status::TooLong);

    HeaderCollector fits;
    const std::string exact(HeaderCollector::kMaxHeaderBytes - 4, 'b');
    EXPECT_EQ(fits.feed(exact + "\r\n\r\nbody").status, HeaderCollector::Status::Complete);

    HeaderCollector over;
    EXPECT_EQ(over.feed(exact + "b\r\n\r\n").status, HeaderCollector::Status::TooLong);
}

TEST(ParseResponseHeader, ContentLengthWithoutRegardToCase) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"CONTENT-LENGTH:1234\r\n", 1234},
        {"Content-Length : 1234\r\n", -1},
        {"Content-Length: 1\r\ncontent-length: 2\r\n", 2},
    };
    for (const auto& [fields, length] : cases) {
        const std::string header = "HTTP/1.0 200 OK\r\n" + std::string(fields) + "\r\n";
        EXPECT_EQ(parseResponseHeader(header).contentLength, length) << header;
    }
}

TEST(ParseResponseHeader, LastLocationTrimmedAndTheStatus) {
    const auto h = parseResponseHeader(
        "HTTP/1.0 302 Found\r\nLocation: /first\r\nLOCATION:   /second  \r\n\r\n");
    ASSERT_TRUE(h.location);
    EXPECT_EQ(*h.location, "/second");
    EXPECT_FALSE(parseResponseHeader("HTTP/1.0 302 Found\r\n\r\n").location.has_value());
    // The status sits between the first two blanks.
    EXPECT_EQ(parseResponseHeader("HTTP/1.1 404 \r\n\r\n").status, 404);
    EXPECT_FALSE(parseResponseHeader("HTTP/1.0  200 OK\r\n\r\n").status.has_value());
    EXPECT_FALSE(parseResponseHeader("garbage\r\n\r\n").status.has_value());
    EXPECT_EQ(parseResponseHeader("HTTP/1.0 abc OK\r\n\r\n").status, 0);
}

TEST(ChunkedDecoder, DecodesWholeOrByteByByteAndRefusesBrokenFraming) {
    using State = ChunkedDecoder::State;
    const std::string longSize = "1234567890abcdef\r\n";  // 16 hex digits: would overflow
    const struct {
        std::string input;
        std::string data;
        State state;
    } cases[] = {
        {"A;ext=\"x\"\r\n0123456789\r\n0\r\nT: v\r\n\r\nrest", "0123456789", State::Done},
        {"3\r\nabcX\n", "abc", State::Broken},
        {"3\nabc", "", State::Broken},
        {"\r\n", "", State::Broken},
        {"-1\r\n", "", State::Broken},
        {"5x\r\n", "", State::Broken},
        {longSize, "", State::Broken},
        {std::string(5000, '1'), "", State::Broken},
        {"0\r\n" + std::string(70'000, 'T'), "", State::Broken},
    };
    for (const auto& c : cases) {
        for (const bool oneByOne : {false, true}) {
            SCOPED_TRACE(c.input.substr(0, 40) + (oneByOne ? " (byte by byte)" : ""));
            ChunkedDecoder decoder;
            std::string data;
            std::size_t taken = 0;
            const std::size_t step = oneByOne ? 1 : c.input.size();
            for (std::size_t i = 0; i < c.input.size() && !decoder.done() && !decoder.broken();
                 i += step) {
                taken += decoder.feed(std::string_view(c.input).substr(i, step), data);
            }
            EXPECT_EQ(data, c.data);
            EXPECT_EQ(decoder.state(), c.state);
            if (c.state == State::Done) {
                EXPECT_EQ(c.input.substr(taken), c.input.ends_with("rest") ? "rest" : "");
            }
        }
    }
}

// A busy server's Retry-After: seconds, or a date counted from now; nothing for anything else.
TEST(RetryAfterSeconds, SecondsOrADateFromNow) {
    const std::int64_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    const struct {
        const char* value;
        std::optional<std::int64_t> seconds;
    } cases[] = {{"120", 120},
                 {"Sun, 06 Nov 1994 08:51:37 GMT", 120},
                 {"Sun, 06 Nov 1994 08:00:00 GMT", 0},
                 {"Sun, 06 Nov 1994 08:51:37 CET", std::nullopt},
                 {"Sun, 06 Noz 1994 08:51:37 GMT", std::nullopt},
                 {"6 Nov 1994", std::nullopt},
                 {"-5", std::nullopt},
                 {"", std::nullopt}};
    for (const auto& c : cases) {
        EXPECT_EQ(retryAfterSeconds(c.value, now), c.seconds) << c.value;
    }
}

}  // namespace
}  // namespace upd::net
