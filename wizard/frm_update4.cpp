#include "wizard/frm_update4.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "app/design_fonts.h"
#include "app/twips.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "controls/small_bar.h"
#include "net/data_connection.h"
#include "platform/monotonic_clock.h"
#include "product_config.h"
#include "wizard/artwork.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update3.h"
#include "wizard/frm_update5.h"
#include "wizard/page_text_ids.h"
#include "wizard/wizard.h"
#include "wizard/wizard_observer.h"

namespace upd::wizard {
namespace {

constexpr int kIconFetching = 1;
constexpr int kIconDone = 2;
constexpr int kIconFailed = 3;

constexpr int kFileFailed = 160;
constexpr int kRetryButton = 161;
constexpr int kRetryResumes = 162;
constexpr int kRetryWhole = 163;
constexpr int kWaitingForServer = 194;
constexpr int kWholeProgress = 213;       // "%1 of %2 MB, about %3 min %4 s left"
constexpr int kWholeProgressSoFar = 214;  // "%1 of %2 MB", before a rate is known

// While a failure is shown the list gives up its lower part to the text, which may run to
// eight lines (the row, what happened with its detail, what to do). Otherwise the labels,
// the whole update's line and the bar take the lower part.
constexpr int kListTop = 240;
constexpr int kListHeight = 1815;
constexpr int kFailedListHeight = 1335;
constexpr int kFailureTextTop = kListTop + kFailedListHeight + 60;
constexpr int kFailureTextBottom = 3435;
// Under the frame's right edge, in the place of the hint line.
constexpr int kButtonTop = 4560;
constexpr int kRetryLeft = 5760;
constexpr int kServerButtonWidth = 1695;

// Whole kilobytes, as the labels show them.
QString kilobytes(std::int64_t bytes) {
    return QString::number(bytes / 1024);
}

}  // namespace

frmUpdate4::frmUpdate4(Wizard& wizard)
    : Page(wizard, PageId::FileDownload),
      m_download(
          wizard.environment().appFolder, [this] { return this->wizard().proxySettingsInForce(); },
          downloadEvents()) {
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
    StateImages->add(artwork::icon(QStringLiteral("state_failed")));

    Frame1 = addFrame(3495);
    trelListViewCtl1 = new controls::ListControl(Frame1);
    trelListViewCtl1->setObjectName("trelListViewCtl1");
    trelListViewCtl1->setGeometry(app::twipsRect(240, kListTop, 4455, kListHeight));
    trelListViewCtl1->setFullRowSelect(true);
    trelListViewCtl1->setFont(app::simSun9Font());
    trelListViewCtl1->setStateImageList(StateImages);
    Label2 = addLabel(Frame1, "Label2", 240, 2160, 4455, 180);
    const int labelPlaces[4][2] = {{240, 2400}, {2400, 2400}, {240, 2640}, {2400, 2640}};
    for (std::size_t i = 0; i < Label4.size(); ++i) {
        const std::string name = "Label4_" + std::to_string(i);
        Label4[i] = addLabel(Frame1, name.c_str(), labelPlaces[i][0], labelPlaces[i][1], 2040, 180);
    }
    WholeText = addLabel(Frame1, "WholeText", 240, 2880, 4455, 180);
    SmallBar1 = new controls::SmallBar(Frame1);
    SmallBar1->setObjectName("SmallBar1");
    SmallBar1->setGeometry(app::twipsRect(240, 3120, 4455, 255));
    // The failure takes the place of the progress labels, which mean nothing meanwhile.
    FailureText = addLabel(Frame1, "FailureText", 240, kFailureTextTop, 4455,
                           kFailureTextBottom - kFailureTextTop);
    FailureText->setWordWrap(true);
    // A proxy's answer in the detail is the peer's text: never markup.
    FailureText->setTextFormat(Qt::PlainText);
    FailureText->setVisible(false);
    Retry_Button = new QPushButton(this);
    Retry_Button->setObjectName("Retry_Button");
    Retry_Button->setGeometry(app::twipsRect(kRetryLeft, kButtonTop, 1215, 315));
    Retry_Button->setVisible(false);
    Server_Button = new QPushButton(this);
    Server_Button->setObjectName("Server_Button");
    Server_Button->setVisible(false);
    Label3[0] = addLabel(this, "Label3_0", 2280, 4680, 4320, 180);

    Back_Button = addButton("Back_Button", 2640);
    Next_Button = addButton("Next_Button", 3960);
    Next_Button->setEnabled(false);
    Cancel = addButton("Cancel", 5400);
    setEscapeButton(Cancel);

    m_timer1.setInterval(1000);
    connect(&m_timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    // Each packet only notes the time (RowDownload); the timer, when it fires, waits on for
    // what is left.
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(kStallTimeoutMs);
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        if (const std::int64_t left = m_download.checkStall(platform::monotonicMs()); left > 0) {
            m_stallTimer.start(static_cast<int>(left));
        }
    });
    m_digestTimer.setInterval(0);
    connect(&m_digestTimer, &QTimer::timeout, this, [this] { m_download.checkDigestSlice(); });
    m_displayTimer.setSingleShot(true);
    m_displayTimer.setInterval(kDisplayIntervalMs);
    connect(&m_displayTimer, &QTimer::timeout, this, [this] { showProgress(); });
    connect(Back_Button, &QPushButton::clicked, this, [this] { Back_Button_Click(); });
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
    connect(Retry_Button, &QPushButton::clicked, this, [this] { Retry_Click(); });
    connect(Server_Button, &QPushButton::clicked, this, [this] { Server_Button_Click(); });
}

