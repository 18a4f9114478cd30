// The checks of `updtool lint`: everything in an update.ini that the wizard would trip on,
// found by reading the file with the wizard's own reader (wizard/update_ini_file.h over
// wizard/profile_document.h) and judging each value with the wizard's own rules (names,
// numbers, dates, versions, digests, and which downloads need a digest).
//
// Errors: the wizard refuses the file or fails its plan, or it does something other than the
// file intends (an entry it never reads, a value it cuts, a file that never counts as current,
// a download whose digest cannot match). Warnings: it works as written, but is fragile or
// unchecked (version parts of different widths, entries without a digest, a date in the
// future, a repeated key).
//
// A signed set (update.ini.sig beside it) is stricter: a wizard with update.pub refuses it
// unless every file it could download carries its digest, so a missing Sha256<n>,
// UpdateSha256 (Update=1), MoveSha256 (Update=1 with a MoveVer) or UpSha256 (ForceUp=1) is
// then an error, not a warning.
//
// With a release folder (the files as they will be served) it also finds files that are not
// there, digests and versions that do not match them, and files nobody is offered.
//
// The smaller forms of a file (ZstSha256<n>, PatchBase<n>_<k>, ...; update_ini_schema.h) need
// the whole file's Sha256<n> and Size<n>; with a release folder each is found beside its file
// and rebuilt into a temporary file, which must come out as the announced whole file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace upd::wizard {

enum class LintSeverity { Error, Warning };

struct LintFinding {
    int line = 0;  // 1-based line of update.ini; 0 when it concerns the whole file
    LintSeverity severity = LintSeverity::Error;
    // Names and values quoted from the file have their control bytes written as \xNN
    // (platform/printable_text.h): a finding never carries an escape sequence to a terminal.
    std::string problem;  // what is wrong and what the wizard does with it
    std::string fix;      // what to change
};

struct LintOptions {
    std::optional<std::string> releaseFolder;
    // Now in local standard time (calendar seconds, wizard/announced_date.h); later
    // announced dates are flagged. Nothing: no such check.
    std::optional<std::int64_t> now;
    // The set is signed: a missing digest is an error (see above).
    bool signedSet = false;
    // Folders of earlier releases, as installed: a patch in the release folder is rebuilt
    // from the file of its name there whose digest is its PatchBase<n>_<k>.
    std::vector<std::string> baseFolders{};
};

// The findings in line order; `bytes` is the whole file.
std::vector<LintFinding> lintUpdateIni(std::string_view bytes, const LintOptions& options = {});

// The one finding for a file larger than the wizard reads (kMaxProfileFileBytes).
LintFinding tooLargeFinding();

bool hasErrors(const std::vector<LintFinding>& findings);

// "LINE: problem. fix: ..." for an error, "LINE: warning: problem. fix: ..." for a warning.
std::string formatFinding(const LintFinding& finding);

}  // namespace upd::wizard
