#include "app/environment_proxy.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/ascii_case.h"

namespace upd::app {
namespace {

constexpr std::int32_t kDefaultProxyPort = 1080;
constexpr std::size_t kMaxHostLength = 255;
constexpr std::int32_t kSocks5UserPassword = 2;

struct ProxyScheme {
    std::string_view name;
    ProxyKind kind;
    bool remoteDns;
};
constexpr ProxyScheme kProxySchemes[] = {
    {"http", ProxyKind::Http, false},     {"socks4", ProxyKind::Socks4, false},
    {"socks4a", ProxyKind::Socks4, true}, {"socks5", ProxyKind::Socks5, false},
    {"socks5h", ProxyKind::Socks5, true},
};

bool isControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// "p%40ss" -> "p@ss". Nothing for a '%' without two hex digits, or for a control byte: a
// NUL would cut the login short and a line break would end the header that carries it.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            const int high = i + 2 < text.size() ? net::hexDigitValue(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? net::hexDigitValue(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (isControl(c)) {
            return std::nullopt;
        }
        out += c;
    }
    return out;
}

bool isHostName(std::string_view host) {
    return !host.empty() && host.size() <= kMaxHostLength &&
           std::all_of(host.begin(), host.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_';
           });
}

std::optional<std::int32_t> portNumber(std::string_view text) {
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 1 ||
        value > 65535) {
        return std::nullopt;
    }
    return value;
}

// An IPv4 or IPv6 address in its bytes.
struct Address {
    int family = 0;
    std::array<unsigned char, 16> bytes{};
    int bits() const { return family == AF_INET ? 32 : 128; }
};

std::optional<Address> addressOf(std::string_view text) {
    const std::string zeroEnded(text);
    Address address;
    for (const int family : {AF_INET, AF_INET6}) {
        if (inet_pton(family, zeroEnded.c_str(), address.bytes.data()) == 1) {
            address.family = family;
            return address;
        }
    }
    return std::nullopt;
}

// "10.0.0.0/8" holds 10.1.2.3; "192.168.1.7" holds only itself.
bool networkHolds(std::string_view entry, const Address& host) {
    const std::size_t slash = entry.find('/');
    const std::optional<Address> network = addressOf(entry.substr(0, slash));
    if (!network || network->family != host.family) {
        return false;
    }
    int bits = network->bits();
    if (slash != std::string_view::npos) {
        const std::string_view length = entry.substr(slash + 1);
        const auto [end, ec] = std::from_chars(length.data(), length.data() + length.size(), bits);
        if (length.empty() || ec != std::errc() || end != length.data() + length.size() ||
            bits < 0 || bits > network->bits()) {
            return false;
        }
    }
    for (int bit = 0; bit < bits; ++bit) {
        const int mask = 0x80 >> (bit % 8);
        if ((network->bytes[bit / 8] & mask) != (host.bytes[bit / 8] & mask)) {
            return false;
        }
    }
    return true;
}

// A host as names compare: without the port ("example.com:8080", "[::1]:80"), in lower case,
// without a final dot ("example.com." is example.com). An IPv6 address without brackets keeps
// its colons: it has no port.
std::string bareHost(std::string_view text) {
    if (text.starts_with('[')) {
        text = text.substr(1, text.find(']') - 1);
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        text = text.substr(0, text.find(':'));
    }
    if (text.ends_with('.')) {
        text.remove_suffix(1);
    }
    return net::asciiLower(text);
}

// Whether the `no_proxy` list names `host` (bareHost's form).
bool excludes(std::string_view list, const std::string& host) {
    const std::optional<Address> hostAddress = addressOf(host);
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find_first_of(", \t", start);
        if (end == std::string_view::npos) {
            end = list.size();
        }
        const std::string_view entry = list.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) {
            continue;
        }
        if (entry == "*") {
            return true;
        }
        std::string name = bareHost(entry);
        if (hostAddress) {
            // A server given by its address matches addresses only: "1.2" is no domain of it.
            if (networkHolds(name, *hostAddress)) {
                return true;
            }
            continue;
        }
        if (name.starts_with('.')) {
            name.erase(0, 1);  // ".example.com" is example.com and its sub-domains
        }
        if (name.empty() || host.empty()) {
            continue;
        }
        // "example.com" matches www.example.com but not myexample.com.
        if (host == name || (host.size() > name.size() && host.ends_with(name) &&
                             host[host.size() - name.size() - 1] == '.')) {
            return true;
        }
    }
    return false;
}

struct Variable {
    std::string name;
    std::string_view value;
};

// The first of `names` that is set to something.
std::optional<Variable> firstSet(const EnvironmentLookup& getenv,
                                 const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const char* value = getenv ? getenv(name.c_str()) : nullptr;
        if (value != nullptr && *value != '\0') {
            return Variable{name, value};
        }
    }
    return std::nullopt;
}

}  // namespace

