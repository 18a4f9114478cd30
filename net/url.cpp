#include "net/url.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

#include "net/ascii_case.h"
#include "net/numeric_value.h"

namespace upd::net {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void appendPercent(std::string& out, unsigned char byte) {
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

// Length of the UTF-8 character starting at text[i]; 1 for a byte that starts none.
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t n = 1;
    if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
    } else if (lead >= 0xE0) {
        n = 3;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else {
        return 1;
    }
    if (i + n > text.size()) {
        return 1;
    }
    for (std::size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return n;
}

// RFC 3986, 5.2.4.
std::string removeDotSegments(std::string_view path) {
    std::string input(path);
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.erase(0, 3);
        } else if (input.starts_with("./")) {
            input.erase(0, 2);
        } else if (input.starts_with("/./")) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../") || input == "/..") {
            input = input == "/.." ? "/" : input.substr(3);
            const auto slash = output.rfind('/');
            output.erase(slash == std::string::npos ? 0 : slash);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            const std::size_t next = input.find('/', input[0] == '/' ? 1 : 0);
            const std::size_t n = next == std::string::npos ? input.size() : next;
            output += input.substr(0, n);
            input.erase(0, n);
        }
    }
    return output;
}

// "scheme:" at the start: letters, digits, "+", "-", "." before the first ":" that comes
// before any "/", "?" or "#".
std::optional<std::string> schemeOf(std::string_view url) {
    for (std::size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        if (c == ':') {
            return i == 0 ? std::nullopt : std::optional(asciiLower(url.substr(0, i)));
        }
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && !(i > 0 && other)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool isWebScheme(std::string_view scheme) {
    return scheme == "http" || scheme == "https";
}

// The length of "scheme://[address]" at the start of `text`, 0 when it does not start so:
// that part of a URL is no path, and its brackets must reach the parser as they are.
std::size_t bracketedHostPrefix(std::string_view text) {
    const auto scheme = schemeOf(text);
    if (!scheme) {
        return 0;
    }
    const std::size_t open = scheme->size() + 3;
    if (text.substr(scheme->size(), 4) != "://[") {
        return 0;
    }
    const std::size_t close = text.find(']', open);
    if (close == std::string_view::npos ||
        !isIpv6Address(text.substr(open + 1, close - open - 1))) {
        return 0;
    }
    return close + 1;
}

}  // namespace

bool isIpv6Address(std::string_view text) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN) {
        return false;
    }
    in6_addr address{};
    return inet_pton(AF_INET6, std::string(text).c_str(), &address) == 1;
}

std::string UrlEncode(std::string_view text, platform::CodePage cp) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = bracketedHostPrefix(text);
    out.append(text.substr(0, i));
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c != 0 &&
                kUrlAllowedCharacters.find(static_cast<char>(c)) != std::string_view::npos) {
                out += static_cast<char>(c);
            } else {
                appendPercent(out, c);
            }
            ++i;
            continue;
        }
        const std::size_t n = utf8Length(text, i);
        for (const char b : platform::toAnsi(text.substr(i, n), cp)) {
            appendPercent(out, static_cast<unsigned char>(b));
        }
        i += n;
    }
    return out;
}

std::string UrlEncode(std::string_view text) {
    return UrlEncode(text, platform::systemCodePage());
}

