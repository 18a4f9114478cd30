// What the finish page says in place of a blank advertisement, for each way an update ends.
#include "wizard/finish_summary.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace upd::wizard {
namespace {

TEST(FinishSummary, SaysWhatTheUpdateDid) {
    using enum FinishKind;
    using Names = std::vector<std::string>;
    const Names files = {"Main.exe", "sub\\data.dat"};
    // clang-format off
    const struct { FinishKind kind; bool installFailed; int startError; Names names; int id; Names listed; } cases[] = {
        {Nothing, false, 0, {}, kSummaryAlreadyCurrent, {}},
        {Files, true, 0, files, 0, {}},  // nothing went in: the failure is told, no summary
        {Updater, false, 0, files, kSummaryUpdaterStarted, {}},
        {Updater, false, ENOENT, files, kSummaryFilesInstalled, files},  // in place, not started
        {FullPackage, false, 0, {"Setup.zip"}, kSummaryPackageOpened, {}},
        {FullPackage, false, ENOENT, {"Setup.zip"}, 0, {}},
        // A name cannot forge a second line.
        {Files, false, 0, {"a.dll\nThe application is current"}, kSummaryFilesInstalled, {"a.dll\\x0aThe application is current"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        FinishResult result;
        result.kind = c.kind;
        result.startError = c.startError;
        if (c.installFailed) {
            result.failure = InstallFailure{"Main.exe", EACCES, true, "Permission denied"};
        }
        const std::optional<FinishSummary> summary = finishSummary(result, c.names);
        EXPECT_EQ(summary ? summary->textId : 0, c.id) << static_cast<int>(c.kind);
        EXPECT_EQ(summary ? summary->names : Names{}, c.listed) << static_cast<int>(c.kind);
    }
}

}  // namespace
}  // namespace upd::wizard
