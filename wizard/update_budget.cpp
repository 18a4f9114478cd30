#include "wizard/update_budget.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/update_path.h"
#include "wizard/failure_text.h"
#include "wizard/finish_update.h"

namespace upd::wizard {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
// A rate measured over less than this says more about the first packet than about the line.
constexpr std::int64_t kMinRateMs = 1000;

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? kMax : sum;
}

// The size of the regular file at `path`, 0 for anything else. `follow`: through a link, as a
// copy of the file would read it.
std::int64_t regularFileSize(const std::string& path, bool follow) {
    struct stat info {};
    const int result = follow ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    return result == 0 && S_ISREG(info.st_mode) ? static_cast<std::int64_t>(info.st_size) : 0;
}

// Where the installation puts the row, relative to the application folder; "" for nothing
// (the full package is opened where it was downloaded).
std::string installedAs(const BudgetRow& row, FinishKind kind) {
    if (kind == FinishKind::FullPackage || kind == FinishKind::Nothing) {
        return {};
    }
    return installedName(FinishRow{row.source, row.name}, kind);
}

}  // namespace

std::int64_t spaceNeeded(const std::vector<RowSpace>& rows) {
    std::int64_t needed = 0;
    for (const RowSpace& row : rows) {
        // A file already longer than announced is cut or replaced: it frees room, but no
        // other row is counted on that.
        const std::int64_t fetch = std::max<std::int64_t>(row.size.value_or(0) - row.kept, 0);
        needed =
            saturatingAdd(saturatingAdd(needed, fetch), std::max<std::int64_t>(row.replaced, 0));
    }
    return needed;
}

SpaceCheck judgeSpace(const std::vector<RowSpace>& rows, std::optional<std::int64_t> freeBytes) {
    return {spaceNeeded(rows), freeBytes};
}

std::vector<RowSpace> rowSpaces(const std::string& appFolder, const std::vector<BudgetRow>& rows) {
    std::vector<FinishRow> finishRows;
    finishRows.reserve(rows.size());
    for (const BudgetRow& row : rows) {
        finishRows.push_back({row.source, row.name});
    }
    const FinishKind kind = finishKindOf(finishRows);
    std::vector<RowSpace> spaces;
    spaces.reserve(rows.size());
    for (const BudgetRow& row : rows) {
        RowSpace space{.size = row.size};
        // A name that is no path fails its row before any byte: nothing to weigh.
        if (const platform::UpdatePath kept =
                platform::hostPathUnder(appFolder + "update", row.name)) {
            space.kept = regularFileSize(kept.path, false);
        }
        const std::string target = installedAs(row, kind);
        if (!target.empty()) {
            if (const platform::UpdatePath replaced = platform::hostPathUnder(appFolder, target)) {
                space.replaced = regularFileSize(replaced.path, true);
            }
        }
        spaces.push_back(space);
    }
    return spaces;
}

std::optional<std::int64_t> freeSpace(const std::string& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) {
        return std::nullopt;
    }
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(info.f_bavail),
                               static_cast<std::uint64_t>(info.f_frsize), &bytes) ||
        bytes > static_cast<std::uint64_t>(kMax)) {
        return kMax;
    }
    return static_cast<std::int64_t>(bytes);
}

SpaceCheck checkSpace(const std::string& appFolder, const std::vector<BudgetRow>& rows) {
    return judgeSpace(rowSpaces(appFolder, rows), freeSpace(appFolder + "update"));
}

std::vector<std::string> WholeProgress::values() const {
    std::vector<std::string> texts{megabytesText(done), megabytesText(total)};
    if (secondsLeft) {
        texts.push_back(std::to_string(*secondsLeft / 60));
        texts.push_back(std::to_string(*secondsLeft % 60));
    }
    return texts;
}

std::optional<int> PassTotals::percent() const {
    if (!total || *total <= 0) {
        return std::nullopt;
    }
    const double share =
        std::nearbyint(static_cast<double>(done) / static_cast<double>(*total) * 100.0);
    return static_cast<int>(std::clamp(share, 0.0, 100.0));
}

