#include "wizard/frm_update4.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "app/design_fonts.h"
#include "app/twips.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "controls/small_bar.h"
#include "net/connection_pool.h"
#include "net/data_connection.h"
#include "platform/monotonic_clock.h"
#include "platform/update_path.h"
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
constexpr int kFilesAtOnce = 215;         // Label2 with "%1" rows in flight
constexpr int kOneFileOfWhole = 216;      // Label2 with one row in flight
constexpr int kFilesDone = 217;           // "%1 of %2" files, when a size is missing

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

struct frmUpdate4::Slot {
    explicit Slot(frmUpdate4& page)
        : download(
              page.wizard().environment().appFolder,
              [&page](const std::string& url) { return page.wizard().proxySettingsInForce(url); },
              page.downloadEvents(*this)) {}

    RowDownload download;
    QTimer stallTimer;   // RowDownload::checkStall when it fires
    QTimer digestTimer;  // RowDownload::checkDigestSlice each turn of the loop
    int row = 0;         // the row in flight, or failed; 0 for none
    bool failed = false;
};

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
    m_displayTimer.setSingleShot(true);
    m_displayTimer.setInterval(kDisplayIntervalMs);
    connect(&m_displayTimer, &QTimer::timeout, this, [this] { showProgress(); });
    connect(Back_Button, &QPushButton::clicked, this, [this] { Back_Button_Click(); });
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
    connect(Retry_Button, &QPushButton::clicked, this, [this] { Retry_Click(); });
    connect(Server_Button, &QPushButton::clicked, this, [this] { Server_Button_Click(); });
}

frmUpdate4::~frmUpdate4() {
    releaseDownloads();
}

RowDownloadEvents frmUpdate4::downloadEvents(Slot& slot) {
    RowDownloadEvents events;
    events.StallWatch = [&slot](int ms) { slot.stallTimer.start(ms); };
    events.Progress = [this, &slot](std::int64_t) { rowProgress(slot); };
    events.Arrived = [this, &slot] { rowArrived(slot); };
    events.Finished = [this, &slot] { rowFinished(slot); };
    events.Failed = [this, &slot](const RowFailure& failure) { rowFailed(slot, failure); };
    events.Slices = [&slot] { slot.digestTimer.start(); };
    // A patch or a compressed file is fetched for the row: the whole update counts its bytes.
    events.Fetching = [this, &slot](std::optional<std::int64_t> size) {
        m_whole.resizeRow(slot.row, size);
    };
    events.Fallback = [this, &slot](const std::string& why) {
        wizard().log().event(
            "fallback",
            {{"name", trelListViewCtl1->rowText(slot.row).toStdString()}, {"why", why}});
        if (WizardObserver* observer = wizard().observer()) {
            observer->fileFallback(trelListViewCtl1->rowText(slot.row).toStdString());
        }
    };
    return events;
}

frmUpdate4::Slot& frmUpdate4::freeSlot() {
    for (const std::unique_ptr<Slot>& slot : m_slots) {
        if (slot->row == 0) {
            return *slot;
        }
    }
    Slot& slot = *m_slots.emplace_back(std::make_unique<Slot>(*this));
    slot.download.setStallTimeoutMs(m_stallTimeoutMs);
    // Each packet only notes the time (RowDownload); the timer, when it fires, waits on for
    // what is left.
    slot.stallTimer.setSingleShot(true);
    connect(&slot.stallTimer, &QTimer::timeout, this, [&slot] {
        if (const std::int64_t left = slot.download.checkStall(platform::monotonicMs()); left > 0) {
            slot.stallTimer.start(static_cast<int>(left));
        }
    });
    slot.digestTimer.setInterval(0);
    connect(&slot.digestTimer, &QTimer::timeout, this, [&slot] {
        slot.download.checkDigestSlice();
        if (!slot.download.needsSlices()) {
            slot.digestTimer.stop();
        }
    });
    return slot;
}

