// The GET request the download object sends, built from its properties. An HTTP proxy gets
// the absolute URL in the request line; a server reached directly, through a SOCKS tunnel
// or through an HTTP proxy's CONNECT tunnel (https) gets the origin form (path and query),
// which every server accepts where many refuse the absolute form. A fragment never goes on
// the wire. Pure: no I/O, nothing fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace upd::net {

struct HttpRequestFields {
    std::string URL;       // the absolute URL, as stored (already encoded)
    std::string Hostname;  // "Host: " (no port; an IPv6 address in brackets)
    bool UseResume = false;
    std::int64_t ResumeFrom = 0;
    std::string IfRange;            // the validator of the bytes kept; "" sends no If-Range
    bool throughHttpProxy = false;  // ProxyType 1, http: absolute form, "Proxy-Connection"
    bool AllowCache = false;
    bool UseHttpAuthorization = false;
    std::string HttpUser;
    std::string HttpPass;
    // The HTTP proxy's login (throughHttpProxy): sent when the user name is not empty.
    std::string ProxyUser;
    std::string ProxyPass;
    // The connection is to be kept for the next request: HTTP/1.1 with "Connection:
    // keep-alive" in the place of "Connection: close". The caller adds the port to Hostname
    // when it is not the scheme's default, as HTTP/1.1 asks.
    bool keepAlive = false;
};

// "<product name> (<vendor host>)", the product's fixed identifier.
std::string userAgent();

// "http://h:8080/a/b?q#f" gives "/a/b?q"; "http://h" gives "/". A URL that is not absolute
// ("/x", "x") is taken as a path.
std::string originForm(std::string_view url);

// The request as the code page's bytes; text fields are UTF-8.
//   GET <target> HTTP/1.0         (HTTP/1.1 when resuming or keeping the connection; target:
//                                  URL or originForm(URL))
//   Accept: */*
//   User-Agent: <userAgent()>
//   Host: <Hostname>
//   Range: bytes=<ResumeFrom>-    (resuming)
//   If-Range: <IfRange>           (resuming, when there is one)
//   Connection: close             (resuming without keepAlive)
//   Connection: keep-alive        (keepAlive)
//   Proxy-Connection: Keep-Alive  (HTTP proxy)
//   Proxy-Authorization: Basic <Base64 of "user:pass">  (HTTP proxy, when a user is set)
//   Pragma: no-cache              (unless AllowCache)
//   Cache-Control: no-cache       (unless AllowCache)
//   Authorization: Basic <Base64 of "user:pass">  (when asked for and not both empty)
//   <empty line>
std::string buildHttpRequest(const HttpRequestFields& fields, platform::CodePage cp);

}  // namespace upd::net
