// The requests the download engine sends, written out here from their layout, not by the
// engine's own builder, so that a wire test compares the bytes with an independent statement:
//   GET <target> HTTP/1.0         HTTP/1.1 when resuming or keeping the connection
//                                 (RFC 1945, RFC 7233, RFC 9112)
//   Accept: */*
//   User-Agent: <product name> (<vendor host>)
//   Host: <host>
//   Range: bytes=<from>-          resuming
//   If-Range: <validator>         resuming, when given
//   Connection: close             resuming without keeping the connection
//   Connection: keep-alive        keeping the connection
//   Proxy-Connection: Keep-Alive  to an HTTP proxy
//   Proxy-Authorization: <value>  to an HTTP proxy, when given
//   Pragma: no-cache              unless the cache is allowed
//   Cache-Control: no-cache       unless the cache is allowed
//   Authorization: <value>        when given
//   <empty line>
// and a tunnel through an HTTP proxy (RFC 7231, 4.3.6):
//   CONNECT <authority> HTTP/1.1 / Host: <authority> / User-Agent / [Proxy-Authorization] / ""
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "product_config.h"

namespace upd::test {

// The defaults give a plain GET of "/" from a scripted server.
struct RequestShape {
    std::string target = "/";                    // path and query; the whole URL for an HTTP proxy
    std::string host = "127.0.0.1";              // as "Host:" carries it: no port, IPv6 in brackets
    std::optional<std::int64_t> rangeFrom = {};  // resumed from there
    std::string ifRange = {};
    bool viaHttpProxy = false;
    std::string proxyAuthorization = {};  // "Basic <token>"
    bool allowCache = false;
    std::string authorization = {};  // "Basic <token>", the token written out by the test
    bool keepAlive = false;          // `host` then has the port unless it is the default
};

inline std::string expectedUserAgent() {
    return std::string(product::kProductName) + " (" + product::kVendorHost + ")";
}

inline std::string expectedRequest(const RequestShape& r) {
    const std::string range =
        r.rangeFrom ? "Range: bytes=" + std::to_string(*r.rangeFrom) + "-\r\n" +
                          (r.ifRange.empty() ? "" : "If-Range: " + r.ifRange + "\r\n") +
                          (r.keepAlive ? "" : "Connection: close\r\n")
                    : "";
    const std::string proxy =
        r.viaHttpProxy ? "Proxy-Connection: Keep-Alive\r\n" +
                             (r.proxyAuthorization.empty()
                                  ? ""
                                  : "Proxy-Authorization: " + r.proxyAuthorization + "\r\n")
                       : "";
    return "GET " + r.target + (r.rangeFrom || r.keepAlive ? " HTTP/1.1" : " HTTP/1.0") +
           "\r\nAccept: */*\r\nUser-Agent: " + expectedUserAgent() + "\r\nHost: " + r.host +
           "\r\n" + range + (r.keepAlive ? "Connection: keep-alive\r\n" : "") + proxy +
           (r.allowCache ? "" : "Pragma: no-cache\r\nCache-Control: no-cache\r\n") +
           (r.authorization.empty() ? "" : "Authorization: " + r.authorization + "\r\n") + "\r\n";
}

inline std::string expectedConnect(const std::string& authority,
                                   const std::string& proxyAuthorization = {}) {
    return "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority +
           "\r\nUser-Agent: " + expectedUserAgent() + "\r\n" +
           (proxyAuthorization.empty() ? ""
                                       : "Proxy-Authorization: " + proxyAuthorization + "\r\n") +
           "\r\n";
}

}  // namespace upd::test
