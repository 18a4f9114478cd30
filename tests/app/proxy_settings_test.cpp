#include "app/proxy_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

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

}  // namespace
}  // namespace upd::app