std::optional<UrlTarget> splitUrl(std::string_view encodedUrl, std::string* why) {
    const auto refuse = [why](std::string reason) {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return std::nullopt;
    };
    const std::string lc = asciiLower(encodedUrl);
    const std::size_t p = lc.find("://");
    if (p == std::string::npos || !isWebScheme(lc.substr(0, p))) {
        const auto scheme = schemeOf(lc);
        return refuse(scheme ? "the scheme \"" + *scheme + "\" is not http or https"
                             : std::string("the URL does not start with http:// or https://"));
    }
    UrlTarget target;
    target.secure = lc.substr(0, p) == "https";
    target.port = target.secure ? 443 : 80;
    const std::size_t hostStart = p + 3;
    const std::size_t end = std::min(lc.find_first_of("/?#", hostStart), lc.size());
    const std::string hostPort = lc.substr(hostStart, end - hostStart);
    std::size_t colon = std::string::npos;
    if (hostPort.starts_with("[")) {
        // "[::1]:8080": the address's own colons are inside the brackets.
        const std::size_t close = hostPort.find(']');
        if (close == std::string::npos || !isIpv6Address(hostPort.substr(1, close - 1)) ||
            (close + 1 < hostPort.size() && hostPort[close + 1] != ':')) {
            return refuse("the IPv6 address in \"" + hostPort + "\" is not valid");
        }
        target.host = hostPort.substr(0, close + 1);
        colon = close + 1 < hostPort.size() ? close + 1 : std::string::npos;
    } else {
        colon = hostPort.find(':');
        target.host = hostPort.substr(0, colon);
    }
    if (colon != std::string::npos) {
        // Digits alone: "127.0.0.1:8080@updates.example.com" names no port of ours, and
        // every other client would read its host as updates.example.com.
        const std::string digits = hostPort.substr(colon + 1);
        const bool number = !digits.empty() && digits.size() <= 5 &&
                            digits.find_first_not_of("0123456789") == std::string::npos;
        const std::int64_t port = number ? std::stoll(digits) : 0;
        if (port < 1 || port > 65535) {
            return refuse("the port \"" + digits + "\" is not a number from 1 to 65535");
        }
        target.port = static_cast<std::int32_t>(port);
    }
    if (target.host.empty()) {
        return refuse("the host name is empty");
    }
    return target;
}

std::string encodeUnsafeUrlBytes(std::string_view url) {
    std::string out;
    out.reserve(url.size());
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        // Besides controls, blank, DEL and bytes above 127, the characters RFC 3986 allows
        // nowhere in a URL; "%" stays (the location is already encoded), and so do "#"
        // (the fragment is dropped later) and "[" "]" (an IPv6 host).
        if (c <= 0x20 || c >= 0x7F ||
            std::string_view("\"<>\\^`{|}").find(ch) != std::string_view::npos) {
            appendPercent(out, c);
        } else {
            out += ch;
        }
    }
    return out;
}

std::optional<std::string> resolveLocation(std::string_view base, std::string_view location) {
    if (const auto scheme = schemeOf(location)) {
        if (!isWebScheme(*scheme)) {
            return std::nullopt;
        }
        return std::string(location);
    }
    const auto baseScheme = schemeOf(base);
    if (!baseScheme || !isWebScheme(*baseScheme) || base.substr(baseScheme->size(), 3) != "://") {
        return std::nullopt;
    }
    if (location.starts_with("//")) {
        return *baseScheme + ":" + std::string(location);
    }
    // base = scheme "://" authority path [ "?" query ]
    const std::size_t pathStart =
        std::min(base.find_first_of("/?#", baseScheme->size() + 3), base.size());
    const std::string authority(base.substr(0, pathStart));
    std::string_view rest = base.substr(pathStart);
    const std::size_t queryStart = std::min(rest.find_first_of("?#"), rest.size());
    std::string basePath(rest.substr(0, queryStart));
    if (basePath.empty()) {
        basePath = "/";
    }
    if (location.empty()) {
        return std::string(base);
    }
    if (location[0] == '?') {
        return authority + basePath + std::string(location);
    }
    const std::size_t locationQuery = std::min(location.find('?'), location.size());
    const std::string_view locationPath = location.substr(0, locationQuery);
    const std::string_view locationRest = location.substr(locationQuery);
    std::string merged;
    if (locationPath.starts_with("/")) {
        merged = locationPath;
    } else {
        merged = basePath.substr(0, basePath.rfind('/') + 1) + std::string(locationPath);
    }
    return authority + removeDotSegments(merged) + std::string(locationRest);
}

}  // namespace upd::net