frmUpdate4::~frmUpdate4() {
    releaseDownload();
}

RowDownloadEvents frmUpdate4::downloadEvents() {
    RowDownloadEvents events;
    events.StallWatch = [this](int ms) { m_stallTimer.start(ms); };
    events.Progress = [this](std::int64_t) { rowProgress(); };
    events.Arrived = [this] { rowArrived(); };
    events.Finished = [this] { rowFinished(); };
    events.Failed = [this](const RowFailure& failure) { rowFailed(failure); };
    return events;
}

void frmUpdate4::Form_Load() {
    setWindowTitle(text(100));
    Next_Button->setText(text(106));
    Cancel->setText(text(107));
    Back_Button->setText(text(113));
    Retry_Button->setText(text(kRetryButton));
    Server_Button->setText(text(kChooseServerText));
    Label1->setText(text(130));
    Frame1->setTitle(text(130));
    Label2->setText(text(131));
    for (std::size_t i = 0; i < Label4.size(); ++i) {
        Label4[i]->setText(text(132 + static_cast<int>(i)) + text(136));
    }
    Label3[0]->setText(text(138));
    WholeText->setText(QString());
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
    // A link planted at update/ is reported by each row, never used.
    m_download.makeUpdateFolder();
    // A new pass (after Back) starts from its own first row, with an empty record.
    m_fileIndex = 0;
    wizard().pageAs<frmUpdate5>(PageId::Finish)->List1->clear();
    startPass();
    wizard().state().StartPending = false;
}

void frmUpdate4::setPlanSizes(const std::vector<PlanRow>& rows) {
    m_planSizes.clear();
    for (const PlanRow& row : rows) {
        m_planSizes.push_back(row.size);
    }
}

std::optional<std::int64_t> frmUpdate4::planSize(int row) const {
    const auto index = static_cast<std::size_t>(row - 1);
    return row >= 1 && index < m_planSizes.size() ? m_planSizes[index] : std::nullopt;
}

void frmUpdate4::startPass() {
    releaseDownload();
    hideFailure();
    auto* analysis = wizard().pageAs<frmUpdate3>(PageId::Analysis);
    std::vector<BudgetRow> rows;
    std::vector<std::optional<std::int64_t>> sizes;
    for (int row = 1; row <= trelListViewCtl1->rowCount(); ++row) {
        rows.push_back({analysis->PlanList().row(row).text,
                        trelListViewCtl1->rowText(row).toStdString(), planSize(row)});
        sizes.push_back(planSize(row));
    }
    const SpaceCheck space = checkSpace(wizard().environment().appFolder, rows);
    if (!space.enough()) {
        m_spaceShort = true;
        showFailure(describeSpaceShortage(space.needed, space.free.value_or(0)));
        return;
    }
    m_whole.startPass(std::move(sizes));
    showWhole();
    DownloadFile(1, resumeAllowed());
}

