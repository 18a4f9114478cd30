#include "wizard/frm_update4.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "app/design_fonts.h"
#include "app/twips.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "controls/small_bar.h"
#include "net/ascii_case.h"
#include "net/data_connection.h"
#include "net/failure_code.h"
#include "net/mdl_data_connection.h"
#include "platform/create_folders.h"
#include "platform/monotonic_clock.h"
#include "platform/printable_text.h"
#include "platform/update_path.h"
#include "product_config.h"
#include "wizard/artwork.h"
#include "publishing/file_digest_pass.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update3.h"
#include "wizard/frm_update5.h"
#include "wizard/wizard.h"
#include "wizard/wizard_observer.h"

namespace upd::wizard {
namespace {

constexpr int kStateFetching = 1;
constexpr int kStateDone = 2;

constexpr int kFileFailed = 160;
constexpr int kRetryButton = 161;
constexpr int kRetryResumes = 162;
constexpr int kRetryWhole = 163;
constexpr int kNoLinks = 174;
constexpr int kNoDataFor30Seconds = 158;
constexpr int kDigestMismatch = 170;
// About a tenth of a second of hashing per turn of the event loop.
constexpr std::int64_t kDigestSliceBytes = 32 << 20;

bool isCompleteUrl(const std::string& source) {
    return net::startsWithNoCase(source, "http");
}

// Whole kilobytes, as the labels show them.
QString kilobytes(std::int64_t bytes) {
    return QString::number(bytes / 1024);
}

}  // namespace

frmUpdate4::frmUpdate4(Wizard& wizard) : Page(wizard, PageId::FileDownload) {
    setTitleSize(3645, 240);
    trelImageList1 = new controls::ImageList(this);
    trelImageList1->setObjectName("trelImageList1");
    trelImageList1->add(artwork::icon(QStringLiteral("file")));
    trelImageList1->add(artwork::icon(QStringLiteral("package")));
    StateImages = new controls::ImageList(this);
    StateImages->setObjectName("StateImages");
    QPixmap waiting(16, 16);
    waiting.fill(Qt::transparent);
    StateImages->add(QIcon(waiting));
    StateImages->add(artwork::icon(QStringLiteral("state_downloading")));
    StateImages->add(artwork::icon(QStringLiteral("state_done")));

    Frame1 = addFrame(3495);
    trelListViewCtl1 = new controls::ListControl(Frame1);
    trelListViewCtl1->setObjectName("trelListViewCtl1");
    trelListViewCtl1->setGeometry(app::twipsRect(240, 240, 4455, 2055));
    trelListViewCtl1->setFullRowSelect(true);
    trelListViewCtl1->setFont(app::simSun9Font());
    trelListViewCtl1->setStateImageList(StateImages);
    Label2 = addLabel(Frame1, "Label2", 240, 2400, 4455, 180);
    const int labelPlaces[4][2] = {{240, 2640}, {2400, 2640}, {240, 2880}, {2400, 2880}};
    for (std::size_t i = 0; i < Label4.size(); ++i) {
        const std::string name = "Label4_" + std::to_string(i);
        Label4[i] = addLabel(Frame1, name.c_str(), labelPlaces[i][0], labelPlaces[i][1], 2040, 180);
    }
    SmallBar1 = new controls::SmallBar(Frame1);
    SmallBar1->setObjectName("SmallBar1");
    SmallBar1->setGeometry(app::twipsRect(240, 3120, 4455, 255));
    // The failure takes the place of the progress labels, which mean nothing meanwhile.
    FailureText = addLabel(Frame1, "FailureText", 240, 2340, 4455, 1035);
    FailureText->setWordWrap(true);
    FailureText->setVisible(false);
    // Under the frame's right edge, in the place of the hint line.
    Retry_Button = new QPushButton(this);
    Retry_Button->setObjectName("Retry_Button");
    Retry_Button->setGeometry(app::twipsRect(5760, 4560, 1215, 315));
    Retry_Button->setVisible(false);
    Label3[0] = addLabel(this, "Label3_0", 2280, 4680, 4320, 180);

    Back_Button = addButton("Back_Button", 2640);
    Next_Button = addButton("Next_Button", 3960);
    Next_Button->setEnabled(false);
    Cancel = addButton("Cancel", 5400);
    setEscapeButton(Cancel);

    m_timer1.setInterval(1000);
    connect(&m_timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    // Restarting a timer for every packet would cost more than the packet: each packet notes
    // the time, and the timer, when it fires, waits on for what is left.
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(m_stallTimeoutMs);
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        const std::int64_t quiet = platform::monotonicMs() - m_lastActivityMs;
        if (quiet < m_stallTimeoutMs) {
            m_stallTimer.start(static_cast<int>(m_stallTimeoutMs - quiet));
            return;
        }
        releaseDownload();
        m_restartWhole = false;  // what arrived is the file's start: a retry resumes from it
        showFailure(text(kNoDataFor30Seconds));
    });
    m_digestTimer.setInterval(0);
    connect(&m_digestTimer, &QTimer::timeout, this, [this] { checkDigestSlice(); });
    m_displayTimer.setSingleShot(true);
    m_displayTimer.setInterval(kDisplayIntervalMs);
    connect(&m_displayTimer, &QTimer::timeout, this, [this] { showProgress(); });
    connect(Back_Button, &QPushButton::clicked, this, [this] { Back_Button_Click(); });
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
    connect(Retry_Button, &QPushButton::clicked, this, [this] { Retry_Click(); });
}

