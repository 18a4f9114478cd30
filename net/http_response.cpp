#include "net/http_response.h"

#include <time.h>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "net/ascii_case.h"
#include "net/numeric_value.h"

namespace upd::net {
namespace {

constexpr std::string_view kTerminator = "\r\n\r\n";

std::string trimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::string ReadHeaderLine(std::string& text) {
    const std::size_t end = text.find("\r\n");
    if (end == std::string::npos) {
        std::string line = std::move(text);
        text.clear();
        return line;
    }
    std::string line = text.substr(0, end);
    text.erase(0, end + 2);
    return line;
}

HeaderCollector::Result HeaderCollector::feed(std::string_view chunk) {
    const std::size_t before = m_bytes.size();
    m_bytes.append(chunk);
    // The terminator cannot lie wholly in bytes already searched: start 3 bytes back.
    const std::size_t from =
        before >= kTerminator.size() - 1 ? before - (kTerminator.size() - 1) : 0;
    const std::size_t at = m_bytes.find(kTerminator, from);
    if (at == std::string::npos) {
        if (m_bytes.size() >= kMaxHeaderBytes) {
            return {Status::TooLong, 0};
        }
        return {Status::Incomplete, 0};
    }
    const std::size_t end = at + kTerminator.size();
    if (end > kMaxHeaderBytes) {
        return {Status::TooLong, 0};
    }
    m_headerLength = end;
    return {Status::Complete, end - before};
}

std::string HeaderCollector::takeHeader() {
    std::string header = m_bytes.substr(0, m_headerLength);
    reset();
    return header;
}

void HeaderCollector::reset() {
    m_bytes.clear();
    m_bytes.shrink_to_fit();
    m_headerLength = 0;
}

namespace {

// Whether the comma-separated tokens of a "connection" value hold `token` (without case).
bool hasToken(std::string_view value, std::string_view token) {
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        if (asciiLower(trimBlanks(value.substr(0, comma))) == token) {
            return true;
        }
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    }
    return false;
}

}  // namespace

ResponseHeader parseResponseHeader(std::string headerText) {
    ResponseHeader result;
    const std::string statusLine = ReadHeaderLine(headerText);
    bool closes = false;
    bool keepsAlive = false;
    while (!headerText.empty()) {
        const std::string line = ReadHeaderLine(headerText);
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string name = asciiLower(std::string_view(line).substr(0, colon));
        if (name == "content-length") {
            result.contentLength = leadingNumericValue(std::string_view(line).substr(colon + 1));
        } else if (name == "location") {
            result.location = trimBlanks(std::string_view(line).substr(colon + 1));
        } else if (name == "etag") {
            result.etag = trimBlanks(std::string_view(line).substr(colon + 1));
        } else if (name == "last-modified") {
            result.lastModified = trimBlanks(std::string_view(line).substr(colon + 1));
        } else if (name == "transfer-encoding") {
            result.chunked = asciiLower(trimBlanks(std::string_view(line).substr(colon + 1)))
                                 .ends_with("chunked");
        } else if (name == "retry-after") {
            result.retryAfter = trimBlanks(std::string_view(line).substr(colon + 1));
        } else if (name == "connection" || name == "proxy-connection") {
            const std::string_view value = std::string_view(line).substr(colon + 1);
            closes = closes || hasToken(value, "close");
            keepsAlive = keepsAlive || hasToken(value, "keep-alive");
        }
    }
    // "HTTP/1.1" and later stay open unless told otherwise; HTTP/1.0 only when it says so.
    const bool http11 = statusLine.starts_with("HTTP/") && !statusLine.starts_with("HTTP/1.0") &&
                        !statusLine.starts_with("HTTP/0.");
    result.persistent = !closes && (http11 || keepsAlive);
    const std::size_t s1 = statusLine.find(' ');
    if (s1 != std::string::npos) {
        const std::size_t s2 = statusLine.find(' ', s1 + 1);
        if (s2 != std::string::npos && s2 - s1 >= 2) {
            result.status =
                leadingNumericValue32(std::string_view(statusLine).substr(s1 + 1, s2 - s1 - 1));
        }
    }
    return result;
}

std::optional<std::int64_t> retryAfterSeconds(std::string_view value, std::int64_t nowUnix) {
    if (value.empty() || value.size() > 64) {
        return std::nullopt;
    }
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        // Beyond ten digits no wait makes sense; the caller caps it anyway.
        return value.size() > 10 ? std::int64_t{9'999'999'999} : std::stoll(std::string(value));
    }
    // "Sun, 06 Nov 1994 08:49:37 GMT", read by hand: the names are English whatever the
    // process's locale says.
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm date{};
    char month[4] = {};
    char zone[4] = {};
    int consumed = 0;
    const std::string text(value);
    if (std::sscanf(text.c_str(), "%*3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d %3[A-Z]%n",
                    &date.tm_mday, month, &date.tm_year, &date.tm_hour, &date.tm_min, &date.tm_sec,
                    zone, &consumed) != 7 ||
        static_cast<std::size_t>(consumed) != text.size() || std::string_view(zone) != "GMT") {
        return std::nullopt;
    }
    date.tm_mon = -1;
    for (int m = 0; m < 12; ++m) {
        if (std::string_view(month) == kMonths[m]) {
            date.tm_mon = m;
        }
    }
    if (date.tm_mon < 0) {
        return std::nullopt;
    }
    date.tm_year -= 1900;
    return std::max<std::int64_t>(0, static_cast<std::int64_t>(::timegm(&date)) - nowUnix);
}

bool isCarriableValidator(std::string_view value) {
    return value.size() <= 200 &&
           std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::string rangeValidator(const ResponseHeader& header) {
    const auto usable = [](const std::optional<std::string>& value) {
        return value && !value->empty() && isCarriableValidator(*value);
    };
    // A weak tag says two bodies mean the same, not that their bytes are: never for a range.
    if (usable(header.etag) && !header.etag->starts_with("W/")) {
        return *header.etag;
    }
    return usable(header.lastModified) ? *header.lastModified : std::string();
}

}  // namespace upd::net