void frmUpdate4::DownloadFile(int row, bool resume) {
    releaseDownload();
    hideFailure();
    if (m_waitingShown) {
        setLabel(3, QString());  // the wait of an earlier attempt
        m_waitingShown = false;
    }
    m_row = row;
    auto* analysis = wizard().pageAs<frmUpdate3>(PageId::Analysis);
    RowRequest request;
    request.source = analysis->PlanList().row(row).text;
    request.listedName = trelListViewCtl1->rowText(row).toStdString();
    request.serverAddress = [this] {
        return wizard().pageAs<frmUpdate1>(PageId::Server)->chosenAddress();
    };
    request.digest = analysis->planDigest(row);
    request.size = planSize(row);
    request.resume = resume;
    (void)trelListViewCtl1->setStateIcon(row, kIconFetching);
    m_whole.startRow(row, platform::monotonicMs());
    m_download.start(request);
}

bool frmUpdate4::resumeAllowed() const {
    return wizard().pageAs<frmUpdate1>(PageId::Server)->Check1->isChecked();
}

void frmUpdate4::rowProgress() {
    if (const net::DataConnection* file = m_download.RemoteFile()) {
        m_whole.rowProgress(m_download.receivedBytes(), file->RealReceivedBytes());
    }
    if (!m_displayTimer.isActive()) {
        m_displayTimer.start();
    }
}

void frmUpdate4::showProgress() {
    m_displayTimer.stop();
    const net::DataConnection* file = m_download.RemoteFile();
    if (file == nullptr || m_download.failing()) {
        return;
    }
    if (m_waitingShown) {
        showAverage();  // data again: the wait is over
    }
    showWhole();
    const std::int64_t bytes = m_download.receivedBytes();
    const std::int64_t length = file->DownloadLength();
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
    const std::int64_t seconds = (platform::monotonicMs() - m_download.startMs()) / 1000;
    if (seconds > 0 && bytes > 0) {
        setLabel(1, text(135) + QString::number(bytes / 1024 / seconds) + QStringLiteral("KB/S"));
    }
    setLabel(2, QString());
    setLabel(3, QString());
}

void frmUpdate4::showAverage() {
    showWhole();  // its time left changes while no byte comes
    const net::DataConnection* file = m_download.RemoteFile();
    if (file == nullptr) {
        return;
    }
    // A silent server would make the average fall second by second, which reads like a slow
    // line; say what is happening instead.
    if (const int waited = m_download.waitingSeconds(platform::monotonicMs()); waited > 0) {
        setLabel(3, text(kWaitingForServer).arg(waited));
        m_waitingShown = true;
        return;
    }
    m_waitingShown = false;
    const std::int64_t bytes = file->RealReceivedBytes();
    const std::int64_t seconds = (platform::monotonicMs() - m_download.startMs()) / 1000;
    if (bytes <= 0 || seconds <= 0) {
        return;
    }
    const double speed = static_cast<double>(bytes) / 1024.0 / static_cast<double>(seconds);
    setLabel(3, text(135) + QString::number(speed, 'f', 2) + QStringLiteral("KB/S"));
}

void frmUpdate4::showWhole() {
    QString line;
    if (const auto figures = m_whole.figures(platform::monotonicMs())) {
        line = text(figures->secondsLeft ? kWholeProgress : kWholeProgressSoFar);
        for (const std::string& value : figures->values()) {
            line = line.arg(QString::fromStdString(value));
        }
    }
    if (WholeText->text() != line) {
        WholeText->setText(line);
    }
}

void frmUpdate4::setLabel(std::size_t index, const QString& value) {
    if (Label4[index]->text() != value) {
        Label4[index]->setText(value);
        Label4[index]->adjustSize();
    }
}

void frmUpdate4::rowArrived() {
    m_stallTimer.stop();
    showProgress();
    showAverage();
    if (m_download.state() == RowState::Checking) {
        m_digestTimer.start();
    }
}

void frmUpdate4::rowFailed(const RowFailure& failure) {
    m_whole.endRow(platform::monotonicMs());
    stopTransferTimers();
    (void)trelListViewCtl1->setStateIcon(m_row, kIconFailed);
    showFailure(describeRowFailure(failure));
}

