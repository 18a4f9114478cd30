// What page 4 weighs from the sizes the plan announces (announced_size.h): before its first
// row, whether the update folder's file system has room for the whole update; while the rows
// come, how far the whole update has got and how long it has left. Toolkit-free, so the
// decisions can be tested without a display; the page only draws them.
//
//     const SpaceCheck space = checkSpace(appFolder, rowsToFetch);
//     if (!space.enough()) { /* describeSpaceShortage(space.needed, *space.free) */ }
//
// The room an update takes on the update folder's file system: each file it downloads, less
// what its file there already holds (resumed or overwritten in place), and, at worst, a copy
// of each application file the installation replaces (installation.h keeps a backup of each
// in update/.install-backup/: a hard link where the file system allows, else a copy). A row
// without an announced size counts as 0 bytes: nothing says how large it is, and its own
// transfer reports a full disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace upd::wizard {

// A row of page 4 still to fetch, as the page holds it.
struct BudgetRow {
    std::string source;                  // page 3's PlanList: a name on the server, or a URL
    std::string name;                    // page 4's file list: relative to the update folder
    std::optional<std::int64_t> size{};  // announced; nothing for none
};

// One row's figures, in bytes.
struct RowSpace {
    std::optional<std::int64_t> size{};  // announced; nothing counts as 0
    std::int64_t kept = 0;               // its file already in the update folder
    std::int64_t replaced = 0;           // the application file its installation replaces
};

struct SpaceCheck {
    std::int64_t needed = 0;
    std::optional<std::int64_t> free{};  // nothing when the file system could not be asked

    // Without figures of the file system nothing is refused: each row meets a full disk on
    // its own.
    bool enough() const { return !free || needed <= *free; }
};

// The bytes `rows` need, summed without overflow (a sum past 2^63 - 1 stays there).
std::int64_t spaceNeeded(const std::vector<RowSpace>& rows);
SpaceCheck judgeSpace(const std::vector<RowSpace>& rows, std::optional<std::int64_t> freeBytes);

// The rows' figures as the disk has them: the file under <appFolder>update/ and the one in
// <appFolder> that the installation replaces (nothing for the full package, which is opened,
// not installed; reupdate.exe for the new updater). `rows` are the pass's rows still to
// fetch: every row when the pass starts.
std::vector<RowSpace> rowSpaces(const std::string& appFolder, const std::vector<BudgetRow>& rows);
// The space free to this user (f_bavail * f_frsize) on the file system of `folder`.
std::optional<std::int64_t> freeSpace(const std::string& folder);
// rowSpaces weighed against the free space of <appFolder>update/ (made beforehand).
SpaceCheck checkSpace(const std::string& appFolder, const std::vector<BudgetRow>& rows);

// The whole update's figures at one moment.
struct WholeProgress {
    std::int64_t done = 0;   // bytes of the pass's files that are there
    std::int64_t total = 0;  // the sum of the announced sizes
    // Nothing until a second of fetching has given a rate.
    std::optional<std::int64_t> secondsLeft{};

    // "%1" and "%2" in MB with one decimal (megabytesText), then, with secondsLeft, "%3"
    // whole minutes and "%4" seconds: 125 s left gives "2" and "5".
    std::vector<std::string> values() const;
};

// The pass's figures whatever sizes are announced: what the labels of page 4 show while
// several rows are in flight.
struct PassTotals {
    // Bytes there: a finished row counts its announced size (its bytes without one), any
    // other row the bytes of its file so far (resumed ones included), never past its size.
    std::int64_t done = 0;
    std::optional<std::int64_t> total{};  // the sum of the announced sizes, when every row has one
    int filesDone = 0;
    int files = 0;
    std::int64_t fetched = 0;     // bytes the pass's transfers fetched
    std::int64_t fetchingMs = 0;  // the time during which at least one of them ran

    // `done` of `total` in whole percent, halves to the even neighbour, at most 100; nothing
    // without a total above 0.
    std::optional<int> percent() const;
};

// Follows one pass of page 4 over its rows, several of them at once. The rate is the pass's
// own: the bytes its transfers fetched over the time during which at least one of them ran, so
// bytes resumed from disk do not make it look fast, a wait at a failure does not make it look
// slow, and transfers that overlap count their common time once (six files fetched together
// for 10 s took 10 s, not 60).
class WholeProgressMeter {
  public:
    // A new pass over rows of these announced sizes, page 4's list in order.
    void startPass(std::vector<std::optional<std::int64_t>> sizes);
    // Row `row` (from 1) starts, or starts again, at `nowMs`. Rows outside the pass are ignored
    // here and below.
    void startRow(int row, std::int64_t nowMs);
    // The row's file holds `fileBytes` (resumed ones included), `fetchedBytes` of them from
    // its transfer under way.
    void rowProgress(int row, std::int64_t fileBytes, std::int64_t fetchedBytes);
    // The row's transfer has ended without its file (failed or dropped) at `nowMs`; the bytes
    // it left on disk still count as there until the row starts again.
    void endRow(int row, std::int64_t nowMs);
    // The row's file is whole at `nowMs`.
    void finishRow(int row, std::int64_t nowMs);
    // The row is fetched in a form of `size` bytes (a patch, a compressed file), or whole
    // again: the whole update counts the bytes actually fetched.
    void resizeRow(int row, std::optional<std::int64_t> size);
    PassTotals totals(std::int64_t nowMs) const;
    // Nothing when a row of the pass has no announced size, or before a pass.
    std::optional<WholeProgress> figures(std::int64_t nowMs) const;

  private:
    struct Row {
        std::int64_t fileBytes = 0;
        std::int64_t fetched = 0;  // by the transfer under way
        bool running = false;
        bool finished = false;
    };
    Row* rowAt(int row);

    std::vector<std::optional<std::int64_t>> m_sizes;
    std::vector<Row> m_rows;
    int m_running = 0;               // transfers under way
    std::int64_t m_busySinceMs = 0;  // when the first of them started
    std::int64_t m_fetched = 0;      // by the pass's ended transfers
    std::int64_t m_busyMs = 0;       // the time during which at least one transfer ran, before
                                     // m_busySinceMs
};

}  // namespace upd::wizard
