// The system's proxy settings: the proxy that the environment variables `http_proxy`,
// `https_proxy`, `all_proxy` and `no_proxy` name for a URL, read as the command-line download
// tools of Linux read them. Used when the application folder has no proxy.ini (nothing was
// ever chosen in the proxy dialog), by the wizard and by `updtool fetch`.
//
//     const auto proxy = upd::app::environmentProxy(url, [](const char* name) {
//         return std::getenv(name);
//     });
//     if (proxy) { /* connect through *proxy */ }
//
// Toolkit-free and without state: `getenv` is asked for each variable (nullptr or "" for one
// that is not set), so tests give their own environment. Nothing here reads or writes a file.
// Failures are values: a variable that cannot be used gives no proxy and a reason; the
// reason's text names the variable, never its value, which may hold a password.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/proxy_settings.h"

namespace upd::app {

using EnvironmentLookup = std::function<const char*(const char*)>;

// Why a proxy URL cannot be used.
enum class ProxyUrlError {
    None,
    TlsProxy,       // "https://": a proxy reached over TLS is not supported
    UnknownScheme,  // "ftp://proxy", "socks6://proxy"
    BadSyntax,      // no host, a blank, a bad percent escape, a control byte in the login
    BadPort,        // not a number from 1 to 65535
};

// One proxy URL as the variables hold it:
//   http://[user[:password]@]host[:port]    a proxy that takes requests (its login: Basic)
//   socks4://[user@]host[:port]             the user goes as the SOCKS4 user id
//   socks4a://...                           SOCKS4, the proxy resolves the server's name
//   socks5://[user[:password]@]host[:port]  a login makes it offer user/password (method 2)
//   socks5h://...                           SOCKS5, the proxy resolves the server's name
// "host:port" without a scheme is an HTTP proxy; the port defaults to 1080 for every type;
// a path after the host ("http://proxy:3128/") is ignored; the scheme is read without case;
// user and password are percent-decoded ("p%40ss" is "p@ss"); an IPv6 address is written
// in brackets ("http://[fd00::1]:3128").
struct ProxyUrl {
    ProxyConnection proxy{};  // type 1 HTTP, 2 SOCKS4, 3 SOCKS5; nothing when error is set
    ProxyUrlError error = ProxyUrlError::None;

    explicit operator bool() const { return error == ProxyUrlError::None; }
};
ProxyUrl parseProxyUrl(std::string_view text);

// What the environment decides for one URL.
struct EnvironmentProxyChoice {
    std::optional<ProxyConnection> proxy{};  // nothing: connect directly
    // The variable that decided ("https_proxy", "ALL_PROXY", "no_proxy"), empty when none
    // applies to the URL.
    std::string variable{};
    // Set when `variable` names a proxy that cannot be used: there is no proxy then.
    ProxyUrlError error = ProxyUrlError::None;
};

// The rules, in order:
//   - `no_proxy` (else `NO_PROXY`): a list of entries separated by commas or blanks. "*"
//     matches every host; "example.com" and ".example.com" match example.com and its
//     sub-domains (www.example.com, not myexample.com); an IP address (with an optional
//     "/bits" prefix length) matches a server given by its address; names compare without
//     case; a port in an entry ("example.com:8080", "[::1]:80") is ignored. A match means
//     no proxy.
//   - the URL's scheme names the variable: `http_proxy` for http://, `https_proxy` (else
//     `HTTPS_PROXY`) for https://. `HTTP_PROXY` in upper case is never read: a web server's
//     CGI programs get a client's "Proxy:" header under that name.
//   - when that is not set, `all_proxy` (else `ALL_PROXY`).
// A variable holding "" counts as not set. A URL without "://" is an http:// one.
EnvironmentProxyChoice environmentProxyChoice(std::string_view url,
                                              const EnvironmentLookup& getenv);

// The proxy for `url`, or nothing for a direct connection (environmentProxyChoice's proxy).
std::optional<ProxyConnection> environmentProxy(std::string_view url,
                                                const EnvironmentLookup& getenv);

// The process's own environment, for `getenv` above.
const char* processEnvironment(const char* name);

// One line for an unattended run or a command line when the choice ignored a variable
// ("https_proxy is ignored: ..."), empty otherwise. It never holds the variable's value.
std::string ignoredProxyWarning(const EnvironmentProxyChoice& choice);

}  // namespace upd::app
