#include "app/proxy_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/environment_proxy.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::app {
namespace {

class ProxySettingsFile : public ::testing::Test {
  protected:
    test::LocaleGuard m_locale{"en_US.UTF-8"};
    test::TempDir m_dir;
    std::string m_file = proxyIniPath(m_dir.path());
};

TEST_F(ProxySettingsFile, NumbersAreRoundedAndRefusedOutsideWhatTheDialogShows) {
    // clang-format off
    const struct { const char* type; const char* remoteDns; int expectedType; int expectedRemoteDns; } cases[] = {
        {"2", "2", 2, 2}, {"2.5", "0.5", 2, 0}, {"3.4", "1.6", 3, 2}, {"4", "3", 0, 0}, {"-1", "-1", 0, 0},
        {"http", "", 0, 0}, {"3.5", "2.5", 0, 2}, {"99999999999999999999", "1", 0, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        m_dir.write("proxy.ini",
                    std::string("[Proxy]\nType=") + c.type + "\nRemoteDNS=" + c.remoteDns + "\n");
        const ProxySettings read = readProxySettings(m_file);
        EXPECT_EQ(read.type, c.expectedType) << "Type=" << c.type;
        EXPECT_EQ(read.remoteDns, c.expectedRemoteDns) << "RemoteDNS=" << c.remoteDns;
    }
}

TEST_F(ProxySettingsFile, WritesTheSixKeysInTheDialogsOrderToAPrivateFile) {
    const ProxySettings settings{2, "10.0.0.1", "1080x", "bob", "pw", 2};
    EXPECT_EQ(readProxySettings(m_file), ProxySettings{});  // no file: the defaults
    ASSERT_TRUE(writeProxySettings(settings, m_file));
    EXPECT_EQ(test::readFile(m_file),
              "[Proxy]\r\nType=2\r\nServer=10.0.0.1\r\nPort=1080x\r\nUsername=bob\r\n"
              "Password=pw\r\nRemoteDNS=2\r\n");

    EXPECT_FALSE(writeProxySettings(settings, m_dir.path() + "no/such/folder/proxy.ini"));
}

// It holds the password: a regular file for its owner only, whatever stood at its path. A
// link there is replaced, and the file it names stays as it was.
TEST_F(ProxySettingsFile, EndsUpPrivateAndNeverWritesThroughALink) {
    // clang-format off
    const struct {
        const char* at; bool link;  // else a file of mode 0644
        bool linkTarget;            // the link names an existing file
    } cases[] = {{"file", false, false}, {"link", true, true}, {"dangling", true, false}};
    // clang-format on
    const std::string elsewhere = m_dir.file("elsewhere.ini");
    const std::string theirs = "[Proxy]\r\nServer=theirs\r\n";
    const ProxySettings settings{3, "10.0.0.1", "1080", "bob", "pw", 1};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at);
        std::remove(m_file.c_str());
        std::remove(elsewhere.c_str());
        if (!c.link || c.linkTarget) {
            const std::string made = m_dir.write(c.link ? "elsewhere.ini" : "proxy.ini", theirs);
            ASSERT_EQ(chmod(made.c_str(), 0644), 0);
        }
        ASSERT_TRUE(!c.link || symlink(elsewhere.c_str(), m_file.c_str()) == 0);
        ASSERT_TRUE(writeProxySettings(settings, m_file));
        struct stat info {};
        ASSERT_EQ(lstat(m_file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(readProxySettings(m_file), settings);
        EXPECT_EQ(test::readFile(elsewhere), c.linkTarget ? theirs : "");
    }
}

// A download takes all six whatever the type; the port's parsing is number_text_test's.
TEST(ProxyConnectionFrom, CopiesAllSixWithThePortInRange) {
    // type, server, port, username, password, remote DNS
    const ProxySettings settings{0, "disabled.example", "3128.5", "u", "p", 1};
    const ProxyConnection expected{0, "disabled.example", 3128, "u", "p", true};
    EXPECT_EQ(proxyConnectionFrom(settings), expected);
    EXPECT_FALSE(proxyConnectionFrom(ProxySettings{.remoteDns = 2}).useRemoteDns);  // greyed
    EXPECT_EQ(proxyPortValue("65535"), 65535);
    for (const char* refused : {"65536", "-80", "99999999999", "proxy"}) {
        EXPECT_EQ(proxyPortValue(refused), 0) << refused;
    }
}

// The system's proxy, used only without a proxy.ini (`ini` nullptr); a saved choice, "No
// proxy" included, always wins. A variable that cannot be used is named, never shown.
TEST_F(ProxySettingsFile, TheSystemsProxyAppliesOnlyWithoutASavedChoice) {
    const char* const p = "http_proxy=p:1";
    // clang-format off
    const struct { std::vector<const char*> env; const char* url; const char* ini; ProxyConnection expected; bool warns = false; } cases[] = {
        {{"http_proxy=http://p.example:3128"}, "http://s.example/u.ini", nullptr, {1, "p.example", 3128}},
        {{"http_proxy=proxy.example"}, "HTTP://s/", nullptr, {1, "proxy.example", 1080}},
        {{"https_proxy=HTTP://u%40corp:p%3Aw%25@p:8080/"}, "https://s/", nullptr, {1, "p", 8080, "u@corp", "p:w%"}},
        {{"HTTPS_PROXY=socks4://bob:pw@p"}, "https://s/", nullptr, {2, "p", 1080, "bob", ""}},
        {{"all_proxy=socks4a://p:1"}, "http://s/", nullptr, {2, "p", 1, "", "", true}},
        {{"ALL_PROXY=socks5://u:p@[fd00::1]:1081"}, "https://s/", nullptr, {3, "fd00::1", 1081, "u", "p", false, 2}},
        {{"all_proxy=socks5h://p"}, "http://s/", nullptr, {3, "p", 1080, "", "", true}},
        {{"HTTP_PROXY=http://p:1"}, "http://s/", nullptr, {}},
        {{"http_proxy=", "all_proxy=http://a:2"}, "http://s/", nullptr, {1, "a", 2}},
        {{"https_proxy=https://u:secret@p:443"}, "https://s/", nullptr, {}, true},
        {{"http_proxy=http://p:0"}, "http://s/", nullptr, {}, true},
        {{"http_proxy=http://p:99999"}, "http://s/", nullptr, {}, true},
        {{"http_proxy=ftp://p"}, "http://s/", nullptr, {}, true},
        {{"http_proxy=http://u:secret%zz@p"}, "http://s/", nullptr, {}, true},
        {{"http_proxy=http://u:secret%0A@p"}, "http://s/", nullptr, {}, true},
        {{"http_proxy=http://p q"}, "http://s/", nullptr, {}, true},
        {{"http_proxy=http://"}, "http://s/", nullptr, {}, true},
        {{"http_proxy=http://[fd00::1"}, "http://s/", nullptr, {}, true},
        {{p, "no_proxy=example.com"}, "http://www.EXAMPLE.com./", nullptr, {}},
        {{p, "no_proxy=.example.com"}, "http://u:pw@example.com:8080/", nullptr, {}},
        {{p, "no_proxy=example.com"}, "http://myexample.com/", nullptr, {1, "p", 1}},
        {{p, "NO_PROXY=a.example  *"}, "http://s/", nullptr, {}},
        {{p, "no_proxy=10.0.0.0/8"}, "http://10.1.2.3/", nullptr, {}},
        {{p, "no_proxy=10.0.0.0/8"}, "http://11.1.2.3/", nullptr, {1, "p", 1}},
        {{p, "no_proxy=x.example,192.168.1.7:8080"}, "http://192.168.1.7:81/", nullptr, {}},
        {{p, "no_proxy=1.7"}, "http://192.168.1.7/", nullptr, {1, "p", 1}},
        {{p, "no_proxy=[::1]:80"}, "http://[::1]/", nullptr, {}},
        {{p, "no_proxy=example.com:8080"}, "http://EXAMPLE.COM/", nullptr, {}},
        {{p}, "http://s/", "[Proxy]\nType=0\n", {}},
        {{p}, "http://s/", "", {}},
        {{"https_proxy=https://p"}, "https://s/", "[Proxy]\nType=2\nServer=s4\nPort=1080\n", {2, "s4", 1080}},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::map<std::string, std::string, std::less<>> env;
        for (const std::string_view line : c.env) {
            env[std::string(line.substr(0, line.find('=')))] = line.substr(line.find('=') + 1);
        }
        const auto getenv = [&env](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        };
        std::remove(m_file.c_str());
        if (c.ini != nullptr) {
            m_dir.write("proxy.ini", c.ini);
        }
        const ProxyInForce inForce = proxyInForce(readSavedProxySettings(m_file), c.url, getenv);
        EXPECT_EQ(inForce.connection, c.expected) << c.env.back() << " for " << c.url;
        EXPECT_EQ(inForce.warning.empty(), !c.warns) << c.env.back() << ": " << inForce.warning;
        EXPECT_EQ(inForce.warning.find("secret"), std::string::npos) << inForce.warning;
    }
}

}  // namespace
}  // namespace upd::app
