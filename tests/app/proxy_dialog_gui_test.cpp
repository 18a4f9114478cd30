// The proxy dialog frmProxy: the enabling rules, proxy.ini shown on load and written on OK,
// and every way of closing it with and without saving.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "app/frm_proxy.h"
#include "app/string_table.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::app {
namespace {

class ProxyDialog : public ::testing::Test {
  protected:
    // The machine's own proxy would show in a dialog without proxy.ini.
    ProxyDialog() {
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy",
                                 "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            m_env.set(name, nullptr);
        }
    }

    std::unique_ptr<frmProxy> load() {
        auto dialog = std::make_unique<frmProxy>(m_ini, 1033);
        dialog->Form_Load();
        return dialog;
    }

    // Server, port, username, password, remote DNS.
    static std::array<bool, 5> enabled(const frmProxy& d) {
        return {d.txtProxy->isEnabled(), d.txtProxyPort->isEnabled(), d.txtUsername->isEnabled(),
                d.txtPassword->isEnabled(), d.chkRemoteDNS->isEnabled()};
    }

    test::LocaleGuard m_locale{"en_US.UTF-8"};
    test::EnvGuard m_env;
    test::TempDir m_dir;
    std::string m_ini = m_dir.file("proxy.ini");
};

// settings() reads every field back from the screen: the type, the texts, and the box (2 is
// greyed). What readProxySettings makes of the file is proxy_settings_test's.
TEST_F(ProxyDialog, ShowsTheFileWhenItLoads) {
    for (const char* file : {"[Proxy]\r\nType=3\r\nServer=socks.example\r\nPort=1080\r\n"
                             "Username=alice\r\nPassword=pw\r\nRemoteDNS=1\r\n",
                             "[Proxy]\nType=2\nRemoteDNS=2\n"}) {
        m_dir.write("proxy.ini", file);
        EXPECT_EQ(load()->settings(), readProxySettings(m_ini)) << file;
    }
    // A greyed box (the last file's) shows as such until clicked; clicks then only check and
    // clear it.
    const auto dialog = load();
    dialog->show();
    for (const Qt::CheckState next : {Qt::Checked, Qt::Unchecked, Qt::Checked}) {
        QTest::mouseClick(dialog->chkRemoteDNS, Qt::LeftButton);
        EXPECT_EQ(dialog->chkRemoteDNS->checkState(), next);
    }
    dialog->txtPassword->setText("s3cr3t");
    EXPECT_EQ(dialog->txtPassword->displayText(), "******");
}

TEST_F(ProxyDialog, EnablingFollowsTheChosenTypeAndKeepsWhatWasTyped) {
    const auto dialog = load();
    dialog->show();
    EXPECT_EQ(enabled(*dialog), (std::array<bool, 5>{}));
    const std::array<bool, 5> expected[] = {
        {false, false, false, false, false},
        {true, true, true, true, false},
        {true, true, true, false, true},
        {true, true, true, true, true},
    };
    for (const int type : {3, 1, 2, 0, 2, 3}) {
        dialog->cmbProxyServer->setCurrentIndex(type);
        EXPECT_EQ(enabled(*dialog), expected[type]) << "type " << type;
    }
    // The text of a field disabled later stays, and is saved.
    QTest::keyClicks(dialog->txtPassword, "pw");
    QTest::keyClicks(dialog->txtProxy, "p.example");
    QTest::keyClicks(dialog->txtProxyPort, "1080");
    dialog->cmbProxyServer->setCurrentIndex(2);
    EXPECT_EQ(dialog->txtPassword->text(), "pw");
    QTest::mouseClick(dialog->OK, Qt::LeftButton);
    EXPECT_EQ(readProxySettings(m_ini).password, "pw");
    EXPECT_EQ(readProxySettings(m_ini).type, 2);
}