frmUpdate4::~frmUpdate4() {
    releaseDownload();
}

void frmUpdate4::Form_Load() {
    setWindowTitle(text(100));
    Next_Button->setText(text(106));
    Cancel->setText(text(107));
    Back_Button->setText(text(113));
    Retry_Button->setText(text(kRetryButton));
    Label1->setText(text(130));
    Frame1->setTitle(text(130));
    Label2->setText(text(131));
    for (std::size_t i = 0; i < Label4.size(); ++i) {
        Label4[i]->setText(text(132 + static_cast<int>(i)) + text(136));
    }
    Label3[0]->setText(text(138));
    m_timer1.start();
    callSetFromFont();
}

void frmUpdate4::Form_Unload() {
    m_timer1.stop();
    releaseDownload();
}

void frmUpdate4::Timer1_Timer() {
    showAverage();
    if (wizard().state().StartPending) {
        StartDownloads();
    }
}

void frmUpdate4::StartDownloads() {
    auto* analysis = wizard().pageAs<frmUpdate3>(PageId::Analysis);
    if (analysis->Check1->isChecked() && wizard().observer() == nullptr) {
        QDesktopServices::openUrl(
            QUrl(QStringLiteral("http://") + QString::fromUtf8(product::kVendorHost)));
    }
    // A link planted at update/ is reported by each row (see DownloadFile), never used.
    (void)platform::createFoldersUnder(wizard().environment().appFolder, "update", 0755,
                                       platform::LinkPolicy::NoFollow);
    // A new pass (after Back) starts from its own first row, with an empty record.
    m_fileIndex = 0;
    wizard().pageAs<frmUpdate5>(PageId::Finish)->List1->clear();
    DownloadFile(1, false);
    wizard().state().StartPending = false;
}

