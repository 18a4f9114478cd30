#include "wizard/frm_update2.h"

#include <unistd.h>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <cmath>

#include "app/twips.h"
#include "controls/list_control.h"
#include "controls/small_bar.h"
#include "net/data_connection.h"
#include "net/failure_code.h"
#include "net/mdl_data_connection.h"
#include "wizard/frm_update1.h"
#include "wizard/page_text_ids.h"
#include "wizard/profile_file.h"
#include "wizard/wizard.h"

namespace upd::wizard {
namespace {

constexpr int kInformationFailed = 157;
constexpr int kNoDataFor30Seconds = 158;
constexpr int kUnusableKey = 169;
constexpr int kNextServerText = 220;
// A signature line is under 100 bytes; a server sending more is not sending one.
constexpr std::int64_t kMaxSignatureBytes = 4096;

}  // namespace

frmUpdate2::frmUpdate2(Wizard& wizard) : Page(wizard, PageId::InfoDownload) {
    setTitleSize(3645, 240);
    Frame1 = addFrame(3495);
    Label2 = addLabel(Frame1, "Label2", 480, 600, 4140, 180);
    Label3[3] = addLabel(Frame1, "Label3_3", 480, 1080, 255, 255);
    Label3[1] = addLabel(Frame1, "Label3_1", 2400, 1080, 375, 255);
    Label3[2] = addLabel(Frame1, "Label3_2", 4200, 1080, 375, 255);
    SmallBar1 = new controls::SmallBar(Frame1);
    SmallBar1->setObjectName("SmallBar1");
    SmallBar1->setGeometry(app::twipsRect(480, 1560, 4095, 255));
    // Down to the frame's edge: the failure, its detail and what to do.
    FailureText = addLabel(Frame1, "FailureText", 480, 2040, 4140, 1395);
    FailureText->setWordWrap(true);
    // A proxy's answer in the detail is the peer's text: never markup.
    FailureText->setTextFormat(Qt::PlainText);
    FailureText->setVisible(false);
    Label3[0] = addLabel(this, "Label3_0", 2280, 4680, 3870, 180);
    // Under the frame's right edge, in the place of the hint line.
    Server_Button = new QPushButton(this);
    Server_Button->setObjectName("Server_Button");
    Server_Button->setGeometry(app::twipsRect(5280, 4560, 1695, 315));
    Server_Button->setVisible(false);

    Back_Button = addButton("Back_Button", 2640);
    Next_Button = addButton("Next_Button", 3960);
    Next_Button->setEnabled(false);
    Cancel = addButton("Cancel", 5400);
    setEscapeButton(Cancel);

    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(kStallTimeoutMs);
    connect(&m_stallTimer, &QTimer::timeout, this,
            [this] { showFailure(kNoDataFor30Seconds, QString()); });
    connect(Back_Button, &QPushButton::clicked, this, [this] { Back_Button_Click(); });
    connect(Server_Button, &QPushButton::clicked, this, [this] { Back_Button_Click(); });
    NextServer_Button = new QPushButton(this);
    NextServer_Button->setObjectName("NextServer_Button");
    NextServer_Button->setGeometry(app::twipsRect(3480, 4560, 1695, 315));
    NextServer_Button->setVisible(false);
    connect(NextServer_Button, &QPushButton::clicked, this, [this] { NextServer_Button_Click(); });
    connect(Next_Button, &QPushButton::clicked, this, [this] { Next_Button_Click(); });
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
}

frmUpdate2::~frmUpdate2() {
    releaseDownload();
}

void frmUpdate2::Form_Load() {
    m_target = wizard().environment().appFolder + "update.ini";
    setWindowTitle(text(100));
    Next_Button->setText(text(106));
    Cancel->setText(text(107));
    Back_Button->setText(text(113));
    Server_Button->setText(text(kChooseServerText));
    NextServer_Button->setText(text(kNextServerText));
    Label1->setText(text(115));
    Frame1->setTitle(text(115));
    Label2->setText(text(116));
    Label3[0]->setText(text(117));
    Label3[1]->setText(QStringLiteral("50%"));
    Label3[2]->setText(QStringLiteral("100%"));
    Label3[3]->setText(QStringLiteral("0%"));
    // A key that is there but cannot be read must never pass for no key at all.
    const PublicKeyFile key = readPublicKeyFile(wizard().environment().appFolder + "update.pub");
    wizard().state().InfoKey = key.keys;
    wizard().state().InfoSignature.reset();
    if (key.present && key.keys.empty()) {
        showFailure(kUnusableKey, QString::fromStdString(key.error));
        callSetFromFont();
        return;
    }
    startDownload();
    callSetFromFont();
}

void frmUpdate2::startDownload() {
    std::string description;
    m_socketsStarted = net::WinsockStartup(description);
    const auto* servers = wizard().pageAs<frmUpdate1>(PageId::Server);
    wizard().log().event("server", {{"name", servers->chosenName()},
                                    {"address", app::redactedUrl(servers->chosenAddress())}});

    const app::ProxyConnection proxy = wizard().proxySettingsInForce(
        wizard().pageAs<frmUpdate1>(PageId::Server)->chosenAddress() + wizard().state().InfoFile);
    net::DataConnectionEvents events;
    events.BytesReceived = [this](std::int64_t n, std::int32_t) { RemoteFile_BytesReceived(n); };
    events.Disconnected = [this](std::int32_t) { RemoteFile_Disconnected(); };
    events.DownloadFailed = [this](std::int32_t why, std::int32_t) {
        RemoteFile_DownloadFailed(why);
    };
    // A redirect reconnects without Connected and its reply carries no body: each request
    // sent counts as activity too.
    events.Connected = [this](std::int32_t) { m_stallTimer.start(); };
    events.QuerySent = [this](std::int32_t) { m_stallTimer.start(); };
    m_remoteFile = std::make_unique<net::DataConnection>(events);
    if (m_failed) {
        // The object could not register for notifications and has said so: no transfer.
        m_remoteFile.reset();
        return;
    }
    net::DataConnection& file = *m_remoteFile;
    file.setDownloadType(0);
    file.setFilename(m_target);
    file.setUseTempFile(false);
    app::applyProxy(proxy, file);
    file.setAutoRedirect(true);
    file.setAllowCache(false);
    // The update information and the files after it share connections to the server.
    file.setKeepAlive(true);
    file.Disconnect();
    file.setHttpUser("");
    file.setHttpPass("");
    file.setUseHttpAuthorization(true);
    file.setResumeFrom(0);
    file.setUseResume(false);
    file.setPacketSize(10000);
    m_stallTimer.start();
    const std::string url =
        wizard().pageAs<frmUpdate1>(PageId::Server)->chosenAddress() + wizard().state().InfoFile;
    file.FetchURLString(url);
    // The fetch may already have ended (a bad URL, a refused connection): its handler has
    // released the object then. One byte more than the reader takes tells a file that is too
    // large from one that just fits, and nothing larger ever reaches the disk.
    if (m_remoteFile) {
        m_remoteFile->setMaxDownload(static_cast<std::int64_t>(kMaxProfileFileBytes) + 1);
    }
}

void frmUpdate2::RemoteFile_BytesReceived(std::int64_t lByteCount) {
    m_stallTimer.start();
    // The body of an error reply is not the information: the bar does not move for it.
    const std::int64_t length =
        m_remoteFile && m_failureWhy < 0 ? m_remoteFile->DownloadLength() : -1;
    if (length >= 1) {
        // Rounded to nearest, halves to even (the default rounding mode).
        const double percent =
            std::nearbyint(static_cast<double>(lByteCount) / static_cast<double>(length) * 100.0);
        SmallBar1->setPercentValue(static_cast<int>(std::min(percent, 100.0)));
    }
}

void frmUpdate2::RemoteFile_DownloadFailed(std::int32_t Why) {
    if (m_failureWhy < 0) {
        m_failureWhy = Why;
    }
    // An error status is followed by its body and then the close: the final event comes
    // later. Otherwise the transfer has ended here.
    if (!m_remoteFile || !m_remoteFile->IsConnected()) {
        showFailure(kChooseAnotherServerText,
                    downloadFailureText(m_failureWhy, m_remoteFile.get()));
    }
}

void frmUpdate2::RemoteFile_Disconnected() {
    m_stallTimer.stop();
    if (m_failureWhy >= 0) {
        // The body of an error reply (a 404 page, a proxy's refusal) is no information.
        showFailure(kChooseAnotherServerText,
                    downloadFailureText(m_failureWhy, m_remoteFile.get()));
        return;
    }
    if (m_remoteFile &&
        m_remoteFile->ReceivedBytes() > static_cast<std::int64_t>(kMaxProfileFileBytes)) {
        showFailure(kTooLargeText, QString());
        return;
    }
    releaseDownload();
    if (!wizard().state().InfoKey.empty()) {
        startSignatureDownload();
        return;
    }
    wizard().log().event("info", {{"result", "ok"}});
    Next_Button_Click();
    Next_Button->setEnabled(true);
}

// The signature comes from beside the information, the same way; whatever becomes of it,
// page 3 judges: a missing one is refused there, in the user's language.
void frmUpdate2::startSignatureDownload() {
    std::string description;
    m_socketsStarted = net::WinsockStartup(description);
    net::DataConnectionEvents events;
    events.Disconnected = [this](std::int32_t) {
        if (m_remoteFile && m_remoteFile->HTTPReply() == 200) {
            wizard().state().InfoSignature = m_remoteFile->GetBufferAsString();
        }
        signatureDone();
    };
    events.DownloadFailed = [this](std::int32_t, std::int32_t) {
        if (!m_remoteFile || !m_remoteFile->IsConnected()) {
            signatureDone();
        }
    };
    events.BytesReceived = [this](std::int64_t, std::int32_t) { m_stallTimer.start(); };
    events.QuerySent = [this](std::int32_t) { m_stallTimer.start(); };
    m_signatureStage = true;
    m_remoteFile = std::make_unique<net::DataConnection>(events);
    const app::ProxyConnection proxy =
        wizard().proxySettingsInForce(wizard().pageAs<frmUpdate1>(PageId::Server)->chosenAddress() +
                                      wizard().state().InfoFile + ".sig");
    net::DataConnection& file = *m_remoteFile;
    file.setDownloadType(1);
    app::applyProxy(proxy, file);
    file.setAutoRedirect(true);
    file.setAllowCache(false);
    // The update information and the files after it share connections to the server.
    file.setKeepAlive(true);
    file.setMaxDownload(kMaxSignatureBytes);
    m_stallTimer.start();
    file.FetchURLString(wizard().pageAs<frmUpdate1>(PageId::Server)->chosenAddress() +
                        wizard().state().InfoFile + ".sig");
}

void frmUpdate2::signatureDone() {
    if (!m_signatureStage) {
        return;
    }
    m_signatureStage = false;
    releaseDownload();
    wizard().log().event("info", {{"result", "ok"}, {"signature", "fetched"}});
    Next_Button_Click();
    Next_Button->setEnabled(true);
}

void frmUpdate2::showFailure(int reasonId, const QString& detail) {
    // Before the object goes: a busy server may have said when to come back.
    m_retryAfter = m_remoteFile ? m_remoteFile->RetryAfterSeconds() : -1;
    m_stallTimer.stop();
    releaseDownload();
    m_failed = true;
    // A cut or refused file is no information; page 3 must never find it.
    if (!m_target.empty()) {
        ::unlink(m_target.c_str());
    }
    QString message = reasonId == kUnusableKey ? text(kUnusableKey) : text(kInformationFailed);
    if (reasonId == kNoDataFor30Seconds || reasonId == kTooLargeText) {
        message += QLatin1Char('\n') + text(reasonId);
    }
    if (!detail.isEmpty()) {
        message += QLatin1Char('\n') + detail;
    }
    if (reasonId != kUnusableKey) {
        message += QLatin1Char('\n') + text(kChooseAnotherServerText);
    }
    FailureText->setText(message);
    FailureText->setVisible(true);
    wizard().log().event("info", {{"result", "failed"}, {"why", message.toStdString()}});
    Label3[0]->setVisible(false);  // "Downloading ... now" no longer holds
    // Every failure of the download says to choose another server; an unusable key does not.
    Server_Button->setVisible(reasonId != kUnusableKey);
    // Another server of the list may have what this one did not.
    NextServer_Button->setVisible(
        reasonId != kUnusableKey &&
        wizard().pageAs<frmUpdate1>(PageId::Server)->trelListViewCtl1->rowCount() > 1);
    Next_Button->setEnabled(false);
    if (WizardObserver* observer = wizard().observer()) {
        observer->failed(message.toStdString());
    }
}

void frmUpdate2::releaseDownload() {
    m_stallTimer.stop();
    m_remoteFile.reset();
    if (m_socketsStarted) {
        net::WinsockCleanup();
        m_socketsStarted = false;
    }
}

void frmUpdate2::setStallTimeoutMs(int ms) {
    m_stallTimer.setInterval(ms);
    if (m_stallTimer.isActive()) {
        m_stallTimer.start();
    }
}

void frmUpdate2::Next_Button_Click() {
    wizard().navigate(PageId::InfoDownload, PageId::Analysis);
}

void frmUpdate2::Back_Button_Click() {
    wizard().navigate(PageId::InfoDownload, PageId::Server);
}

void frmUpdate2::NextServer_Button_Click() {
    auto* servers = wizard().pageAs<frmUpdate1>(PageId::Server);
    Back_Button_Click();
    servers->chooseNextServer();
    servers->Next_Button_Click();
}

void frmUpdate2::Form_Unload() {
    releaseDownload();
}

}  // namespace upd::wizard