// OK stays disabled, with a hint, until the server and the port are ones; the port field
// takes digits only. Without a proxy nothing is checked, and OK drops a stored password.
TEST_F(ProxyDialog, TakesOnlyAServerAndAPort) {
    m_dir.write("proxy.ini", "[Proxy]\nType=1\nServer=p.example\nPort=8080\nPassword=pw\n");
    const auto dialog = load();
    dialog->show();
    EXPECT_EQ(dialog->focusWidget(), dialog->cmbProxyServer);
    // clang-format off
    const struct { const char* server; const char* typed; const char* port; const char* hint; } cases[] = {
        {"p.example", "8080", "8080", ""}, {"p.example", "65535", "65535", ""},
        {"p.example", "1", "1", ""}, {"p.example", "0", "0", "Enter a port from 1 to 65535."},
        {"p.example", "65536", "65536", "Enter a port from 1 to 65535."},
        {"p.example", "8o8O", "88", ""}, {"p.example", "123456", "12345", ""},
        {"p.example", "", "", "Enter a port from 1 to 65535."},
        {"p example", "80", "80", "Enter the proxy server, without spaces."},
        {"", "80", "80", "Enter the proxy server, without spaces."},
    };
    // clang-format on
    for (const auto& c : cases) {
        dialog->txtProxy->setText(c.server);
        dialog->txtProxyPort->clear();
        QTest::keyClicks(dialog->txtProxyPort, c.typed);
        EXPECT_EQ(dialog->txtProxyPort->text(), c.port) << c.typed;
        EXPECT_EQ(dialog->OK->isEnabled(), *c.hint == 0) << c.server << ":" << c.typed;
        EXPECT_EQ(dialog->Hint->text(), c.hint) << c.server << ":" << c.typed;
    }
    QTest::keyClick(dialog->txtProxy, Qt::Key_Return);  // OK is disabled: nothing happens
    EXPECT_TRUE(dialog->isVisible());
    dialog->cmbProxyServer->setCurrentIndex(0);
    EXPECT_TRUE(dialog->OK->isEnabled());
    QTest::mouseClick(dialog->OK, Qt::LeftButton);
    EXPECT_EQ(readProxySettings(m_ini), (ProxySettings{0, "", "80", "", "", 0}));
}

// Cancel writes nothing, however valid the fields are, and unloads the dialog once. What OK
// saves is the tests' above; Enter and Esc (the close box rejects as Esc does) are
// server_page_gui_test's.
TEST_F(ProxyDialog, CancelWritesNothing) {
    m_dir.write("proxy.ini", "[Proxy]\r\nType=1\r\nServer=old.example\r\n");
    const std::string before = test::readFile(m_ini);
    const auto dialog = load();
    QSignalSpy unloaded(dialog.get(), &frmProxy::unloaded);
    dialog->show();
    dialog->cmbProxyServer->setCurrentIndex(3);
    dialog->txtProxyPort->setText("1080");
    QTest::mouseClick(dialog->Cancel, Qt::LeftButton);
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(test::readFile(m_ini), before);
}

// Without proxy.ini the dialog shows the system's proxy for the server's scheme and says so,
// or says that it cannot be used (once to an unattended run); a change drops the line, and
// what OK saves wins from then on.
TEST_F(ProxyDialog, ShowsTheSystemsProxyUntilAChoiceIsSaved) {
    m_env.set("http_proxy", "http://bob:pw@p.example:3128").set("https_proxy", "https://p.example");
    const auto dialog = load();
    EXPECT_EQ(dialog->settings(), (ProxySettings{1, "p.example", "3128", "bob", "pw", 0}));
    EXPECT_EQ(dialog->Hint->text().toStdString(), LoadResString(218, 1033));
    dialog->setServerUrl("https://s.example/");
    EXPECT_EQ(dialog->settings(), ProxySettings{});
    EXPECT_EQ(dialog->Hint->text().toStdString(), LoadResString(219, 1033));
    std::vector<std::string> warned;
    for (int i = 0; i < 2; ++i) {
        dialog->connectionFor("https://s.example/",
                              [&](const std::string& l) { warned.push_back(l); });
    }
    EXPECT_EQ(warned.size(), 1u);
    dialog->setServerUrl("http://s.example/");
    dialog->show();
    QTest::keyClicks(dialog->txtProxyPort, "0");
    EXPECT_TRUE(dialog->Hint->text().isEmpty());
    QTest::mouseClick(dialog->OK, Qt::LeftButton);
    EXPECT_EQ(load()->connectionFor("http://s.example/").port, 31280);
    EXPECT_FALSE(LoadResString(218, 1033).empty() || LoadResString(219, 1033).empty());
}

TEST_F(ProxyDialog, AFileThatCannotBeWrittenClosesTheDialogSilently) {
    frmProxy dialog(m_dir.path() + "missing/proxy.ini", 1033);
    dialog.Form_Load();
    QSignalSpy unloaded(&dialog, &frmProxy::unloaded);
    dialog.show();
    QTest::mouseClick(dialog.OK, Qt::LeftButton);
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "missing"));
}

}  // namespace
}  // namespace upd::app
