#include "net/http_request.h"

#include "net/base64.h"
#include "product_config.h"

namespace upd::net {

std::string userAgent() {
    return std::string(product::kProductName) + " (" + product::kVendorHost + ")";
}

std::string originForm(std::string_view url) {
    url = url.substr(0, url.find('#'));
    if (const std::size_t scheme = url.find("://"); scheme != std::string_view::npos) {
        const std::size_t path = url.find_first_of("/?", scheme + 3);
        url = path == std::string_view::npos ? std::string_view() : url.substr(path);
    }
    if (url.empty() || url.front() != '/') {
        return "/" + std::string(url);
    }
    return std::string(url);
}

std::string buildHttpRequest(const HttpRequestFields& f, platform::CodePage cp) {
    const std::string target =
        f.throughHttpProxy ? f.URL.substr(0, f.URL.find('#')) : originForm(f.URL);
    std::string text;
    text.reserve(256 + target.size());
    text += "GET " + target + (f.UseResume || f.keepAlive ? " HTTP/1.1" : " HTTP/1.0") + "\r\n";
    text += "Accept: */*\r\n";
    text += "User-Agent: " + userAgent() + "\r\n";
    text += "Host: " + f.Hostname + "\r\n";
    if (f.UseResume) {
        text += "Range: bytes=" + std::to_string(f.ResumeFrom) + "-\r\n";
        // Without it a file changed on the server since would be completed with the new
        // file's tail; with it a changed file comes whole (200).
        if (!f.IfRange.empty()) {
            text += "If-Range: " + f.IfRange + "\r\n";
        }
        // An HTTP/1.1 connection stays open after the reply unless we say otherwise, and a
        // reply without a length ends at the close: without this such a resumed file would
        // wait out the server's keep-alive time (75 s on a default nginx).
        if (!f.keepAlive) {
            text += "Connection: close\r\n";
        }
    }
    if (f.keepAlive) {
        text += "Connection: keep-alive\r\n";
    }
    if (f.throughHttpProxy) {
        text += "Proxy-Connection: Keep-Alive\r\n";
        if (!f.ProxyUser.empty()) {
            text += "Proxy-Authorization: Basic " + ToBase64(f.ProxyUser + ":" + f.ProxyPass, cp) +
                    "\r\n";
        }
    }
    if (!f.AllowCache) {
        text += "Pragma: no-cache\r\n";
        text += "Cache-Control: no-cache\r\n";
    }
    if (f.UseHttpAuthorization && (!f.HttpUser.empty() || !f.HttpPass.empty())) {
        text += "Authorization: Basic " + ToBase64(f.HttpUser + ":" + f.HttpPass, cp) + "\r\n";
    }
    text += "\r\n";
    return platform::toAnsi(text, cp);
}

}  // namespace upd::net
