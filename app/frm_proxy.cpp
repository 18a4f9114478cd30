#include "app/frm_proxy.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShowEvent>

#include "app/design_fonts.h"
#include "app/environment_proxy.h"
#include "app/label_fit.h"
#include "app/mnemonic.h"
#include "app/string_table.h"
#include "app/twips.h"

namespace upd::app {
namespace {

// The line under the fields while they show the system's settings.
constexpr int kSystemSettingsNote = 218;
constexpr int kSystemProxyIgnoredNote = 219;

// A check box that the user can only clear or check. A greyed value (2) read from the
// file is shown as such until the user clicks the box.
class TwoStateClickCheckBox : public QCheckBox {
  public:
    using QCheckBox::QCheckBox;

  protected:
    void nextCheckState() override {
        setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
};

int checkValue(Qt::CheckState state) {
    switch (state) {
        case Qt::Unchecked:
            return kCheckCleared;
        case Qt::Checked:
            return kCheckChecked;
        case Qt::PartiallyChecked:
            return kCheckGreyed;
    }
    return kCheckCleared;
}

Qt::CheckState checkState(int value) {
    switch (value) {
        case kCheckChecked:
            return Qt::Checked;
        case kCheckGreyed:
            return Qt::PartiallyChecked;
        default:
            return Qt::Unchecked;
    }
}

QLabel* makeLabel(QWidget* parent, QRect geometry) {
    auto* label = new QLabel(parent);
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLineEdit* makeTextBox(QWidget* parent, const char* name, QRect geometry) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(geometry);
    return box;
}

}  // namespace

frmProxy::frmProxy(std::string proxyIniPath, platform::LangId userLocale, QWidget* parent)
    : QDialog(parent), m_proxyIniPath(std::move(proxyIniPath)), m_userLocale(userLocale) {
    setObjectName("frmProxy");
    // A fixed tool-window border: a title and a close box, nothing to resize or minimise.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(twipsSize(4470, 4470));
    setFont(controlFont());

    FrameProxy = new QGroupBox(this);
    FrameProxy->setObjectName("FrameProxy");
    FrameProxy->setGeometry(twipsRect(360, 360, 3735, 3105));

    Label1[0] = makeLabel(FrameProxy, twipsRect(120, 270, 405, 195));
    cmbProxyServer = new QComboBox(FrameProxy);
    cmbProxyServer->setObjectName("cmbProxyServer");
    cmbProxyServer->setEditable(false);
    cmbProxyServer->setGeometry(twipsRect(1200, 240, 2175, 300));
    Label1[1] = makeLabel(FrameProxy, twipsRect(120, 750, 630, 180));
    txtProxy = makeTextBox(FrameProxy, "txtProxy", twipsRect(1200, 720, 2175, 285));
    Label1[2] = makeLabel(FrameProxy, twipsRect(120, 1230, 330, 195));
    txtProxyPort = makeTextBox(FrameProxy, "txtProxyPort", twipsRect(1200, 1200, 735, 285));
    txtProxyPort->setMaxLength(5);
    txtProxyPort->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,5}")), txtProxyPort));
    Label1[3] = makeLabel(FrameProxy, twipsRect(120, 1710, 765, 195));
    txtUsername = makeTextBox(FrameProxy, "txtUsername", twipsRect(1200, 1680, 2175, 285));
    Label1[4] = makeLabel(FrameProxy, twipsRect(120, 2190, 735, 195));
    txtPassword = makeTextBox(FrameProxy, "txtPassword", twipsRect(1200, 2160, 2175, 285));
    txtPassword->setEchoMode(QLineEdit::Password);
    // One "*" for every character, whatever the style would draw.
    txtPassword->setStyleSheet("lineedit-password-character: 42");
    chkRemoteDNS = new TwoStateClickCheckBox(FrameProxy);
    chkRemoteDNS->setObjectName("chkRemoteDNS");
    chkRemoteDNS->setGeometry(twipsRect(120, 2640, 2295, 255));
    for (std::size_t i = 0; i < Label1.size(); ++i) {
        Label1[i]->setObjectName(QString("Label1_%1").arg(i));
    }

    Hint = makeLabel(this, twipsRect(360, 3495, 3735, 330));
    Hint->setObjectName("Hint");
    Hint->setWordWrap(true);

    OK = new QPushButton(this);
    OK->setObjectName("OK");
    OK->setGeometry(twipsRect(360, 3840, 1215, 315));
    OK->setDefault(true);  // Enter
    Cancel = new QPushButton(this);
    Cancel->setObjectName("Cancel");
    Cancel->setGeometry(twipsRect(2760, 3840, 1215, 315));

