// The response header: collecting it across receives, splitting it into lines and reading
// the things the engine looks at (status, "content-length", "location", chunked coding). Pure: the
// download object decides what to do with the result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace upd::net {

// The text before the first "\r\n"; that text and the "\r\n" are removed from `text`.
// Without "\r\n" the whole text is returned and `text` becomes empty.
std::string ReadHeaderLine(std::string& text);

// Collects received bytes until the first CR LF CR LF, which may straddle receives. A peer
// controls the header's length: one that has not ended within kMaxHeaderBytes fails.
class HeaderCollector {
  public:
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

    enum class Status { Incomplete, Complete, TooLong };
    struct Result {
        Status status = Status::Incomplete;
        // Complete: where the body starts in the chunk just fed.
        std::size_t bodyOffset = 0;
    };

    Result feed(std::string_view chunk);
    // Complete: the header up to and including the CR LF CR LF. Leaves the collector empty.
    std::string takeHeader();
    void reset();
    std::size_t collected() const { return m_bytes.size(); }

  private:
    std::string m_bytes;
    std::size_t m_headerLength = 0;
};

struct ResponseHeader {
    // The number between the status line's first two blanks; empty when there is no such
    // pair of blanks or they are adjacent ("HTTP/1.0 200" without a reason phrase).
    std::optional<std::int32_t> status;
    // Last "content-length" header (name matched without case, not trimmed: the colon must
    // follow the name directly); -1 when there is none.
    std::int64_t contentLength = -1;
    // Last "location" header, trimmed, as the bytes received.
    std::optional<std::string> location;
    // The last "transfer-encoding" header ends in "chunked" (without case): the body is in
    // chunks and any content-length is to be ignored.
    bool chunked = false;
    // Last "etag" and "last-modified" headers, trimmed: what a later resumed request may
    // name in "If-Range" (rangeValidator).
    std::optional<std::string> etag;
    std::optional<std::string> lastModified;
    // The peer keeps the connection open after this reply: an HTTP/1.1 (or later) status line
    // without "close" among the "connection" tokens, or HTTP/1.0 with "keep-alive" among them.
    bool persistent = false;
    // Last "retry-after" header, trimmed: seconds, or an HTTP date (retryAfterSeconds).
    std::optional<std::string> retryAfter;
};

// The wait a "retry-after" value asks for, in seconds from `nowUnix`: a number of seconds, or
// an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT"; a date already past is 0). Nothing for
// anything else.
std::optional<std::int64_t> retryAfterSeconds(std::string_view value, std::int64_t nowUnix);

// Parses a header as HeaderCollector returns it (status line first).
ResponseHeader parseResponseHeader(std::string headerText);

// What "If-Range" may carry to resume the body of this reply: a strong entity tag, else the
// last-modified date; "" when there is neither, or when the value holds a byte a header line
// cannot carry (a control byte, a byte above 0x7E) or is longer than 200 bytes.
std::string rangeValidator(const ResponseHeader& header);

// The rule of rangeValidator for a value kept elsewhere: at most 200 bytes, each from 0x20 to
// 0x7E ("" passes: no validator). Anything else in "If-Range" could change the request.
bool isCarriableValidator(std::string_view value);

}  // namespace upd::net