ProxyUrl parseProxyUrl(std::string_view text) {
    if (text.empty() ||
        std::any_of(text.begin(), text.end(), [](char c) { return c == ' ' || isControl(c); })) {
        return {.error = ProxyUrlError::BadSyntax};
    }
    std::string scheme = "http";
    if (const std::size_t sep = text.find("://"); sep != std::string_view::npos) {
        scheme = net::asciiLower(text.substr(0, sep));
        text.remove_prefix(sep + 3);
    }
    if (scheme == "https") {
        return {.error = ProxyUrlError::TlsProxy};
    }
    const auto* known = std::find_if(std::begin(kProxySchemes), std::end(kProxySchemes),
                                     [&](const ProxyScheme& s) { return s.name == scheme; });
    if (known == std::end(kProxySchemes)) {
        return {.error = ProxyUrlError::UnknownScheme};
    }
    ProxyConnection proxy{.type = static_cast<int>(known->kind), .useRemoteDns = known->remoteDns};

    std::string_view authority = text.substr(0, text.find_first_of("/?#"));
    // The last '@' ends the login: a password typed with a bare '@' in it still works.
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view login = authority.substr(0, at);
        authority.remove_prefix(at + 1);
        const std::size_t colon = login.find(':');
        const std::optional<std::string> user = percentDecoded(login.substr(0, colon));
        const std::optional<std::string> password = percentDecoded(
            colon == std::string_view::npos ? std::string_view() : login.substr(colon + 1));
        if (!user || !password) {
            return {.error = ProxyUrlError::BadSyntax};
        }
        proxy.username = *user;
        // SOCKS4 carries a user id only: a password given for it is not kept.
        if (known->kind != ProxyKind::Socks4) {
            proxy.password = *password;
        }
    }

    std::string_view host = authority;
    std::optional<std::string_view> port;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return {.error = ProxyUrlError::BadSyntax};
        }
        host = authority.substr(1, close - 1);
        const std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                return {.error = ProxyUrlError::BadSyntax};
            }
            port = rest.substr(1);
        }
        const std::optional<Address> address = addressOf(host);
        if (!address || address->family != AF_INET6) {
            return {.error = ProxyUrlError::BadSyntax};
        }
    } else {
        if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
            host = authority.substr(0, colon);
            port = authority.substr(colon + 1);
        }
        if (!isHostName(host)) {
            return {.error = ProxyUrlError::BadSyntax};
        }
    }
    proxy.hostname = std::string(host);
    proxy.port = kDefaultProxyPort;
    if (port) {
        const std::optional<std::int32_t> number = portNumber(*port);
        if (!number) {
            return {.error = ProxyUrlError::BadPort};
        }
        proxy.port = *number;
    }
    if (known->kind == ProxyKind::Socks5 && !proxy.username.empty()) {
        proxy.authentication = kSocks5UserPassword;
    }
    return {.proxy = std::move(proxy)};
}

EnvironmentProxyChoice environmentProxyChoice(std::string_view url,
                                              const EnvironmentLookup& getenv) {
    std::string scheme = "http";
    std::string_view rest = url;
    if (const std::size_t sep = url.find("://"); sep != std::string_view::npos) {
        scheme = net::asciiLower(url.substr(0, sep));
        rest.remove_prefix(sep + 3);
    }
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }

    std::vector<std::string> names{scheme + "_proxy"};
    // HTTP_PROXY is also where a web server's programs find a client's "Proxy:" header, so
    // a request could choose the proxy: it is never read.
    if (scheme != "http") {
        names.push_back(net::asciiUpper(scheme) + "_PROXY");
    }
    std::optional<Variable> proxyVariable = firstSet(getenv, names);
    if (!proxyVariable) {
        proxyVariable = firstSet(getenv, {"all_proxy", "ALL_PROXY"});
    }
    EnvironmentProxyChoice choice;
    if (!proxyVariable) {
        return choice;
    }
    if (const std::optional<Variable> noProxy = firstSet(getenv, {"no_proxy", "NO_PROXY"});
        noProxy && excludes(noProxy->value, bareHost(authority))) {
        choice.variable = noProxy->name;
        return choice;
    }
    choice.variable = proxyVariable->name;
    ProxyUrl parsed = parseProxyUrl(proxyVariable->value);
    if (!parsed) {
        choice.error = parsed.error;
        return choice;
    }
    choice.proxy = std::move(parsed.proxy);
    return choice;
}

std::optional<ProxyConnection> environmentProxy(std::string_view url,
                                                const EnvironmentLookup& getenv) {
    return environmentProxyChoice(url, getenv).proxy;
}

const char* processEnvironment(const char* name) {
    return std::getenv(name);
}

std::string ignoredProxyWarning(const EnvironmentProxyChoice& choice) {
    const char* why = "";
    switch (choice.error) {
        case ProxyUrlError::None:
            return {};
        case ProxyUrlError::TlsProxy:
            why = "a proxy reached over https is not supported";
            break;
        case ProxyUrlError::UnknownScheme:
            why = "it does not start with http://, socks4://, socks4a://, socks5:// or socks5h://";
            break;
        case ProxyUrlError::BadSyntax:
            why = "it is not [scheme://][user[:password]@]host[:port]";
            break;
        case ProxyUrlError::BadPort:
            why = "its port is not a number from 1 to 65535";
            break;
    }
    return choice.variable + " is ignored (" + why + "); no proxy is used";
}

}  // namespace upd::app
