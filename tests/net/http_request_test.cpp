// What the engine's wire tests do not reach: what each field puts in the request, compared with
// the layout written out in tests/support/expected_request.h (credentials in the system code
// page), and the origin form of a URL.
#include <gtest/gtest.h>

#include <optional>

#include "net/http_request.h"
#include "tests/support/expected_request.h"

namespace upd::net {
namespace {

using upd::test::expectedRequest;
using upd::test::RequestShape;

TEST(HttpRequest, FollowsItsFields) {
    struct Case {
        std::string url = "http://h:8080/x";
        std::optional<std::int64_t> resumeFrom = {};
        std::string ifRange = {};
        bool proxy = false, allowCache = false, useAuthorization = false;
        std::string user = {}, pass = {}, proxyUser = {};
        platform::CodePage codePage = 1252;
        RequestShape expected = {};
    };
    // clang-format off
    const Case cases[] = {
        // Authorization only with something to send, in the code page.
        {.useAuthorization = true, .expected = {.target = "/x"}},
        {.useAuthorization = true, .pass = "p",
         .expected = {.target = "/x", .authorization = "Basic OnA="}},
        {.useAuthorization = true, .user = "\xE7\x94\xA8", .codePage = 936,  // 用 is D3 C3 in GBK
         .expected = {.target = "/x", .authorization = "Basic 08M6"}},
        // Only an HTTP proxy gets the absolute form; no fragment goes on the wire.
        {.url = "http://h:8080/a?q#part", .proxy = true,
         .expected = {.target = "http://h:8080/a?q", .viaHttpProxy = true}},
        // A proxy login goes to an HTTP proxy only.
        {.proxy = false, .proxyUser = "u", .expected = {.target = "/x"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        const HttpRequestFields f{.URL = c.url,
                                  .Hostname = "127.0.0.1",
                                  .UseResume = c.resumeFrom.has_value(),
                                  .ResumeFrom = c.resumeFrom.value_or(0),
                                  .IfRange = c.ifRange,
                                  .throughHttpProxy = c.proxy,
                                  .AllowCache = c.allowCache,
                                  .UseHttpAuthorization = c.useAuthorization,
                                  .HttpUser = c.user,
                                  .HttpPass = c.pass,
                                  .ProxyUser = c.proxyUser,
                                  .ProxyPass = c.proxyUser.empty() ? "" : "p"};
        EXPECT_EQ(buildHttpRequest(f, c.codePage), expectedRequest(c.expected))
            << c.url << " " << c.user << ":" << c.pass;
    }
}

TEST(HttpRequest, OriginFormDropsSchemeAuthorityAndFragment) {
    const struct {
        const char* url;
        const char* origin;
    } cases[] = {
        {"http://h", "/"}, {"http://h?q", "/?q"}, {"http://h/#x", "/"}, {"/x", "/x"}, {"x", "/x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(originForm(c.url), c.origin) << c.url;
    }
}

}  // namespace
}  // namespace upd::net
