#include "publishing/update_ini_lint.h"

#include <algorithm>

#include "publishing/lint_checks.h"
#include "publishing/lint_context.h"
#include "wizard/profile_file.h"

namespace upd::wizard {

LintFinding tooLargeFinding() {
    return {0, LintSeverity::Error,
            "the file is larger than 64 MiB: the wizard reads it as empty and refuses it",
            "announce fewer files"};
}

std::vector<LintFinding> lintUpdateIni(std::string_view bytes, const LintOptions& options) {
    if (bytes.size() > kMaxProfileFileBytes) {
        return {tooLargeFinding()};
    }
    lint::LintContext ctx(bytes, options);
    // The order matters twice: later checks read what earlier ones recorded (lint_checks.h),
    // and findings on one line stay in this order through the stable sort below.
    lint::checkStructure(ctx);
    lint::checkLengths(ctx);
    lint::checkEntries(ctx, ctx.ini().ver);
    lint::checkEntries(ctx, ctx.ini().time);
    lint::checkUpdate(ctx);
    lint::checkForms(ctx);
    lint::checkDigestCoverage(ctx);
    lint::checkVersionWidths(ctx);
    lint::checkUnannounced(ctx);
    std::vector<LintFinding> findings = ctx.takeFindings();
    std::stable_sort(findings.begin(), findings.end(),
                     [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
    return findings;
}

bool hasErrors(const std::vector<LintFinding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const LintFinding& f) { return f.severity == LintSeverity::Error; });
}

std::string formatFinding(const LintFinding& finding) {
    return std::to_string(finding.line) + ": " +
           (finding.severity == LintSeverity::Warning ? "warning: " : "") + finding.problem +
           ". fix: " + finding.fix;
}

}  // namespace upd::wizard
