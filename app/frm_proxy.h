// The proxy dialog `frmProxy`: how downloads reach the servers (directly, or through an
// HTTP, SOCKS4 or SOCKS5 proxy). It shows `proxy.ini` when it loads and writes it on OK.
// Without a proxy.ini (nothing was ever saved) it shows the system's proxy for the chosen
// server (app/environment_proxy.h) with a line saying so, and downloads use the system's
// proxy until OK saves a choice.
//
// Lifetime: whoever creates the dialog calls Form_Load once and destroys the dialog when it
// reports `unloaded` (after OK, Cancel, Esc or the close box). The wizard keeps it loaded,
// hidden, while download pages read its values (see Wizard::proxySettingsInForce), so that
// every load reads the file again and a download always uses the settings last saved with
// OK.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <set>
#include <string>

#include "app/proxy_settings.h"
#include "platform/language.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace upd::app {

class frmProxy : public QDialog {
    Q_OBJECT

  public:
    frmProxy(std::string proxyIniPath, platform::LangId userLocale, QWidget* parent = nullptr);

    // Texts from the string table, then the controls from `proxy.ini`.
    void Form_Load();
    // The enabling rules for the chosen type; runs whenever the list index is set.
    void cmbProxyServer_Click();
    // Writes the six values to `proxy.ini` (without the password when no proxy is used), then
    // unloads the dialog. Disabled while the server or the port is not one.
    void OK_Click();
    // Unloads the dialog; nothing is written. Esc and the close box do the same.
    void Cancel_Click();

    // The values the controls hold now.
    ProxySettings settings() const;
    // The server whose proxy the dialog shows while nothing is saved (its scheme picks the
    // system's variable); an empty URL is an http:// one. Shows it at once when loaded.
    void setServerUrl(std::string url);
    // The settings for a download of `url`: the controls' when proxy.ini was there at load,
    // otherwise the system's for that URL. `warn` hears, once per line, why a system setting
    // is ignored (the line never holds its value).
    ProxyConnection connectionFor(const std::string& url,
                                  const std::function<void(const std::string&)>& warn = {});
    const std::string& proxyIniPath() const { return m_proxyIniPath; }

    // Controls, named as the dialog's design names them.
    QGroupBox* FrameProxy = nullptr;
    std::array<QLabel*, 5> Label1{};
    QComboBox* cmbProxyServer = nullptr;
    QLineEdit* txtProxy = nullptr;
    QLineEdit* txtProxyPort = nullptr;
    QLineEdit* txtUsername = nullptr;
    QLineEdit* txtPassword = nullptr;
    QCheckBox* chkRemoteDNS = nullptr;
    // Why OK is disabled (proxySettingsProblem), or empty.
    QLabel* Hint = nullptr;
    QPushButton* OK = nullptr;
    QPushButton* Cancel = nullptr;

  signals:
    // The dialog has unloaded itself: it is hidden and any modal loop has ended. The owner
    // destroys it now.
    void unloaded();

  public slots:
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Enables OK and shows the hint for what the fields hold now.
    void checkInput();
    // Puts `shown` into the controls.
    void showSettings(const ProxySettings& shown);
    // The system's settings for the server, and the line that goes with them.
    ProxySettings systemSettings();
    void unloadSelf(int result);
    QString text(int id) const;
    // `shown` with `key` as its Alt key, in the user's language's convention.
    QString withKey(const QString& shown, char key) const;
    // A label's or button's text as a screen reader names its control ("Port").
    static QString spoken(const QString& shown);

    std::string m_proxyIniPath;
    platform::LangId m_userLocale;
    std::string m_serverUrl;
    bool m_loaded = false;
    bool m_saved = true;               // proxy.ini was there when the dialog loaded
    ProxySettings m_systemSettings{};  // shown without a proxy.ini
    int m_systemNote = 0;              // the string id of the line beside them, or 0
    std::set<std::string> m_warned;
    bool m_centred = false;
    bool m_unloaded = false;
};

}  // namespace upd::app
