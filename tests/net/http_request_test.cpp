// What the engine's wire tests do not reach: when an Authorization line is sent, and its
// credentials in the system code page.
#include <gtest/gtest.h>

#include "net/http_request.h"

namespace upd::net {
namespace {

TEST(HttpRequest, AuthorizationOnlyWithSomethingToSendInTheCodePage) {
    struct Case {
        bool use;
        const char* user;
        const char* pass;
        platform::CodePage codePage;
        const char* line;  // the Authorization line, or "" for none
    };
    const std::vector<Case> cases = {
        {true, "", "", 1252, ""},
        {false, "u", "p", 1252, ""},
        {true, "", "p", 1252, "Authorization: Basic OnA=\r\n"},
        {true, "\xE7\x94\xA8", "", 936, "Authorization: Basic 08M6\r\n"},  // 用 is D3 C3 in GBK
    };
    for (const auto& c : cases) {
        HttpRequestFields f;
        f.URL = "http://h:8080/x";
        f.Hostname = "h";
        f.AllowCache = true;
        f.UseHttpAuthorization = c.use;
        f.HttpUser = c.user;
        f.HttpPass = c.pass;
        EXPECT_EQ(buildHttpRequest(f, c.codePage),
                  "GET /x HTTP/1.0\r\nAccept: */*\r\n"
                  "User-Agent: " +
                      userAgent() + "\r\nHost: h\r\n" + c.line + "\r\n")
            << c.user << ":" << c.pass;
    }
}

TEST(HttpRequest, OnlyAnHttpProxyGetsTheAbsoluteFormAndNoFragmentGoesOnTheWire) {
    const struct {
        const char* url;
        const char* origin;
    } cases[] = {
        {"http://h:8080/a/b?q=1#part", "/a/b?q=1"},
        {"http://h", "/"},
        {"http://h?q", "/?q"},
        {"http://h/#x", "/"},
        {"/x", "/x"},
        {"x", "/x"},
        {"http://h/a%20b", "/a%20b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(originForm(c.url), c.origin) << c.url;
    }
    HttpRequestFields f;
    f.URL = "http://h:8080/a?q#part";
    f.Hostname = "h";
    EXPECT_TRUE(buildHttpRequest(f, 1252).starts_with("GET /a?q HTTP/1.0\r\n"));
    f.throughHttpProxy = true;
    EXPECT_TRUE(buildHttpRequest(f, 1252).starts_with("GET http://h:8080/a?q HTTP/1.0\r\n"));
}

}  // namespace
}  // namespace upd::net