void frmUpdate4::DownloadFile(int row, bool resume) {
    releaseDownload();
    hideFailure();
    m_row = row;
    m_failureWhy = -1;
    m_lastBytes = 0;
    std::string description;
    m_socketsStarted = net::WinsockStartup(description);
    m_startMs = platform::monotonicMs();

    const std::string appFolder = wizard().environment().appFolder;
    const std::string source =
        wizard().pageAs<frmUpdate3>(PageId::Analysis)->PlanList().row(row).text;
    const bool isHttp = isCompleteUrl(source);
    const std::string name = isHttp ? trelListViewCtl1->rowText(row).toStdString() : source;
    // The name comes from the server: it must stay inside the update folder.
    const platform::UpdatePath target = platform::hostPathUnder(appFolder + "update", name);
    (void)trelListViewCtl1->setStateIcon(row, kStateFetching);
    m_target = target ? target.path : std::string();
    if (!target) {
        showFailure(QString::fromStdString(name) + QStringLiteral(": ") +
                    QString::fromUtf8(platform::describe(target.error)));
        return;
    }
    // The update folder is the wizard's own: a link anywhere along the row's path (the folder
    // itself, a sub-folder, the file) could aim the download at a file elsewhere.
    const std::string relative = target.path.substr(appFolder.size());
    if (platform::linkAlong(appFolder, relative) == ELOOP) {
        showFailure(QString::fromStdString(platform::printableText(name)) + QStringLiteral(": ") +
                    text(kNoLinks) + QLatin1Char(' ') + QString::fromStdString(target.path));
        return;
    }
    if (const std::size_t slash = relative.rfind('/'); slash != std::string::npos) {
        (void)platform::createFoldersUnder(appFolder, relative.substr(0, slash), 0755,
                                           platform::LinkPolicy::NoFollow);
    }

    const app::ProxyConnection proxy = wizard().proxySettingsInForce();
    net::DataConnectionEvents events;
    events.BytesReceived = [this](std::int64_t n, std::int32_t) { RemoteFile_BytesReceived(n); };
    events.Disconnected = [this](std::int32_t) { RemoteFile_Disconnected(); };
    events.DownloadFailed = [this](std::int32_t why, std::int32_t) {
        RemoteFile_DownloadFailed(why);
    };
    // A redirect reconnects without Connected and its reply carries no body.
    events.Connected = [this](std::int32_t) { startStallTimer(); };
    events.QuerySent = [this](std::int32_t) { startStallTimer(); };
    m_remoteFile = std::make_unique<net::DataConnection>(events);
    if (m_failed) {
        // The object could not register for notifications and has said so: no transfer.
        m_remoteFile.reset();
        return;
    }
    net::DataConnection& file = *m_remoteFile;
    file.setDownloadType(0);
    file.setFilename(target.path);
    file.setUseTempFile(false);
    app::applyProxy(proxy, file);
    file.setAutoRedirect(true);
    file.setAllowCache(false);
    file.setHttpUser("");
    file.setHttpPass("");
    file.setUseHttpAuthorization(true);
    std::int64_t from = 0;
    if (resume) {
        struct stat info {};
        if (::lstat(target.path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            from = info.st_size;
        }
    }
    file.setResumeFrom(from);
    file.setUseResume(true);
    file.setPacketSize(10000);
    startStallTimer();
    // Names use "\" between folders; in a URL every web server reads "/" as the separator.
    std::string path = source;
    std::replace(path.begin(), path.end(), '\\', '/');
    const std::string url =
        isHttp ? source : wizard().pageAs<frmUpdate1>(PageId::Server)->chosenAddress() + path;
    file.FetchURLString(url);
}

void frmUpdate4::RemoteFile_BytesReceived(std::int64_t lByteCount) {
    m_lastActivityMs = platform::monotonicMs();
    m_lastBytes = lByteCount;
    if (!m_displayTimer.isActive()) {
        m_displayTimer.start();
    }
}

void frmUpdate4::showProgress() {
    m_displayTimer.stop();
    if (!m_remoteFile || m_failureWhy >= 0) {
        return;
    }
    const std::int64_t bytes = m_lastBytes;
    const std::int64_t length = m_remoteFile->DownloadLength();
    if (length >= 1) {
        // Rounded to nearest, halves to even; a body longer than announced shows 100.
        const double percent = std::min(100.0, std::nearbyint(static_cast<double>(bytes) /
                                                              static_cast<double>(length) * 100.0));
        setLabel(0, text(132) + kilobytes(bytes) + QStringLiteral("KB"));
        setLabel(1, text(133) + kilobytes(length) + QStringLiteral("KB"));
        setLabel(2, text(134) + QString::number(static_cast<int>(percent)) + QStringLiteral("%"));
        SmallBar1->setPercentValue(static_cast<int>(percent));
        return;
    }
    setLabel(0, text(132) + kilobytes(bytes) + QStringLiteral("KB"));
    const std::int64_t seconds = (platform::monotonicMs() - m_startMs) / 1000;
    if (seconds > 0 && bytes > 0) {
        setLabel(1, text(135) + QString::number(bytes / 1024 / seconds) + QStringLiteral("KB/S"));
    }
    setLabel(2, QString());
    setLabel(3, QString());
}

void frmUpdate4::showAverage() {
    if (!m_remoteFile) {
        return;
    }
    const std::int64_t bytes = m_remoteFile->RealReceivedBytes();
    const std::int64_t seconds = (platform::monotonicMs() - m_startMs) / 1000;
    if (bytes <= 0 || seconds <= 0) {
        return;
    }
    const double speed = static_cast<double>(bytes) / 1024.0 / static_cast<double>(seconds);
    setLabel(3, text(135) + QString::number(speed, 'f', 2) + QStringLiteral("KB/S"));
}

void frmUpdate4::setLabel(std::size_t index, const QString& value) {
    if (Label4[index]->text() != value) {
        Label4[index]->setText(value);
        Label4[index]->adjustSize();
    }
}

void frmUpdate4::RemoteFile_DownloadFailed(std::int32_t Why) {
    if (m_failureWhy < 0) {
        m_failureWhy = Why;
    }
    // An error status is followed by its body and the close: the final event comes later.
    if (!m_remoteFile || !m_remoteFile->IsConnected()) {
        failRow();
    }
}

void frmUpdate4::failRow() {
    const std::int32_t reply = m_remoteFile ? m_remoteFile->HTTPReply() : 0;
    const bool resumed = m_remoteFile && m_remoteFile->UseResume();
    const QString why = downloadFailureText(m_failureWhy, m_remoteFile.get());
    releaseDownload();
    // A refused range starts over. So does an error reply to a whole request: its body (a
    // 404 page) went into the file, and a resumed retry would keep it as the file's start.
    // The body of an error reply to a range is not written: the bytes before it stay.
    const bool errorReply = reply != 0 && reply != 200 && reply != 206;
    m_restartWhole = reply == 416 || (errorReply && !resumed);
    if (m_restartWhole && !m_target.empty()) {
        ::unlink(m_target.c_str());
    }
    showFailure(why);
}

void frmUpdate4::RemoteFile_Disconnected() {
    m_stallTimer.stop();
    if (m_failureWhy >= 0) {
        // The body of an error reply is no file: the row has failed.
        failRow();
        return;
    }
    m_restartWhole = false;
    showProgress();
    showAverage();
    const std::string digest = wizard().pageAs<frmUpdate3>(PageId::Analysis)->planDigest(m_row);
    if (digest.empty()) {
        rowFinished();
        return;
    }
    // A file with a digest counts as arrived only once its bytes are the announced ones; the
    // check reads it a slice per turn of the event loop.
    m_digestPass = std::make_unique<FileDigestPass>(m_target);
    m_expectedDigest = digest;
    m_digestTimer.start();
}

void frmUpdate4::checkDigestSlice() {
    if (!m_digestPass || !m_digestPass->step(kDigestSliceBytes)) {
        return;
    }
    m_digestTimer.stop();
    const std::unique_ptr<FileDigestPass> pass = std::move(m_digestPass);
    if (!pass->failed() && pass->hex() == m_expectedDigest) {
        rowFinished();
        return;
    }
    // Never installed, started or opened: gone, and a retry fetches it whole.
    releaseDownload();
    ::unlink(m_target.c_str());
    m_restartWhole = true;
    showFailure(pass->failed() ? QString::fromStdString(pass->error()) : text(kDigestMismatch));
}

void frmUpdate4::rowFinished() {
    ++m_fileIndex;
    const QString name = trelListViewCtl1->rowText(m_fileIndex);
    wizard().pageAs<frmUpdate5>(PageId::Finish)->List1->addItem(name);
    (void)trelListViewCtl1->setStateIcon(m_fileIndex, kStateDone);
    if (WizardObserver* observer = wizard().observer()) {
        observer->fileFinished(name.toStdString());
    }
    if (trelListViewCtl1->rowCount() == m_fileIndex) {
        // The object stays until the page unloads: the timer keeps showing its average.
        Next_Button_Click();
        return;
    }
    DownloadFile(m_fileIndex + 1, false);
}

void frmUpdate4::Retry_Click() {
    if (!m_failed) {
        return;
    }
    const bool resume =
        !m_restartWhole && wizard().pageAs<frmUpdate1>(PageId::Server)->Check1->isChecked();
    DownloadFile(m_row, resume);
}

void frmUpdate4::showFailure(const QString& reason) {
    m_stallTimer.stop();
    m_displayTimer.stop();
    m_failed = true;
    const bool resumes =
        !m_restartWhole && wizard().pageAs<frmUpdate1>(PageId::Server)->Check1->isChecked();
    QString message = text(kFileFailed) + QLatin1Char(' ') + trelListViewCtl1->rowText(m_row);
    if (!reason.isEmpty()) {
        message += QLatin1Char('\n') + reason;
    }
    message += QLatin1Char('\n') + text(resumes ? kRetryResumes : kRetryWhole);
    FailureText->setText(message);
    showFailureControls(true);
    if (WizardObserver* observer = wizard().observer()) {
        observer->failed(message.toStdString());
    }
}

void frmUpdate4::hideFailure() {
    m_failed = false;
    showFailureControls(false);
}

void frmUpdate4::showFailureControls(bool failure) {
    FailureText->setVisible(failure);
    Retry_Button->setVisible(failure);
    Label2->setVisible(!failure);
    for (QLabel* label : Label4) {
        label->setVisible(!failure);
    }
    SmallBar1->setVisible(!failure);
    Label3[0]->setVisible(!failure);
}

QString frmUpdate4::failureText() const {
    return m_failed ? FailureText->text() : QString();
}

void frmUpdate4::releaseDownload() {
    m_digestTimer.stop();
    m_digestPass.reset();
    m_stallTimer.stop();
    m_displayTimer.stop();
    m_remoteFile.reset();
    if (m_socketsStarted) {
        net::WinsockCleanup();
        m_socketsStarted = false;
    }
}

void frmUpdate4::startStallTimer() {
    m_lastActivityMs = platform::monotonicMs();
    m_stallTimer.start(m_stallTimeoutMs);
}

void frmUpdate4::setStallTimeoutMs(int ms) {
    m_stallTimeoutMs = ms;
    if (m_stallTimer.isActive()) {
        startStallTimer();
    }
}

void frmUpdate4::Next_Button_Click() {
    wizard().navigate(PageId::FileDownload, PageId::Finish);
}

void frmUpdate4::Back_Button_Click() {
    if (!wizard().confirm(137)) {
        return;
    }
    releaseDownload();
    hideFailure();
    wizard().state().StartPending = false;
    wizard().navigate(PageId::FileDownload, PageId::Server);
}

}  // namespace upd::wizard
