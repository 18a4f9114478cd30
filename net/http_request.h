// The GET request the download object sends, built from its properties. The same absolute
// URL stands in the request line for a direct connection, an HTTP proxy and a SOCKS
// tunnel. Pure: no I/O, nothing fails.
#pragma once

#include <cstdint>
#include <string>

#include "platform/code_page.h"

namespace upd::net {

struct HttpRequestFields {
    std::string URL;       // after "GET ", as stored (already encoded)
    std::string Hostname;  // "Host: " (no port)
    bool UseResume = false;
    std::int64_t ResumeFrom = 0;
    bool throughHttpProxy = false;  // ProxyType 1: "Proxy-Connection: Keep-Alive"
    bool AllowCache = false;
    bool UseHttpAuthorization = false;
    std::string HttpUser;
    std::string HttpPass;
};

// "<product name> (<vendor host>)", the product's fixed identifier.
std::string userAgent();

// The request as the code page's bytes; text fields are UTF-8.
//   GET <URL> HTTP/1.0            (HTTP/1.1 when resuming)
//   Accept: */*
//   User-Agent: <userAgent()>
//   Host: <Hostname>
//   Range: bytes=<ResumeFrom>-    (resuming)
//   Proxy-Connection: Keep-Alive  (HTTP proxy)
//   Pragma: no-cache              (unless AllowCache)
//   Cache-Control: no-cache       (unless AllowCache)
//   Authorization: Basic <Base64 of "user:pass">  (when asked for and not both empty)
//   <empty line>
std::string buildHttpRequest(const HttpRequestFields& fields, platform::CodePage cp);

}  // namespace upd::net
