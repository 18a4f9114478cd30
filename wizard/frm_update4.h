// Wizard page 4, `frmUpdate4`: downloads the planned files one after the other into the
// update folder. Its file list holds the plan's targets (filled by page 3), paired row by
// row with page 3's PlanList. A row being fetched gets state icon 1, a finished one 2 and
// its name in page 5's List1, a failed one 3; after the last row page 5 follows by itself.
// While no data arrives, after RowDownload::kWaitingNoticeMs, the average's label counts
// the seconds of waiting for the server instead.
//
// A row that fails (an error status, a refused connection, 30 seconds without data) is not
// a dead end: the failure is shown in the frame, in the user's language, with a Retry
// button, or with a button back to page 1 to choose another server (or the proxy) when
// retrying cannot help (the file is missing on this server), or with both (the server
// could not be reached). When page 1's "Resume broken downloads" is checked, every start
// of a row (a retry, the next pass after Back, a new run after Cancel, a close or a crash)
// resumes the row's partial file from an earlier attempt; unchecked, the file is fetched
// whole. A failed row is never recorded as finished, so nothing it wrote is ever installed.
//
// Before its first row the page weighs the update's announced sizes against the free space of
// the update folder's file system (update_budget.h); when it is short, the page says how much
// is needed and how much is free, downloads nothing, and Retry weighs again. When every row
// has an announced size, a line under the labels follows the whole update: how many of its MB
// are there and about how long the rest takes.
//
// The row's transfer, its target checks, the stall and the digest check are RowDownload's
// (row_download.h), the failure's text is failure_text.h's; the page drives the transfer
// with its timers and draws what they report.
#pragma once

#include <QTimer>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "wizard/download_plan.h"
#include "wizard/failure_text.h"
#include "wizard/page.h"
#include "wizard/row_download.h"
#include "wizard/update_budget.h"

class QGroupBox;
class QLabel;

namespace upd::controls {
class ImageList;
class ListControl;
class SmallBar;
}  // namespace upd::controls
namespace upd::net {
class DataConnection;
}

namespace upd::wizard {

class frmUpdate4 : public Page {
    Q_OBJECT

  public:
    static constexpr int kStallTimeoutMs = RowDownload::kStallTimeoutMs;
    // The labels and the bar follow the transfer at most this often; final values at once.
    static constexpr int kDisplayIntervalMs = 40;

    explicit frmUpdate4(Wizard& wizard);
    ~frmUpdate4() override;

    void Form_Load() override;
    void Form_Unload() override;
    void Timer1_Timer();
    void StartDownloads();
    // The announced sizes of the plan's rows, in the order of the file list: page 3 hands them
    // over with the rows.
    void setPlanSizes(const std::vector<PlanRow>& rows);
    void Next_Button_Click();
    void Back_Button_Click();
    // Fetches the failed row again (resumed when page 1 allows it).
    void Retry_Click();
    // Leaves a failed row for page 1, to choose another server or the proxy settings.
    void Server_Button_Click();

    // The download object of the row being fetched; nullptr between transfers.
    net::DataConnection* RemoteFile() const { return m_download.RemoteFile(); }
    // Row number of the file that finished last in this pass.
    int FileIndex() const { return m_fileIndex; }
    // True while a failed row waits for Retry.
    bool failed() const { return m_failed; }
    // True while the page shows that the disk has no room for the update: nothing has been
    // downloaded, and Retry weighs again. Not a failure of a row: retrying without making room
    // cannot help.
    bool spaceShort() const { return m_spaceShort; }
    // The failure shown, in the user's language; empty when none.
    QString failureText() const;
    // The frame's text for `shown` at the row being fetched: the row, what happened, what
    // to do.
    QString failureMessage(const FailureDescription& shown) const;
    // Tests shorten the stall time-out.
    void setStallTimeoutMs(int ms);

    QGroupBox* Frame1 = nullptr;
    controls::ListControl* trelListViewCtl1 = nullptr;  // the plan's files
    controls::ImageList* trelImageList1 = nullptr;      // 0 a file, 1 the full package
    controls::ImageList* StateImages = nullptr;         // 0 waiting, 1 fetching, 2 done, 3 failed
    QLabel* Label2 = nullptr;
    std::array<QLabel*, 4> Label4{};  // downloaded, size, percent, average speed
    QLabel* WholeText = nullptr;      // the whole update's progress; empty without every size
    controls::SmallBar* SmallBar1 = nullptr;
    QLabel* FailureText = nullptr;  // under the list, which it shortens; hidden until a failure
    QPushButton* Retry_Button = nullptr;
    QPushButton* Server_Button = nullptr;  // beside Retry, or in its place; hidden until a failure
    std::array<QLabel*, 1> Label3{};
    QPushButton* Back_Button = nullptr;
    QPushButton* Next_Button = nullptr;
    QPushButton* Cancel = nullptr;

  private:
    RowDownloadEvents downloadEvents();
    // Weighs the free space, then starts the pass at row 1; shows the shortage instead.
    void startPass();
    void DownloadFile(int row, bool resume);
    std::optional<std::int64_t> planSize(int row) const;
    // Page 1's "Resume broken downloads": a row's partial file from an earlier attempt or run
    // is resumed; unchecked, it is removed before the row starts.
    bool resumeAllowed() const;
    // Stops the page's timers of the transfer and releases it.
    void releaseDownload();
    void stopTransferTimers();
    // RowDownload's events.
    void rowProgress();
    void rowArrived();
    // Records the row that has arrived (and checked) and goes on to the next or to page 5.
    void rowFinished();
    void rowFailed(const RowFailure& failure);
    void showProgress();
    // The average speed, or how long the server has not sent anything.
    void showAverage();
    void showWhole();
    void showFailure(const FailureDescription& shown);
    void hideFailure();
    // The failure and its buttons, or the progress labels and the bar.
    void showFailureControls(bool failure);
    void setLabel(std::size_t index, const QString& value);

    QTimer m_timer1;
    QTimer m_stallTimer;  // RowDownload::checkStall when it fires
    QTimer m_displayTimer;
    QTimer m_digestTimer;  // RowDownload::checkDigestSlice each turn of the loop
    RowDownload m_download;
    int m_fileIndex = 0;
    int m_row = 0;  // the row being fetched, or the failed one
    bool m_failed = false;
    WayOut m_wayOut = WayOut::Retry;  // of the failure shown
    bool m_waitingShown = false;      // the average's label counts the wait
    bool m_spaceShort = false;
    std::vector<std::optional<std::int64_t>> m_planSizes;  // at row - 1
    WholeProgressMeter m_whole;
};

}  // namespace upd::wizard
