// What page 4 weighs from the announced sizes: the room the update needs against the free
// space, and the whole update's progress and time left.
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "wizard/announced_size.h"
#include "wizard/failure_text.h"
#include "wizard/update_budget.h"

namespace upd::wizard {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMB = 1 << 20;

TEST(AnnouncedSize, IsAsciiDigitsUpTo2To63Minus1) {
    // clang-format off
    const struct { const char* text; std::optional<std::int64_t> size; } cases[] = {
        {"0", 0}, {"007", 7}, {"9223372036854775807", kMax}, {"9223372036854775808", {}},
        {"99999999999999999999", {}}, {"", {}}, {"+1", {}}, {"-1", {}}, {"1k", {}}, {"1.0", {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(parseAnnouncedSize(c.text), c.size) << c.text;
    }
    EXPECT_TRUE(readAnnouncedSize({"", 3, true}).malformed);  // "Size1=" is there
    EXPECT_FALSE(readAnnouncedSize({}).malformed);
}

TEST(UpdateBudget, WeighsWhatTheRowsNeedAgainstTheFreeSpace) {
    // clang-format off
    const struct { const char* name; std::vector<RowSpace> rows; std::optional<std::int64_t> free;
                   std::int64_t needed; bool enough; } cases[] = {
        {"sizes and backups add up", {{100, 0, 30}, {50, 0, 0}}, 180, 180, true},
        {"one byte short", {{100, 0, 30}, {50, 0, 0}}, 179, 180, false},
        {"no size counts 0; its backup still counts", {{{}, 0, 30}}, 29, 30, false},
        {"bytes already fetched are reused", {{100, 60, 0}}, 40, 40, true},
        {"a longer partial file gives no other row room", {{100, 160, 0}, {10, 0, 0}}, 9, 10, false},
        {"no figures of the file system: nothing refused", {{kMax, 0, 0}}, {}, kMax, true},
        {"a sum past 2^63 - 1 stays there", {{kMax, 0, 0}, {1, 0, kMax}}, kMax - 1, kMax, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SpaceCheck check = judgeSpace(c.rows, c.free);
        EXPECT_EQ(check.needed, c.needed);
        EXPECT_EQ(check.enough(), c.enough);
    }
    // The needed space rounded up, the free space down.
    EXPECT_EQ(describeSpaceShortage(10 * kMB + 1, 10 * kMB + kMB / 10 - 1).values,
              (std::vector<std::string>{"10.1", "10.0"}));
}

TEST(UpdateBudget, CountsWhatIsFetchedAndWhatTheInstallationReplaces) {
    const test::TempDir app;
    app.write("sub/a.dll", std::string(10, 'a'));
    app.write("update/sub/a.dll", "part");
    app.write("update.exe", "running");  // the new updater goes in as reupdate.exe
    app.write("reupdate.exe", "old");
    app.write("FileMove.exe", "moves");
    app.write("Setup.zip", "zz");  // the full package is opened, not installed
    const auto figures = [&](const std::vector<BudgetRow>& rows) {
        std::string out;
        for (const RowSpace& r : rowSpaces(app.path(), rows)) {
            out += std::to_string(r.kept) + "/" + std::to_string(r.replaced) + " ";
        }
        return out;
    };
    EXPECT_EQ(figures({{"sub\\a.dll", "sub\\a.dll", 9}, {"new.dat", "new.dat", 1}}), "4/10 0/0 ");
    EXPECT_EQ(figures({{"http://s/update.exe", "update.exe", 9},
                       {"http://s/FileMove.exe", "FileMove.exe", 9}}),
              "0/3 0/5 ");
    EXPECT_EQ(figures({{"http://s/f.zip", "Setup.zip", 9}}), "0/0 ");
    EXPECT_TRUE(freeSpace(app.path()));
    EXPECT_FALSE(freeSpace(app.file("missing")));
}

TEST(WholeProgress, CountsTheFilesThereAndTheTimeLeftAtThePassRate) {
    using Texts = std::vector<std::string>;
    WholeProgressMeter meter;
    meter.startPass({kMB, 3 * kMB});
    meter.startRow(1, 0);
    meter.rowProgress(1, kMB / 2, kMB / 2);
    EXPECT_EQ(meter.figures(500)->values(), (Texts{"0.5", "4.0"}));  // too soon for a rate
    EXPECT_EQ(meter.figures(1000)->values(), (Texts{"0.5", "4.0", "0", "7"}));
    meter.rowProgress(1, kMB, kMB);
    meter.finishRow(1, 2000);
    // A minute waiting at a failure is no time fetching; 1.5 MB resumed from disk were not
    // fetched.
    meter.startRow(2, 62'000);
    meter.rowProgress(2, 2 * kMB, kMB / 2);
    EXPECT_EQ(meter.figures(63'000)->values(), (Texts{"3.0", "4.0", "0", "2"}));
    EXPECT_EQ((WholeProgress{0, 0, 125}.values()), (Texts{"0.0", "0.0", "2", "5"}));
    meter.startPass({kMB, std::nullopt});
    EXPECT_FALSE(meter.figures(0));
}

// Two rows fetched together for a second took a second, not two; a failed row's bytes stay
// there.
TEST(WholeProgress, RowsInFlightTogetherShareTheirTime) {
    WholeProgressMeter meter;
    meter.startPass({2 * kMB, 2 * kMB});
    meter.startRow(1, 0);
    meter.startRow(2, 0);
    meter.rowProgress(1, kMB, kMB);
    meter.rowProgress(2, kMB, kMB);
    EXPECT_EQ(meter.figures(1000)->values(), (std::vector<std::string>{"2.0", "4.0", "0", "1"}));
    meter.endRow(2, 1000);
    meter.rowProgress(1, 2 * kMB, 2 * kMB);
    meter.finishRow(1, 1000);
    const PassTotals t = meter.totals(61'000);
    EXPECT_EQ((std::vector<std::int64_t>{t.done, t.fetched, t.fetchingMs, t.filesDone}),
              (std::vector<std::int64_t>{3 * kMB, 3 * kMB, 1000, 1}));
    EXPECT_EQ(t.percent(), 75);
}

}  // namespace
}  // namespace upd::wizard
