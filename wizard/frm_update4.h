// Wizard page 4, `frmUpdate4`: downloads the planned files into the update folder, up to
// parallel() of them at once (kDefaultParallel unless set), on the program's one loop. Its file
// list holds the plan's targets (filled by page 3), paired row by row with page 3's PlanList.
// Rows start in the list's order as soon as the page is on screen, the next one whenever one
// ends. A row being fetched gets state icon 1, a finished one 2, a failed one 3; once every row
// has finished, page 5's List1 gets their names in the list's order and page 5 follows by
// itself. While no data arrives, after RowDownload::kWaitingNoticeMs, the average's label
// counts the seconds of waiting for the server instead.
//
// With one transfer at a time (or one row) the labels and the bar follow the file being
// fetched; with several, Label2 says how many are in flight and the labels and the bar follow
// the whole update: its bytes, its announced size (or how many files are done when a size is
// missing), its percent and its average speed.
//
// A row that fails (an error status, a refused connection, 30 seconds without data) is not
// a dead end: the failure is shown in the frame (the first one, when several rows fail), in the
// user's language, with a Retry button, or with a button back to page 1 to choose another server
// (or the proxy) when retrying cannot help (the file is missing on this server), or with both (the
// server could not be reached). When page 1's "Resume broken downloads" is checked, every start of
// a row (a retry, the next pass after Back, a new run after Cancel, a close or a crash) resumes the
// row's partial file from an earlier attempt; unchecked, the file is fetched whole. A failed row is
// never recorded as finished, so nothing it wrote is ever installed. While a failure is shown no
// further row starts; the rows in flight go on, and Retry starts every failed row again.
//
// Before its first row the page weighs the update's announced sizes against the free space of
// the update folder's file system (update_budget.h); when it is short, the page says how much
// is needed and how much is free, downloads nothing, and Retry weighs again. When every row
// has an announced size, a line under the labels follows the whole update: how many of its MB
// are there and about how long the rest takes.
//
// A row's transfer, its target checks, the stall and the digest check are RowDownload's
// (row_download.h), the failure's text is failure_text.h's; the page holds one RowDownload per
// transfer at once (a slot, with its own stall and digest timers), drives them with its timers
// and draws what they report.
#pragma once

#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
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
    // Rows fetched at once unless setParallel says otherwise, and the most it allows.
    static constexpr int kDefaultParallel = 6;
    static constexpr int kMaxParallel = 16;

    explicit frmUpdate4(Wizard& wizard);
    ~frmUpdate4() override;

    void Form_Load() override;
    // Starts the pass from the loop when page 3 has asked for it (StartPending).
    void Form_Activate() override;
    void Form_Unload() override;
    // Every second: the average speed's label.
    void Timer1_Timer();
    void StartDownloads();
    // How many rows are fetched at once from now on, clamped to 1..kMaxParallel; a pass under
    // way starts more rows at once when it may.
    void setParallel(int transfers);
    int parallel() const { return m_parallel; }
    // The announced sizes and smaller forms of the plan's rows, in the order of the file list:
    // page 3 hands them over with the rows.
    void setPlanRows(const std::vector<PlanRow>& rows);
    void Next_Button_Click();
    void Back_Button_Click();
    // Fetches every failed row again (each resumed when page 1 allows it and its file can be
    // built on), then goes on with the pass.
    void Retry_Click();
    // Leaves a failed row for page 1, to choose another server or the proxy settings.
    void Server_Button_Click();

    // The download object of the row started last; nullptr between transfers.
    net::DataConnection* RemoteFile() const;
    // The number of rows finished in this pass.
    int FileIndex() const { return m_fileIndex; }
    // The rows whose transfer is under way (fetching or checking).
    int inFlight() const;
    // True while a failure is shown: failed rows wait for Retry.
    bool failed() const { return m_failed; }
    // The row the failure shown names; 0 when none is shown or it is the disk's.
    int failedRow() const { return m_failed && !m_spaceShort ? m_shownRow : 0; }
    // Every row that has failed and waits for Retry, in the list's order.
    std::vector<int> failedRows() const;
    // True while the page shows that the disk has no room for the update: nothing has been
    // downloaded, and Retry weighs again. Not a failure of a row: retrying without making room
    // cannot help.
    bool spaceShort() const { return m_spaceShort; }
    // The whole pass's figures now (for a progress line on a terminal).
    PassTotals wholeTotals() const;
    // What the last failed row's reply asked to wait with Retry-After, in seconds; -1 for none.
    std::int64_t retryAfterSeconds() const { return m_retryAfter; }
    // The failure shown, in the user's language; empty when none.
    QString failureText() const;
    // The frame's text for `shown` at failedRow(): the row, what happened, what to do.
    QString failureMessage(const FailureDescription& shown) const;
    // Tests shorten the stall time-out (of every transfer).
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
    // One transfer at once: a RowDownload with its own stall and digest timers.
    struct Slot;

    RowDownloadEvents downloadEvents(Slot& slot);
    // A slot without a row, made when all are taken.
    Slot& freeSlot();
    Slot* slotOf(int row) const;
    // Weighs the free space, then starts the pass at row 1; shows the shortage instead.
    void startPass();
    // Starts the next rows of the pass while fewer than parallel() are taken and no failure
    // is shown.
    void fillSlots();
    void DownloadFile(Slot& slot, int row, bool resume);
    std::optional<std::int64_t> planSize(int row) const;
    // Page 1's "Resume broken downloads": a row's partial file from an earlier attempt or run
    // is resumed; unchecked, it is removed before the row starts.
    bool resumeAllowed() const;
    // The labels and the bar follow the whole update rather than one file.
    bool wholeMode() const;
    // Stops every transfer and the pass.
    void releaseDownloads();
    static void stopTransferTimers(Slot& slot);
    // RowDownload's events.
    void rowProgress(Slot& slot);
    void rowArrived(Slot& slot);
    // Records the row that has arrived (and checked) and goes on with the pass or to page 5.
    void rowFinished(Slot& slot);
    void rowFailed(Slot& slot, const RowFailure& failure);
    void showProgress();
    void showFileProgress(const RowDownload& download);
    void showWholeProgress();
    // The average speed, or how long the server has not sent anything.
    void showAverage();
    void showWholeAverage();
    void showWhole();
    void showFailure(const FailureDescription& shown);
    void hideFailure();
    QString failureMessage(const FailureDescription& shown, int row) const;
    // The failure and its buttons, or the progress labels and the bar.
    void showFailureControls(bool failure);
    void setLabel(std::size_t index, const QString& value);
    void setLabel2(const QString& value);

    QTimer m_timer1;
    QTimer m_displayTimer;
    std::vector<std::unique_ptr<Slot>> m_slots;
    Slot* m_lastStarted = nullptr;  // the slot the per-file labels follow
    int m_parallel = kDefaultParallel;
    int m_stallTimeoutMs = kStallTimeoutMs;
    bool m_passRunning = false;
    bool m_unloaded = false;
    int m_fileIndex = 0;
    int m_nextRow = 1;   // the lowest row of the pass not started yet
    int m_shownRow = 0;  // the row named by the failure shown
    bool m_failed = false;
    WayOut m_wayOut = WayOut::Retry;  // of the failure shown
    bool m_waitingShown = false;      // the average's label counts the wait
    bool m_spaceShort = false;
    std::int64_t m_retryAfter = -1;
    std::vector<std::optional<std::int64_t>> m_planSizes;  // at row - 1
    std::vector<std::vector<FileForm>> m_planForms;        // at row - 1
    WholeProgressMeter m_whole;
};

}  // namespace upd::wizard