frmUpdate4::Slot* frmUpdate4::slotOf(int row) const {
    for (const std::unique_ptr<Slot>& slot : m_slots) {
        if (row != 0 && slot->row == row) {
            return slot.get();
        }
    }
    return nullptr;
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

void frmUpdate4::Form_Activate() {
    // Page 3 asks for the pass (StartPending) right after showing this page: the first row
    // starts as soon as its handler has returned, not at the next tick of Timer1.
    QTimer::singleShot(0, this, [this] {
        if (!m_unloaded && wizard().state().StartPending) {
            StartDownloads();
        }
    });
}

void frmUpdate4::Form_Unload() {
    m_unloaded = true;
    m_timer1.stop();
    releaseDownloads();
    // The server's connections are of no more use: nothing holds them open meanwhile.
    net::connectionPool().clear();
}

void frmUpdate4::Timer1_Timer() {
    showAverage();
}

void frmUpdate4::StartDownloads() {
    auto* analysis = wizard().pageAs<frmUpdate3>(PageId::Analysis);
    if (analysis->Check1->isChecked() && wizard().observer() == nullptr) {
        QDesktopServices::openUrl(
            QUrl(QStringLiteral("http://") + QString::fromUtf8(product::kVendorHost)));
    }
    // A link planted at update/ is reported by each row, never used.
    freeSlot().download.makeUpdateFolder();
    // A new pass (after Back) starts with an empty record.
    wizard().pageAs<frmUpdate5>(PageId::Finish)->List1->clear();
    startPass();
    wizard().state().StartPending = false;
}

void frmUpdate4::setParallel(int transfers) {
    m_parallel = std::clamp(transfers, 1, kMaxParallel);
    if (!wholeMode()) {
        setLabel2(text(131));
    }
    fillSlots();
}

void frmUpdate4::setPlanRows(const std::vector<PlanRow>& rows) {
    m_planSizes.clear();
    m_planForms.clear();
    for (const PlanRow& row : rows) {
        m_planSizes.push_back(row.size);
        m_planForms.push_back(row.forms);
    }
}

std::optional<std::int64_t> frmUpdate4::planSize(int row) const {
    const auto index = static_cast<std::size_t>(row - 1);
    return row >= 1 && index < m_planSizes.size() ? m_planSizes[index] : std::nullopt;
}

void frmUpdate4::startPass() {
    releaseDownloads();
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
    m_fileIndex = 0;
    m_nextRow = 1;
    m_passRunning = true;
    showWhole();
    fillSlots();
}

void frmUpdate4::fillSlots() {
    const auto taken = [this] {
        return std::count_if(m_slots.begin(), m_slots.end(),
                             [](const std::unique_ptr<Slot>& slot) { return slot->row != 0; });
    };
    bool started = false;
    while (m_passRunning && !m_failed && m_nextRow <= trelListViewCtl1->rowCount() &&
           taken() < m_parallel) {
        const int row = m_nextRow++;
        DownloadFile(freeSlot(), row, resumeAllowed());
        started = true;
    }
    if (started && wholeMode()) {
        showProgress();  // Label2's count
    }
}

void frmUpdate4::DownloadFile(Slot& slot, int row, bool resume) {
    stopTransferTimers(slot);
    if (m_waitingShown) {
        setLabel(3, QString());  // the wait of an earlier attempt
        m_waitingShown = false;
    }
    slot.row = row;
    slot.failed = false;
    m_lastStarted = &slot;
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
    if (const auto index = static_cast<std::size_t>(row - 1); index < m_planForms.size()) {
        request.forms = m_planForms[index];
        // A patch applies to the installed file of the row's name.
        const std::string& appFolder = wizard().environment().appFolder;
        if (const platform::UpdatePath installed = platform::hostPathUnder(
                appFolder.substr(0, appFolder.size() - 1), request.listedName)) {
            request.installedPath = installed.path;
        }
    }
    (void)trelListViewCtl1->setStateIcon(row, kIconFetching);
    m_whole.startRow(row, platform::monotonicMs());
    slot.download.start(request);
}

bool frmUpdate4::resumeAllowed() const {
    return wizard().pageAs<frmUpdate1>(PageId::Server)->Check1->isChecked();
}

bool frmUpdate4::wholeMode() const {
    return m_parallel > 1 && trelListViewCtl1->rowCount() > 1;
}

int frmUpdate4::inFlight() const {
    return static_cast<int>(std::count_if(
        m_slots.begin(), m_slots.end(),
        [](const std::unique_ptr<Slot>& slot) { return slot->row != 0 && !slot->failed; }));
}

std::vector<int> frmUpdate4::failedRows() const {
    std::vector<int> rows;
    for (const std::unique_ptr<Slot>& slot : m_slots) {
        if (slot->row != 0 && slot->failed) {
            rows.push_back(slot->row);
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

net::DataConnection* frmUpdate4::RemoteFile() const {
    return m_lastStarted != nullptr ? m_lastStarted->download.RemoteFile() : nullptr;
}

void frmUpdate4::rowProgress(Slot& slot) {
    // The body of an error reply is no part of the file.
    if (const net::DataConnection* file = slot.download.RemoteFile();
        file != nullptr && !slot.download.failing()) {
        m_whole.rowProgress(slot.row, slot.download.receivedBytes(), file->RealReceivedBytes());
    }
    if (!m_displayTimer.isActive()) {
        m_displayTimer.start();
    }
}

void frmUpdate4::showProgress() {
    m_displayTimer.stop();
    if (!wholeMode()) {
        if (m_lastStarted != nullptr) {
            showFileProgress(m_lastStarted->download);
        }
        return;
    }
    if (!m_failed) {
        showWholeProgress();
    }
}

void frmUpdate4::showFileProgress(const RowDownload& download) {
    const net::DataConnection* file = download.RemoteFile();
    if (file == nullptr || download.failing()) {
        return;
    }
    if (m_waitingShown) {
        showAverage();  // data again: the wait is over
    }
    showWhole();
    const std::int64_t bytes = download.receivedBytes();
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
    const std::int64_t seconds = (platform::monotonicMs() - download.startMs()) / 1000;
    if (seconds > 0 && bytes > 0) {
        setLabel(1, text(135) + QString::number(bytes / 1024 / seconds) + QStringLiteral("KB/S"));
    }
    setLabel(2, QString());
    setLabel(3, QString());
}

// Several files at once: one file's figures would jump from file to file, so the labels and
// the bar follow the whole update.
void frmUpdate4::showWholeProgress() {
    if (m_waitingShown) {
        showAverage();
    }
    showWhole();
    if (const int transfers = inFlight(); transfers > 0) {
        setLabel2(transfers > 1 ? text(kFilesAtOnce).arg(transfers) : text(kOneFileOfWhole));
    }
    const PassTotals totals = m_whole.totals(platform::monotonicMs());
    setLabel(0, text(132) + kilobytes(totals.done) + QStringLiteral("KB"));
    setLabel(1, totals.total ? text(133) + kilobytes(*totals.total) + QStringLiteral("KB")
                             : text(kFilesDone).arg(totals.filesDone).arg(totals.files));
    const std::optional<int> percent = totals.percent();
    setLabel(2, percent ? text(134) + QString::number(*percent) + QStringLiteral("%") : QString());
    // Without every size, the share of the files that are done.
    SmallBar1->setPercentValue(
        percent.value_or(totals.files > 0 ? totals.filesDone * 100 / totals.files : 0));
}

void frmUpdate4::showAverage() {
    showWhole();  // its time left changes while no byte comes
    if (wholeMode()) {
        showWholeAverage();
        return;
    }
    const RowDownload* download = m_lastStarted != nullptr ? &m_lastStarted->download : nullptr;
    const net::DataConnection* file = download != nullptr ? download->RemoteFile() : nullptr;
    if (file == nullptr) {
        return;
    }
    // A silent server would make the average fall second by second, which reads like a slow
    // line; say what is happening instead.
    if (const int waited = download->waitingSeconds(platform::monotonicMs()); waited > 0) {
        setLabel(3, text(kWaitingForServer).arg(waited));
        m_waitingShown = true;
        return;
    }
    m_waitingShown = false;
    const std::int64_t bytes = file->RealReceivedBytes();
    const std::int64_t seconds = (platform::monotonicMs() - download->startMs()) / 1000;
    if (bytes <= 0 || seconds <= 0) {
        return;
    }
    const double speed = static_cast<double>(bytes) / 1024.0 / static_cast<double>(seconds);
    setLabel(3, text(135) + QString::number(speed, 'f', 2) + QStringLiteral("KB/S"));
}

void frmUpdate4::showWholeAverage() {
    // The wait is said only while no transfer in flight gets data: the shortest wait.
    const std::int64_t now = platform::monotonicMs();
    std::optional<int> waited;
    for (const std::unique_ptr<Slot>& slot : m_slots) {
        if (slot->row != 0 && !slot->failed) {
            const int seconds = slot->download.waitingSeconds(now);
            waited = std::min(waited.value_or(seconds), seconds);
        }
    }
    if (waited.value_or(0) > 0) {
        setLabel(3, text(kWaitingForServer).arg(*waited));
        m_waitingShown = true;
        return;
    }
    m_waitingShown = false;
    const PassTotals totals = m_whole.totals(now);
    if (totals.fetched <= 0 || totals.fetchingMs < 1000) {
        return;
    }
    const double speed = static_cast<double>(totals.fetched) / 1024.0 /
                         (static_cast<double>(totals.fetchingMs) / 1000.0);
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

void frmUpdate4::setLabel2(const QString& value) {
    if (Label2->text() != value) {
        Label2->setText(value);
        Label2->adjustSize();
    }
}

void frmUpdate4::rowArrived(Slot& slot) {
    slot.stallTimer.stop();
    showProgress();
    showAverage();
    if (slot.download.needsSlices()) {
        // The first slice at once: a small file is checked, and the next row asked for, without
        // waiting for a turn of the loop (on a far link each turn holds up a request).
        const QPointer<frmUpdate4> page(this);
        slot.download.checkDigestSlice();
        if (page && slot.download.needsSlices()) {
            slot.digestTimer.start();
        }
    }
}

void frmUpdate4::rowFailed(Slot& slot, const RowFailure& failure) {
    // A busy server may have said when to come back (a 503 or 429 with Retry-After).
    m_retryAfter = failure.connection != nullptr ? failure.connection->RetryAfterSeconds() : -1;
    m_whole.endRow(slot.row, platform::monotonicMs());
    stopTransferTimers(slot);
    slot.failed = true;
    (void)trelListViewCtl1->setStateIcon(slot.row, kIconFailed);
    const FailureDescription shown = describeRowFailure(failure);
    wizard().log().event("file", {{"name", trelListViewCtl1->rowText(slot.row).toStdString()},
                                  {"result", "failed"},
                                  {"why", failureSentence(shown).toStdString()}});
    if (m_failed) {
        // The frame keeps the failure it shows; this row waits for the same Retry.
        if (WizardObserver* observer = wizard().observer()) {
            observer->failed(failureMessage(shown, slot.row).toStdString());
        }
        return;
    }
    m_shownRow = slot.row;
    showFailure(shown);
}

void frmUpdate4::rowFinished(Slot& slot) {
    const int row = slot.row;
    m_whole.finishRow(row, platform::monotonicMs());
    slot.digestTimer.stop();
    slot.row = 0;
    ++m_fileIndex;
    const QString name = trelListViewCtl1->rowText(row);
    (void)trelListViewCtl1->setStateIcon(row, kIconDone);
    wizard().log().event(
        "file",
        {{"name", name.toStdString()},
         {"bytes", planSize(row).value_or(slot.download.receivedBytes())},
         {"form", formWord(slot.download.form())},
         {"digest",
          wizard().pageAs<frmUpdate3>(PageId::Analysis)->planDigest(row).empty() ? "none" : "ok"}});
    if (WizardObserver* observer = wizard().observer()) {
        observer->fileFinished(name.toStdString());
    }
    if (trelListViewCtl1->rowCount() == m_fileIndex) {
        m_passRunning = false;
        // In the list's order, however the rows came: page 5 installs and names them so.
        QListWidget* finished = wizard().pageAs<frmUpdate5>(PageId::Finish)->List1;
        for (int done = 1; done <= m_fileIndex; ++done) {
            finished->addItem(trelListViewCtl1->rowText(done));
        }
        if (wholeMode()) {
            showProgress();
        }
        // The objects stay until the page unloads: the timer keeps showing the average.
        Next_Button_Click();
        return;
    }
    fillSlots();
}

void frmUpdate4::Retry_Click() {
    if (!m_failed) {
        return;
    }
    if (m_spaceShort) {
        startPass();  // the user may have made room
        return;
    }
    std::vector<Slot*> failed;
    for (const int row : failedRows()) {
        failed.push_back(slotOf(row));
    }
    hideFailure();
    for (Slot* slot : failed) {
        wizard().log().event("retry",
                             {{"name", trelListViewCtl1->rowText(slot->row).toStdString()}});
        DownloadFile(*slot, slot->row, !slot->download.restartsWhole() && resumeAllowed());
    }
    fillSlots();
}

void frmUpdate4::Server_Button_Click() {
    if (!m_failed) {
        return;
    }
    // Nothing is being downloaded: unlike Back, there is nothing to confirm.
    releaseDownloads();
    hideFailure();
    wizard().state().StartPending = false;
    wizard().navigate(PageId::FileDownload, PageId::Server);
}

QString frmUpdate4::failureMessage(const FailureDescription& shown) const {
    return failureMessage(shown, m_shownRow);
}

QString frmUpdate4::failureMessage(const FailureDescription& shown, int row) const {
    if (m_spaceShort) {
        return failureSentence(shown);  // no row has started; the text says what to do
    }
    QString message = text(kFileFailed) + QLatin1Char(' ') + trelListViewCtl1->rowText(row) +
                      QLatin1Char('\n') + failureSentence(shown);
    if (shown.wayOut != WayOut::Retry) {
        message += QLatin1Char('\n') + text(kChooseAnotherServerText);
    }
    if (shown.wayOut != WayOut::AnotherServer) {
        const Slot* slot = slotOf(row);
        const bool resumes =
            !(slot != nullptr && slot->download.restartsWhole()) && resumeAllowed();
        message += QLatin1Char('\n') + text(resumes ? kRetryResumes : kRetryWhole);
    }
    return message;
}

void frmUpdate4::showFailure(const FailureDescription& shown) {
    // The rows in flight go on, each with its own stall watch.
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
    m_shownRow = 0;
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

void frmUpdate4::releaseDownloads() {
    const std::int64_t now = platform::monotonicMs();
    for (const std::unique_ptr<Slot>& slot : m_slots) {
        m_whole.endRow(slot->row, now);
        stopTransferTimers(*slot);
        slot->download.release();
        slot->row = 0;
        slot->failed = false;
    }
    m_displayTimer.stop();
    m_passRunning = false;
}

void frmUpdate4::stopTransferTimers(Slot& slot) {
    slot.digestTimer.stop();
    slot.stallTimer.stop();
}

PassTotals frmUpdate4::wholeTotals() const {
    return m_whole.totals(platform::monotonicMs());
}

void frmUpdate4::setStallTimeoutMs(int ms) {
    m_stallTimeoutMs = ms;
    for (const std::unique_ptr<Slot>& slot : m_slots) {
        slot->download.setStallTimeoutMs(ms);
        if (slot->stallTimer.isActive()) {
            slot->download.watchStall(platform::monotonicMs());
        }
    }
}

void frmUpdate4::Next_Button_Click() {
    wizard().navigate(PageId::FileDownload, PageId::Finish);
}

void frmUpdate4::Back_Button_Click() {
    if (!wizard().confirm(137)) {
        return;
    }
    releaseDownloads();
    hideFailure();
    wizard().state().StartPending = false;
    wizard().navigate(PageId::FileDownload, PageId::Server);
}

}  // namespace upd::wizard
