#include "app/proxy_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/locale_guard.h"
#include "tests/support/temp_dir.h"
#include "wizard/profile_file.h"

namespace upd::app {
namespace {

class ProxySettingsFile : public ::testing::Test {
  protected:
    test::LocaleGuard m_locale{"en_US.UTF-8"};
    test::TempDir m_dir;
    std::string m_file = proxyIniPath(m_dir.path());
};

TEST_F(ProxySettingsFile, LiesInTheApplicationFolder) {
    EXPECT_EQ(proxyIniPath("/opt/app/"), "/opt/app/proxy.ini");
}

TEST_F(ProxySettingsFile, MissingFileGivesTheDefaults) {
    EXPECT_EQ(readProxySettings(m_file), ProxySettings{});
}

TEST_F(ProxySettingsFile, ReadsEveryKeyAsStored) {
    m_dir.write("proxy.ini",
                "[Proxy]\r\nType=3\r\nServer=proxy.example\r\nPort= 1080 \r\n"
                "Username=alice\r\nPassword=s3cret\r\nRemoteDNS=1\r\n");
    const ProxySettings expected{.type = 3,
                                 .server = "proxy.example",
                                 .port = "1080",
                                 .username = "alice",
                                 .password = "s3cret",
                                 .remoteDns = 1};
    EXPECT_EQ(readProxySettings(m_file), expected);
}

TEST_F(ProxySettingsFile, NumbersAreRoundedAndRefusedOutsideWhatTheDialogShows) {
    struct Case {
        const char* type;
        const char* remoteDns;
        int expectedType;
        int expectedRemoteDns;
    };
    const Case cases[] = {
        {"2", "2", 2, 2},      {"2.5", "0.5", 2, 0}, {"3.4", "1.6", 3, 2},
        {"4", "3", 0, 0},      {"-1", "-1", 0, 0},   {"7", "9", 0, 0},
        {"http", "yes", 0, 0}, {"", "", 0, 0},       {"3.5", "2.5", 0, 2},
        {" 1 ", " 1 ", 1, 1},  {"1e0", "1e0", 1, 1}, {"99999999999999999999", "1", 0, 1},
    };
    for (const Case& c : cases) {
        m_dir.write("proxy.ini",
                    std::string("[Proxy]\nType=") + c.type + "\nRemoteDNS=" + c.remoteDns + "\n");
        const ProxySettings read = readProxySettings(m_file);
        EXPECT_EQ(read.type, c.expectedType) << "Type=" << c.type;
        EXPECT_EQ(read.remoteDns, c.expectedRemoteDns) << "RemoteDNS=" << c.remoteDns;
    }
}

TEST_F(ProxySettingsFile, WritesTheSixKeysInTheDialogsOrder) {
    const ProxySettings settings{.type = 2,
                                 .server = "10.0.0.1",
                                 .port = "1080x",
                                 .username = "bob",
                                 .password = "pw",
                                 .remoteDns = 2};
    ASSERT_TRUE(writeProxySettings(settings, m_file));
    EXPECT_EQ(test::readFile(m_file),
              "[Proxy]\r\nType=2\r\nServer=10.0.0.1\r\nPort=1080x\r\nUsername=bob\r\n"
              "Password=pw\r\nRemoteDNS=2\r\n");
    EXPECT_EQ(readProxySettings(m_file), settings);
}

TEST_F(ProxySettingsFile, NewFileIsReadableByItsOwnerOnly) {
    ASSERT_TRUE(writeProxySettings(ProxySettings{.password = "pw"}, m_file));
    struct stat info {};
    ASSERT_EQ(stat(m_file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ProxySettingsFile, WritingKeepsEverythingElseInTheFile) {
    m_dir.write("proxy.ini",
                "; written by hand\n[Other]\nKey=1\n[proxy]\nserver=old\nExtra=kept\n");
    ASSERT_TRUE(
        writeProxySettings(ProxySettings{.type = 1, .server = "new", .port = "8080"}, m_file));
    const std::string content = test::readFile(m_file);
    EXPECT_NE(content.find("; written by hand\n[Other]\nKey=1\n"), std::string::npos) << content;
    EXPECT_NE(content.find("Extra=kept"), std::string::npos) << content;
    EXPECT_EQ(content.find("old"), std::string::npos) << content;
    EXPECT_EQ(readProxySettings(m_file).server, "new");
    EXPECT_EQ(wizard::ReadIniValue("Other", "Key", m_file), "1");
}

TEST_F(ProxySettingsFile, FailedWriteIsReportedToTheCallerOnly) {
    const std::string inMissingFolder = m_dir.path() + "no/such/folder/proxy.ini";
    EXPECT_FALSE(writeProxySettings(ProxySettings{.type = 1}, inMissingFolder));
}

TEST(ProxyFieldStates, FollowTheEnablingTable) {
    EXPECT_EQ(proxyFieldStates(0), ProxyFieldStates{});
    EXPECT_EQ(proxyFieldStates(1), (ProxyFieldStates{.server = true}));
    EXPECT_EQ(proxyFieldStates(2),
              (ProxyFieldStates{.server = true, .username = true, .remoteDns = true}));
    EXPECT_EQ(
        proxyFieldStates(3),
        (ProxyFieldStates{.server = true, .username = true, .password = true, .remoteDns = true}));
    for (int type = 0; type < kProxyKindCount; ++type) {
        EXPECT_EQ(proxyFieldStates(type).username, proxyFieldStates(type).remoteDns) << type;
    }
    EXPECT_EQ(proxyFieldStates(-1), ProxyFieldStates{});
    EXPECT_EQ(proxyFieldStates(4), ProxyFieldStates{});
}

TEST(ProxyPortValue, TakesTheLeadingNumberWithinThePortRange) {
    EXPECT_EQ(proxyPortValue("8080"), 8080);
    EXPECT_EQ(proxyPortValue(" 1080"), 1080);
    EXPECT_EQ(proxyPortValue("80abc"), 80);
    EXPECT_EQ(proxyPortValue(""), 0);
    EXPECT_EQ(proxyPortValue("proxy"), 0);
    EXPECT_EQ(proxyPortValue("3128.5"), 3128);
    EXPECT_EQ(proxyPortValue("65535"), 65535);
    EXPECT_EQ(proxyPortValue("65536"), 0);
    EXPECT_EQ(proxyPortValue("-80"), 0);
    EXPECT_EQ(proxyPortValue("99999999999"), 0);
}

TEST(ProxyConnectionFrom, CopiesAllSixWhateverTheType) {
    const ProxySettings settings{.type = 0,
                                 .server = "disabled.example",
                                 .port = "3128",
                                 .username = "u",
                                 .password = "p",
                                 .remoteDns = 1};
    const ProxyConnection expected{.type = 0,
                                   .hostname = "disabled.example",
                                   .port = 3128,
                                   .username = "u",
                                   .password = "p",
                                   .useRemoteDns = true};
    EXPECT_EQ(proxyConnectionFrom(settings), expected);
}

TEST(ProxyConnectionFrom, OnlyACheckedBoxMeansRemoteDns) {
    EXPECT_FALSE(proxyConnectionFrom(ProxySettings{.remoteDns = 0}).useRemoteDns);
    EXPECT_TRUE(proxyConnectionFrom(ProxySettings{.remoteDns = 1}).useRemoteDns);
    EXPECT_FALSE(proxyConnectionFrom(ProxySettings{.remoteDns = 2}).useRemoteDns);
}

}  // namespace
}  // namespace upd::app
