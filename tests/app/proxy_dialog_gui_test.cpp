// The proxy dialog frmProxy: texts, the enabling rules, proxy.ini read on load and written
// on OK, and every way of closing it without saving.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

#include "app/frm_proxy.h"
#include "tests/support/locale_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::app {
namespace {

class ProxyDialog : public ::testing::Test {
  protected:
    std::unique_ptr<frmProxy> load(platform::LangId locale = 1033) {
        auto dialog = std::make_unique<frmProxy>(m_ini, locale);
        dialog->Form_Load();
        return dialog;
    }

    struct Enabled {
        bool server, port, username, password, remoteDns;
        bool operator==(const Enabled&) const = default;
    };
    static Enabled enabled(const frmProxy& d) {
        return {d.txtProxy->isEnabled(), d.txtProxyPort->isEnabled(), d.txtUsername->isEnabled(),
                d.txtPassword->isEnabled(), d.chkRemoteDNS->isEnabled()};
    }

    test::LocaleGuard m_locale{"en_US.UTF-8"};
    test::TempDir m_dir;
    std::string m_ini = m_dir.file("proxy.ini");
};

TEST_F(ProxyDialog, TakesItsTextsFromTheStringTable) {
    const auto dialog = load();
    EXPECT_EQ(dialog->windowTitle(), "Proxy");
    EXPECT_EQ(dialog->FrameProxy->title(), " Proxy Server ");
    EXPECT_EQ(dialog->Label1[0]->text(), "Type:");
    EXPECT_EQ(dialog->Label1[1]->text(), "Server:");
    EXPECT_EQ(dialog->Label1[2]->text(), "Port:");
    EXPECT_EQ(dialog->Label1[3]->text(), "Username:");
    EXPECT_EQ(dialog->Label1[4]->text(), "Password:");
    ASSERT_EQ(dialog->cmbProxyServer->count(), 4);
    EXPECT_EQ(dialog->cmbProxyServer->itemText(0), "No Proxy");
    EXPECT_EQ(dialog->cmbProxyServer->itemText(1), "HTTP Proxy");
    EXPECT_EQ(dialog->cmbProxyServer->itemText(2), "SOCKS4 Proxy");
    EXPECT_EQ(dialog->cmbProxyServer->itemText(3), "SOCKS5 Proxy");
    EXPECT_FALSE(dialog->cmbProxyServer->isEditable());
    EXPECT_EQ(dialog->chkRemoteDNS->text(), "Use remote DNS");
    EXPECT_EQ(dialog->OK->text(), "&OK");
    EXPECT_EQ(dialog->Cancel->text(), "&Cancel");

    const auto chinese = load(2052);
    EXPECT_EQ(chinese->windowTitle(), "代理设置");
    EXPECT_EQ(chinese->cmbProxyServer->itemText(3), "SOCKS5 代理");
    EXPECT_EQ(chinese->OK->text(), "确定(&O)");
}

TEST_F(ProxyDialog, IsAFixedSizeDialogLaidOutAsDesigned) {
    const auto dialog = load();
    EXPECT_EQ(dialog->size(), QSize(298, 298));
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(dialog->FrameProxy->geometry(), QRect(24, 24, 249, 207));
    EXPECT_EQ(dialog->cmbProxyServer->geometry(), QRect(80, 16, 145, 20));
    EXPECT_EQ(dialog->txtProxyPort->geometry(), QRect(80, 80, 49, 19));
    EXPECT_EQ(dialog->OK->geometry(), QRect(24, 256, 81, 21));
    EXPECT_EQ(dialog->Cancel->geometry(), QRect(184, 256, 81, 21));
    for (const QLabel* label : dialog->Label1) {
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
    }
}

TEST_F(ProxyDialog, WithoutAFileItShowsNoProxy) {
    const auto dialog = load();
    EXPECT_EQ(dialog->cmbProxyServer->currentIndex(), 0);
    EXPECT_EQ(enabled(*dialog), (Enabled{false, false, false, false, false}));
    EXPECT_TRUE(dialog->txtProxy->text().isEmpty());
    EXPECT_EQ(dialog->chkRemoteDNS->checkState(), Qt::Unchecked);
    EXPECT_EQ(dialog->settings(), ProxySettings{});
}

TEST_F(ProxyDialog, EnablingFollowsTheChosenType) {
    const auto dialog = load();
    const Enabled expected[] = {
        {false, false, false, false, false},
        {true, true, false, false, false},
        {true, true, true, false, true},
        {true, true, true, true, true},
    };
    for (const int type : {3, 1, 2, 0, 2, 3}) {
        dialog->cmbProxyServer->setCurrentIndex(type);
        EXPECT_EQ(enabled(*dialog), expected[type]) << "type " << type;
    }
}

TEST_F(ProxyDialog, AFileWithSocksFiveOpensWithEveryFieldEnabled) {
    m_dir.write("proxy.ini",
                "[Proxy]\r\nType=3\r\nServer=socks.example\r\nPort=1080\r\nUsername=alice\r\n"
                "Password=pw\r\nRemoteDNS=1\r\n");
    const auto dialog = load();
    EXPECT_EQ(dialog->cmbProxyServer->currentIndex(), 3);
    EXPECT_EQ(enabled(*dialog), (Enabled{true, true, true, true, true}));
    EXPECT_EQ(dialog->txtProxy->text(), "socks.example");
    EXPECT_EQ(dialog->txtProxyPort->text(), "1080");
    EXPECT_EQ(dialog->txtUsername->text(), "alice");
    EXPECT_EQ(dialog->txtPassword->text(), "pw");
    EXPECT_EQ(dialog->chkRemoteDNS->checkState(), Qt::Checked);
}

TEST_F(ProxyDialog, AGreyedBoxShowsAsSuchUntilClicked) {
    m_dir.write("proxy.ini", "[Proxy]\nType=2\nRemoteDNS=2\n");
    const auto dialog = load();
    EXPECT_EQ(dialog->chkRemoteDNS->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(dialog->settings().remoteDns, 2);
    dialog->show();
    QTest::mouseClick(dialog->chkRemoteDNS, Qt::LeftButton);
    EXPECT_EQ(dialog->chkRemoteDNS->checkState(), Qt::Checked);
    QTest::mouseClick(dialog->chkRemoteDNS, Qt::LeftButton);
    EXPECT_EQ(dialog->chkRemoteDNS->checkState(), Qt::Unchecked);
    QTest::mouseClick(dialog->chkRemoteDNS, Qt::LeftButton);
    EXPECT_EQ(dialog->chkRemoteDNS->checkState(), Qt::Checked);
}

TEST_F(ProxyDialog, StoredValuesItCannotShowOpenAsNoProxy) {
    m_dir.write("proxy.ini", "[Proxy]\nType=9\nServer=kept.example\nRemoteDNS=5\n");
    const auto dialog = load();
    EXPECT_EQ(dialog->cmbProxyServer->currentIndex(), 0);
    EXPECT_EQ(dialog->txtProxy->text(), "kept.example");
    EXPECT_EQ(dialog->chkRemoteDNS->checkState(), Qt::Unchecked);
}

TEST_F(ProxyDialog, OkWritesTheFileAndUnloads) {
    const auto dialog = load();
    QSignalSpy unloaded(dialog.get(), &frmProxy::unloaded);
    dialog->show();
    dialog->cmbProxyServer->setCurrentIndex(3);
    QTest::keyClicks(dialog->txtProxy, "socks.example");
    QTest::keyClicks(dialog->txtProxyPort, "1080");
    QTest::keyClicks(dialog->txtUsername, "bob");
    QTest::keyClicks(dialog->txtPassword, "secret");
    QTest::mouseClick(dialog->chkRemoteDNS, Qt::LeftButton);
    QTest::mouseClick(dialog->OK, Qt::LeftButton);

    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(test::readFile(m_ini),
              "[Proxy]\r\nType=3\r\nServer=socks.example\r\nPort=1080\r\nUsername=bob\r\n"
              "Password=secret\r\nRemoteDNS=1\r\n");
}

TEST_F(ProxyDialog, TextOfAFieldDisabledLaterIsKeptAndSaved) {
    const auto dialog = load();
    dialog->show();
    dialog->cmbProxyServer->setCurrentIndex(3);
    QTest::keyClicks(dialog->txtPassword, "pw");
    dialog->cmbProxyServer->setCurrentIndex(1);
    EXPECT_FALSE(dialog->txtPassword->isEnabled());
    EXPECT_EQ(dialog->txtPassword->text(), "pw");
    QTest::mouseClick(dialog->OK, Qt::LeftButton);
    EXPECT_EQ(readProxySettings(m_ini).password, "pw");
    EXPECT_EQ(readProxySettings(m_ini).type, 1);
}

TEST_F(ProxyDialog, EnterIsOk) {
    const auto dialog = load();
    QSignalSpy unloaded(dialog.get(), &frmProxy::unloaded);
    dialog->show();
    dialog->cmbProxyServer->setCurrentIndex(1);
    dialog->txtProxy->setFocus();
    QTest::keyClicks(dialog->txtProxy, "proxy.example");
    QTest::keyClick(dialog->txtProxy, Qt::Key_Return);
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_EQ(readProxySettings(m_ini).server, "proxy.example");
}

// Cancel, Esc and the close box: the dialog unloads and nothing is written.
class ProxyDialogDiscarding : public ProxyDialog,
                              public ::testing::WithParamInterface<const char*> {};

TEST_P(ProxyDialogDiscarding, WritesNothing) {
    m_dir.write("proxy.ini", "[Proxy]\r\nType=1\r\nServer=old.example\r\n");
    const std::string before = test::readFile(m_ini);
    const auto dialog = load();
    QSignalSpy unloaded(dialog.get(), &frmProxy::unloaded);
    dialog->show();
    dialog->cmbProxyServer->setCurrentIndex(3);
    dialog->txtProxy->setText("new.example");

    const std::string_view how = GetParam();
    if (how == "cancel") {
        QTest::mouseClick(dialog->Cancel, Qt::LeftButton);
    } else if (how == "escape") {
        QTest::keyClick(dialog->txtProxy, Qt::Key_Escape);
    } else {
        dialog->close();
    }
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(test::readFile(m_ini), before);
}

INSTANTIATE_TEST_SUITE_P(Ways, ProxyDialogDiscarding,
                         ::testing::Values("cancel", "escape", "close box"));

TEST_F(ProxyDialog, ThePasswordShowsAStarForEveryCharacter) {
    const auto dialog = load();
    dialog->txtPassword->setText("s3cr3t");
    EXPECT_EQ(dialog->txtPassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog->txtPassword->displayText(), "******");
}

TEST_F(ProxyDialog, AFileThatCannotBeWrittenClosesTheDialogSilently) {
    auto dialog = std::make_unique<frmProxy>(m_dir.path() + "missing/proxy.ini", 1033);
    dialog->Form_Load();
    QSignalSpy unloaded(dialog.get(), &frmProxy::unloaded);
    dialog->show();
    QTest::mouseClick(dialog->OK, Qt::LeftButton);
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "missing"));
}

}  // namespace
}  // namespace upd::app