    connect(cmbProxyServer, &QComboBox::currentIndexChanged, this,
            [this] { cmbProxyServer_Click(); });
    connect(OK, &QPushButton::clicked, this, [this] { OK_Click(); });
    for (QLineEdit* box : {txtProxy, txtProxyPort}) {
        connect(box, &QLineEdit::textChanged, this, [this] { checkInput(); });
    }
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
}

QString frmProxy::text(int id) const {
    return QString::fromStdString(LoadResString(id, m_userLocale));
}

QString frmProxy::withKey(const QString& shown, char key) const {
    return QString::fromStdString(withMnemonic(shown.toStdString(), key, m_userLocale));
}

QString frmProxy::spoken(const QString& shown) {
    return QString::fromStdString(spokenText(shown.toStdString()));
}

void frmProxy::Form_Load() {
    setWindowTitle(text(144));
    FrameProxy->setTitle(text(145));
    for (int i = 1; i <= 4; ++i) {
        cmbProxyServer->addItem(text(146 + i));
    }
    // Each label names the field after it and takes the field's Alt key; OK and Cancel have
    // theirs (O, C).
    const std::array<QWidget*, 5> fields = {cmbProxyServer, txtProxy, txtProxyPort, txtUsername,
                                            txtPassword};
    const std::array<char, 5> keys = {'T', 'S', 'P', 'U', 'W'};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        Label1[i]->setText(withKey(text(i == 0 ? 146 : 150 + static_cast<int>(i)), keys[i]));
        Label1[i]->setBuddy(fields[i]);
        fields[i]->setAccessibleName(spoken(Label1[i]->text()));
    }
    chkRemoteDNS->setText(withKey(text(155), 'D'));
    OK->setText(text(156));
    Cancel->setText(text(107));
    for (QAbstractButton* button :
         std::initializer_list<QAbstractButton*>{chkRemoteDNS, OK, Cancel}) {
        button->setAccessibleName(spoken(button->text()));
    }

    const std::optional<ProxySettings> stored = readSavedProxySettings(m_proxyIniPath);
    m_saved = stored.has_value();
    m_loaded = true;
    showSettings(m_saved ? *stored : systemSettings());
    fitLabelsToText(*this);
}

void frmProxy::showSettings(const ProxySettings& shown) {
    if (cmbProxyServer->currentIndex() == shown.type) {
        cmbProxyServer_Click();  // setting the same index raises no change
    } else {
        cmbProxyServer->setCurrentIndex(shown.type);
    }
    txtProxy->setText(QString::fromStdString(shown.server));
    txtProxyPort->setText(QString::fromStdString(shown.port));
    txtUsername->setText(QString::fromStdString(shown.username));
    txtPassword->setText(QString::fromStdString(shown.password));
    chkRemoteDNS->setCheckState(checkState(shown.remoteDns));
    checkInput();
}

ProxySettings frmProxy::systemSettings() {
    const ProxyInForce inForce = proxyInForce(std::nullopt, m_serverUrl, processEnvironment);
    m_systemNote = inForce.source == ProxySource::System    ? kSystemSettingsNote
                   : inForce.source == ProxySource::Ignored ? kSystemProxyIgnoredNote
                                                            : 0;
    m_systemSettings = proxySettingsShowing(inForce.connection);
    return m_systemSettings;
}

void frmProxy::setServerUrl(std::string url) {
    m_serverUrl = std::move(url);
    if (m_loaded && !m_saved) {
        showSettings(systemSettings());
    }
}

ProxyConnection frmProxy::connectionFor(const std::string& url,
                                        const std::function<void(const std::string&)>& warn) {
    const ProxyInForce inForce = proxyInForce(
        m_saved ? std::optional<ProxySettings>(settings()) : std::nullopt, url, processEnvironment);
    if (!inForce.warning.empty() && warn && m_warned.insert(inForce.warning).second) {
        warn(inForce.warning);
    }
    return inForce.connection;
}

void frmProxy::cmbProxyServer_Click() {
    const ProxyFieldStates states = proxyFieldStates(cmbProxyServer->currentIndex());
    txtProxy->setEnabled(states.server);
    txtProxyPort->setEnabled(states.server);
    txtUsername->setEnabled(states.username);
    txtPassword->setEnabled(states.password);
    chkRemoteDNS->setEnabled(states.remoteDns);
    checkInput();
}

void frmProxy::checkInput() {
    const ProxySettings shown = settings();
    const int problem = proxySettingsProblem(shown);
    OK->setEnabled(problem == 0);
    // Until something is changed, the fields are the system's, and the line says so.
    const int line = problem == 0 && !m_saved && shown == m_systemSettings ? m_systemNote : problem;
    Hint->setText(line == 0 ? QString() : text(line));
}

ProxySettings frmProxy::settings() const {
    return {
        .type = cmbProxyServer->currentIndex() < 0 ? 0 : cmbProxyServer->currentIndex(),
        .server = txtProxy->text().toStdString(),
        .port = txtProxyPort->text().toStdString(),
        .username = txtUsername->text().toStdString(),
        .password = txtPassword->text().toStdString(),
        .remoteDns = checkValue(chkRemoteDNS->checkState()),
    };
}

void frmProxy::OK_Click() {
    // Failures (a read-only folder) go unreported: the dialog closes as usual.
    if (proxySettingsProblem(settings()) != 0) {
        return;  // Enter while OK is disabled
    }
    writeProxySettings(settingsToStore(settings()), m_proxyIniPath);
    unloadSelf(QDialog::Accepted);
}

void frmProxy::Cancel_Click() {
    unloadSelf(QDialog::Rejected);
}

void frmProxy::reject() {
    Cancel_Click();
}

void frmProxy::unloadSelf(int result) {
    if (m_unloaded) {
        return;
    }
    m_unloaded = true;
    QDialog::done(result);
    emit unloaded();
}

void frmProxy::showEvent(QShowEvent* event) {
    if (!m_centred) {
        m_centred = true;
        QScreen* screen =
            parentWidget() != nullptr ? parentWidget()->screen() : QGuiApplication::primaryScreen();
        if (screen != nullptr) {
            QRect area(QPoint(0, 0), size());
            area.moveCenter(screen->availableGeometry().center());
            move(area.topLeft());
        }
    }
    QDialog::showEvent(event);
    cmbProxyServer->setFocus(Qt::OtherFocusReason);
}

}  // namespace upd::app