void frmUpdate4::rowFinished() {
    m_whole.endRow(platform::monotonicMs());
    m_digestTimer.stop();
    ++m_fileIndex;
    const QString name = trelListViewCtl1->rowText(m_fileIndex);
    wizard().pageAs<frmUpdate5>(PageId::Finish)->List1->addItem(name);
    (void)trelListViewCtl1->setStateIcon(m_fileIndex, kIconDone);
    if (WizardObserver* observer = wizard().observer()) {
        observer->fileFinished(name.toStdString());
    }
    if (trelListViewCtl1->rowCount() == m_fileIndex) {
        // The object stays until the page unloads: the timer keeps showing its average.
        Next_Button_Click();
        return;
    }
    DownloadFile(m_fileIndex + 1, resumeAllowed());
}

void frmUpdate4::Retry_Click() {
    if (!m_failed) {
        return;
    }
    if (m_spaceShort) {
        startPass();  // the user may have made room
        return;
    }
    DownloadFile(m_row, !m_download.restartsWhole() && resumeAllowed());
}

void frmUpdate4::Server_Button_Click() {
    if (!m_failed) {
        return;
    }
    // Nothing is being downloaded: unlike Back, there is nothing to confirm.
    releaseDownload();
    hideFailure();
    wizard().state().StartPending = false;
    wizard().navigate(PageId::FileDownload, PageId::Server);
}

QString frmUpdate4::failureMessage(const FailureDescription& shown) const {
    if (m_spaceShort) {
        return failureSentence(shown);  // no row has started; the text says what to do
    }
    QString message = text(kFileFailed) + QLatin1Char(' ') + trelListViewCtl1->rowText(m_row) +
                      QLatin1Char('\n') + failureSentence(shown);
    if (shown.wayOut != WayOut::Retry) {
        message += QLatin1Char('\n') + text(kChooseAnotherServerText);
    }
    if (shown.wayOut != WayOut::AnotherServer) {
        const bool resumes = !m_download.restartsWhole() && resumeAllowed();
        message += QLatin1Char('\n') + text(resumes ? kRetryResumes : kRetryWhole);
    }
    return message;
}

void frmUpdate4::showFailure(const FailureDescription& shown) {
    m_stallTimer.stop();
    m_displayTimer.stop();
    m_failed = true;
    m_wayOut = shown.wayOut;
    const QString message = failureMessage(shown);
    FailureText->setText(message);
    showFailureControls(true);
    if (WizardObserver* observer = wizard().observer()) {
        observer->failed(message.toStdString());
    }
}

void frmUpdate4::hideFailure() {
    m_failed = false;
    m_spaceShort = false;
    showFailureControls(false);
}

void frmUpdate4::showFailureControls(bool failure) {
    trelListViewCtl1->setGeometry(
        app::twipsRect(240, kListTop, 4455, failure ? kFailedListHeight : kListHeight));
    FailureText->setVisible(failure);
    const bool retry = failure && m_wayOut != WayOut::AnotherServer;
    const bool server = failure && m_wayOut != WayOut::Retry;
    Retry_Button->setVisible(retry);
    // In Retry's place when it is alone, else on its left.
    const int serverRight = retry ? kRetryLeft - 105 : kRetryLeft + 1215;
    Server_Button->setGeometry(
        app::twipsRect(serverRight - kServerButtonWidth, kButtonTop, kServerButtonWidth, 315));
    Server_Button->setVisible(server);
    Label2->setVisible(!failure);
    for (QLabel* label : Label4) {
        label->setVisible(!failure);
    }
    WholeText->setVisible(!failure);
    SmallBar1->setVisible(!failure);
    Label3[0]->setVisible(!failure);
}

QString frmUpdate4::failureText() const {
    return m_failed ? FailureText->text() : QString();
}

void frmUpdate4::releaseDownload() {
    m_whole.endRow(platform::monotonicMs());
    stopTransferTimers();
    m_download.release();
}

void frmUpdate4::stopTransferTimers() {
    m_digestTimer.stop();
    m_stallTimer.stop();
    m_displayTimer.stop();
}

void frmUpdate4::setStallTimeoutMs(int ms) {
    m_download.setStallTimeoutMs(ms);
    if (m_stallTimer.isActive()) {
        m_download.watchStall(platform::monotonicMs());
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
