// URLs as the download object handles them: the percent-encoder, the split of an "http://"
// or "https://" URL into host, port and scheme, and the resolution of a redirect's
// "location" against the URL that was fetched. Hosts are names, dotted IPv4 addresses or
// bracketed IPv6 addresses ("[::1]"). Failures are empty optionals.
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

// "a b%" -> "a%20b%25"; an already encoded URL is encoded again. Text is UTF-8. The one
// exception is a bracketed IPv6 host right after "scheme://", which is copied as it is:
// "http://[::1]:8080/a b" -> "http://[::1]:8080/a%20b".
std::string UrlEncode(std::string_view text, platform::CodePage cp);
std::string UrlEncode(std::string_view text);

struct UrlTarget {
    std::string host;  // lower case; an IPv6 address keeps its brackets: "[::1]"
    std::int32_t port = 80;
    bool secure = false;  // https: TLS on the connection, port 443 by default
};

// Splits an encoded URL: the scheme must be "http" or "https" (any case), the host is what
// follows "://" up to the next "/", "?" or "#", an optional ":port" must be digits alone
// naming 1..65535 (default 80, or 443 for https), the host must not be empty; an IPv6
// address stands in brackets. "HTTP://Example.ORG:8080/a" -> {"example.org", 8080, false},
// "https://[::1]/a" -> {"[::1]", 443, true}. When it refuses, `why` (if given) says why in
// English: "the scheme "ftp" is not http or https", "the host name is empty", "the port
// "8080@x" is not a number from 1 to 65535", "the IPv6 address in "[::g]" is not valid".
std::optional<UrlTarget> splitUrl(std::string_view encodedUrl, std::string* why = nullptr);

// True for the text of an IPv6 address without brackets ("::1", "fe80::1").
bool isIpv6Address(std::string_view text);

// Percent-encodes the bytes that cannot stand in a request target (controls, blank, DEL,
// bytes above 127, and " < > \ ^ ` { | }) and leaves everything else, "%" included, as it
// is: a server's "location" is already encoded but must not smuggle a blank or a line break.
std::string encodeUnsafeUrlBytes(std::string_view url);

// The absolute URL that `location` names when read against `base` (an absolute http or
// https URL): absolute http and https locations as they are, "//host/x" with the base's
// scheme, "/x" on the base's host, "x" and "../x" beside the base's path, "?q" on the base's
// path. Dot segments are removed. Empty when the location names another scheme ("ftp:...").
// Whether a redirect from https to http may be followed is the caller's decision.
std::optional<std::string> resolveLocation(std::string_view base, std::string_view location);

}  // namespace upd::net
