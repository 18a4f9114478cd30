// The response header: lines, collection across receives at every split, the size bound,
// and what is read from it.
#include <gtest/gtest.h>

#include "net/http_response.h"

namespace upd::net {
namespace {

TEST(ReadHeaderLine, TakesOneLineOffTheFront) {
    std::string text = "first\r\nsecond\r\n\r\n";
    EXPECT_EQ(ReadHeaderLine(text), "first");
    EXPECT_EQ(text, "second\r\n\r\n");
    EXPECT_EQ(ReadHeaderLine(text), "second");
    EXPECT_EQ(ReadHeaderLine(text), "");
    EXPECT_EQ(text, "");
    text = "no end";
    EXPECT_EQ(ReadHeaderLine(text), "no end");
    EXPECT_EQ(text, "");
}

const std::string kHeader = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n";
const std::string kReply = kHeader + "body";

TEST(HeaderCollector, FindsTheEndSplitAtEveryPosition) {
    for (std::size_t k = 0; k <= kReply.size(); ++k) {
        HeaderCollector c;
        const std::string_view first = std::string_view(kReply).substr(0, k);
        const std::string_view second = std::string_view(kReply).substr(k);
        auto r = c.feed(first);
        std::string body;
        if (r.status == HeaderCollector::Status::Incomplete) {
            r = c.feed(second);
            body = second.substr(r.bodyOffset);
        } else {
            body = std::string(first.substr(r.bodyOffset)) + std::string(second);
        }
        ASSERT_EQ(r.status, HeaderCollector::Status::Complete) << "split at " << k;
        EXPECT_EQ(body, "body") << "split at " << k;
        EXPECT_EQ(c.takeHeader(), kHeader) << "split at " << k;
    }
}

TEST(HeaderCollector, OneByteAtATime) {
    HeaderCollector c;
    std::size_t i = 0;
    HeaderCollector::Result r;
    for (; i < kReply.size(); ++i) {
        r = c.feed(std::string_view(kReply).substr(i, 1));
        if (r.status != HeaderCollector::Status::Incomplete) {
            break;
        }
    }
    ASSERT_EQ(r.status, HeaderCollector::Status::Complete);
    EXPECT_EQ(i + 1, kHeader.size());
    EXPECT_EQ(r.bodyOffset, 1u);  // the chunk ended with the header: no body in it
    EXPECT_EQ(c.takeHeader(), kHeader);
}

TEST(HeaderCollector, LoneLineFeedsOrHalfTerminatorsDoNotEndIt) {
    HeaderCollector c;
    EXPECT_EQ(c.feed("HTTP/1.0 200 OK\n\n\r\n\r").status, HeaderCollector::Status::Incomplete);
    EXPECT_EQ(c.feed("\n").status, HeaderCollector::Status::Complete);
}

TEST(HeaderCollector, AHeaderMustEndWithin64KiB) {
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
    EXPECT_EQ(parseResponseHeader("HTTP/1.0 200 OK\r\nContent-Length: 1234\r\n\r\n").contentLength,
              1234);
    EXPECT_EQ(parseResponseHeader("HTTP/1.0 200 OK\r\nCONTENT-LENGTH:1234\r\n\r\n").contentLength,
              1234);
    EXPECT_EQ(parseResponseHeader("HTTP/1.0 200 OK\r\nContent-Length : 1234\r\n\r\n").contentLength,
              -1);
    EXPECT_EQ(parseResponseHeader("HTTP/1.0 200 OK\r\n\r\n").contentLength, -1);
    EXPECT_EQ(parseResponseHeader("HTTP/1.0 200 OK\r\nContent-Length: 1\r\n"
                                  "content-length: 2\r\n\r\n")
                  .contentLength,
              2);
    EXPECT_EQ(
        parseResponseHeader("HTTP/1.0 200 OK\r\nContent-Length: 6000000000\r\n\r\n").contentLength,
        6'000'000'000);
}

TEST(ParseResponseHeader, LocationIsTrimmedAndTheLastOneWins) {
    const auto h = parseResponseHeader(
        "HTTP/1.0 302 Found\r\nLocation: /first\r\nLOCATION:   /second  \r\n\r\n");
    ASSERT_TRUE(h.location);
    EXPECT_EQ(*h.location, "/second");
    EXPECT_FALSE(parseResponseHeader("HTTP/1.0 302 Found\r\n\r\n").location.has_value());
}

TEST(ParseResponseHeader, StatusSitsBetweenTheFirstTwoBlanks) {
    EXPECT_EQ(parseResponseHeader("HTTP/1.1 206 Partial Content\r\n\r\n").status, 206);
    EXPECT_EQ(parseResponseHeader("HTTP/1.1 404 \r\n\r\n").status, 404);
    EXPECT_FALSE(parseResponseHeader("HTTP/1.0 200\r\n\r\n").status.has_value());
    EXPECT_FALSE(parseResponseHeader("HTTP/1.0  200 OK\r\n\r\n").status.has_value());
    EXPECT_FALSE(parseResponseHeader("garbage\r\n\r\n").status.has_value());
    EXPECT_EQ(parseResponseHeader("HTTP/1.0 abc OK\r\n\r\n").status, 0);
}

}  // namespace
}  // namespace upd::net
