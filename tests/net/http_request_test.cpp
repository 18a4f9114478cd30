// The request as built from the properties, field by field and in order.
#include <gtest/gtest.h>

#include "net/http_request.h"
#include "product_config.h"

namespace upd::net {
namespace {

HttpRequestFields plain() {
    HttpRequestFields f;
    f.URL = "http://example.org/update.ini";
    f.Hostname = "example.org";
    return f;
}

const std::string kHead =
    "GET http://example.org/update.ini HTTP/1.0\r\n"
    "Accept: */*\r\n"
    "User-Agent: " +
    userAgent() + "\r\nHost: example.org\r\n";

TEST(HttpRequest, UserAgentNamesTheProductAndTheVendorHost) {
    EXPECT_EQ(userAgent(), std::string(product::kProductName) + " (" + product::kVendorHost + ")");
}

TEST(HttpRequest, PlainRequestAsksForNoCache) {
    EXPECT_EQ(buildHttpRequest(plain(), 1252),
              kHead + "Pragma: no-cache\r\nCache-Control: no-cache\r\n\r\n");
}

TEST(HttpRequest, AllowCacheDropsTheNoCacheLines) {
    auto f = plain();
    f.AllowCache = true;
    EXPECT_EQ(buildHttpRequest(f, 1252), kHead + "\r\n");
}

TEST(HttpRequest, ResumeAsksForARangeOverHttp11) {
    auto f = plain();
    f.AllowCache = true;
    f.UseResume = true;
    f.ResumeFrom = 1000;
    EXPECT_EQ(buildHttpRequest(f, 1252),
              "GET http://example.org/update.ini HTTP/1.1\r\n"
              "Accept: */*\r\n"
              "User-Agent: " +
                  userAgent() +
                  "\r\nHost: example.org\r\n"
                  "Range: bytes=1000-\r\n"
                  "Connection: close\r\n\r\n");
}

TEST(HttpRequest, HttpProxyLineComesBeforeTheCacheLines) {
    auto f = plain();
    f.throughHttpProxy = true;
    EXPECT_EQ(buildHttpRequest(f, 1252), kHead +
                                             "Proxy-Connection: Keep-Alive\r\nPragma: no-cache\r\n"
                                             "Cache-Control: no-cache\r\n\r\n");
}

TEST(HttpRequest, AuthorizationOnlyWithSomethingToSend) {
    auto f = plain();
    f.AllowCache = true;
    f.UseHttpAuthorization = true;
    EXPECT_EQ(buildHttpRequest(f, 1252), kHead + "\r\n");
    f.HttpUser = "u";
    EXPECT_EQ(buildHttpRequest(f, 1252), kHead + "Authorization: Basic dTo=\r\n\r\n");
    f.HttpUser.clear();
    f.HttpPass = "p";
    EXPECT_EQ(buildHttpRequest(f, 1252), kHead + "Authorization: Basic OnA=\r\n\r\n");
    f.UseHttpAuthorization = false;
    EXPECT_EQ(buildHttpRequest(f, 1252), kHead + "\r\n");
}

TEST(HttpRequest, HostCarriesNoPortAndTextGoesOutInTheCodePage) {
    auto f = plain();
    f.AllowCache = true;
    f.URL = "http://h:8080/x";
    f.Hostname = "h";
    f.UseHttpAuthorization = true;
    f.HttpUser = "\xE7\x94\xA8";  // 用
    const std::string request = buildHttpRequest(f, 936);
    EXPECT_NE(request.find("\r\nHost: h\r\n"), std::string::npos);
    // Base64 of the GBK bytes D3 C3 and ":".
    EXPECT_NE(request.find("Authorization: Basic 08M6\r\n"), std::string::npos);
}

}  // namespace
}  // namespace upd::net
