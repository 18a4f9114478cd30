// URLs as the download object handles them: the percent-encoder, the split of an "http://"
// URL into host and port, and the resolution of a redirect's "location" against the URL
// that was fetched. Only the http scheme exists. Failures are empty optionals.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace upd::net {

// Characters copied unchanged by UrlEncode; every other character is written as the
// "%XX" bytes (upper-case hex) of its form in the code page.
inline constexpr std::string_view kUrlAllowedCharacters =
    "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:/.?=_-$(){}~&";

// "a b%" -> "a%20b%25"; an already encoded URL is encoded again. Text is UTF-8.
std::string UrlEncode(std::string_view text, platform::CodePage cp);
std::string UrlEncode(std::string_view text);

struct UrlTarget {
    std::string host;  // lower case
    std::int32_t port = 80;
};

// Splits an encoded URL: the scheme must be "http" (any case), the host is what follows
// "http://" up to the next "/", "?" or "#", an optional ":port" must be digits alone naming
// 1..65535, the host must not be empty. "HTTP://Example.ORG:8080/a" -> {"example.org", 8080}.
// When it refuses, `why` (if given) says why in English: "the scheme "ftp" is not http",
// "the host name is empty", "the port "8080@x" is not a number from 1 to 65535".
std::optional<UrlTarget> splitUrl(std::string_view encodedUrl, std::string* why = nullptr);

// Percent-encodes the bytes that cannot stand in a request target (controls, blank, DEL,
// bytes above 127, and " < > \ ^ ` { | }) and leaves everything else, "%" included, as it
// is: a server's "location" is already encoded but must not smuggle a blank or a line break.
std::string encodeUnsafeUrlBytes(std::string_view url);

// The absolute http URL that `location` names when read against `base` (an absolute http
// URL): absolute http locations as they are, "//host/x" with the http scheme, "/x" on the
// base's host, "x" and "../x" beside the base's path, "?q" on the base's path. Dot segments
// are removed. Empty when the location names another scheme ("https://...", "ftp:...").
std::optional<std::string> resolveLocation(std::string_view base, std::string_view location);

}  // namespace upd::net