void WholeProgressMeter::startPass(std::vector<std::optional<std::int64_t>> sizes) {
    *this = WholeProgressMeter{};
    m_rows.resize(sizes.size());
    m_sizes = std::move(sizes);
}

WholeProgressMeter::Row* WholeProgressMeter::rowAt(int row) {
    const auto index = static_cast<std::size_t>(row - 1);
    return row >= 1 && index < m_rows.size() ? &m_rows[index] : nullptr;
}

void WholeProgressMeter::startRow(int row, std::int64_t nowMs) {
    Row* state = rowAt(row);
    if (state == nullptr) {
        return;
    }
    endRow(row, nowMs);
    *state = Row{.running = true};
    if (m_running++ == 0) {
        m_busySinceMs = nowMs;
    }
}

void WholeProgressMeter::rowProgress(int row, std::int64_t fileBytes, std::int64_t fetchedBytes) {
    if (Row* state = rowAt(row); state != nullptr && state->running) {
        state->fileBytes = std::max<std::int64_t>(fileBytes, 0);
        state->fetched = std::max<std::int64_t>(fetchedBytes, 0);
    }
}

void WholeProgressMeter::endRow(int row, std::int64_t nowMs) {
    Row* state = rowAt(row);
    if (state == nullptr || !state->running) {
        return;
    }
    state->running = false;
    m_fetched = saturatingAdd(m_fetched, state->fetched);
    state->fetched = 0;
    if (--m_running == 0) {
        m_busyMs = saturatingAdd(m_busyMs, std::max<std::int64_t>(nowMs - m_busySinceMs, 0));
    }
}

void WholeProgressMeter::resizeRow(int row, std::optional<std::int64_t> size) {
    if (row >= 1 && static_cast<std::size_t>(row) <= m_sizes.size()) {
        m_sizes[static_cast<std::size_t>(row - 1)] = size;
    }
}

void WholeProgressMeter::finishRow(int row, std::int64_t nowMs) {
    endRow(row, nowMs);
    if (Row* state = rowAt(row)) {
        state->finished = true;
    }
}

PassTotals WholeProgressMeter::totals(std::int64_t nowMs) const {
    PassTotals totals;
    totals.files = static_cast<int>(m_rows.size());
    std::int64_t total = 0;
    bool everySize = true;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const Row& row = m_rows[i];
        const std::optional<std::int64_t> size = m_sizes[i];
        everySize = everySize && size.has_value();
        total = saturatingAdd(total, size.value_or(0));
        totals.filesDone += row.finished ? 1 : 0;
        // A row never counts past its size, whatever the server sends before it fails.
        const std::int64_t there = row.finished && size ? *size
                                   : size               ? std::min(row.fileBytes, *size)
                                                        : row.fileBytes;
        totals.done = saturatingAdd(totals.done, there);
        totals.fetched = saturatingAdd(totals.fetched, row.fetched);
    }
    if (everySize && !m_rows.empty()) {
        totals.total = total;
    }
    totals.fetched = saturatingAdd(totals.fetched, m_fetched);
    totals.fetchingMs = m_busyMs;
    if (m_running > 0) {
        totals.fetchingMs =
            saturatingAdd(totals.fetchingMs, std::max<std::int64_t>(nowMs - m_busySinceMs, 0));
    }
    return totals;
}

std::optional<WholeProgress> WholeProgressMeter::figures(std::int64_t nowMs) const {
    const PassTotals totals = this->totals(nowMs);
    if (!totals.total) {
        return std::nullopt;
    }
    WholeProgress progress{.done = totals.done, .total = *totals.total};
    if (totals.fetched > 0 && totals.fetchingMs >= kMinRateMs) {
        // In floating point: the bytes left times the milliseconds would overflow 64 bits.
        const long double left = static_cast<long double>(progress.total - progress.done);
        const long double seconds = std::ceil(left * static_cast<long double>(totals.fetchingMs) /
                                              static_cast<long double>(totals.fetched) / 1000.0L);
        progress.secondsLeft =
            seconds >= static_cast<long double>(kMax) ? kMax : static_cast<std::int64_t>(seconds);
    }
    return progress;
}

}  // namespace upd::wizard
