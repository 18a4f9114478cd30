// The groups of checks of `updtool lint`, inside the lint only. Each adds its findings to
// the context; update_ini_lint.cpp runs them in a fixed order and then sorts the findings by
// line with a stable sort, so findings on one line keep the order they were added in.
// Some checks read what earlier ones left in the context: checkDigestCoverage and
// checkUnannounced the entries of checkEntries, checkVersionWidths the versions of
// checkEntries and checkUpdate.
#pragma once

#include <cstdint>
#include <string>

#include "publishing/lint_context.h"
#include "wizard/update_ini_file.h"

namespace upd::wizard::lint {

// lint_structure.cpp: what the reader passes over (a repeated section or key, lines above
// the first section) and values it cuts.
void checkStructure(LintContext& ctx);
void checkLengths(LintContext& ctx);

// lint_entries.cpp: [Ver] or [Time], entry by entry; then the widths of the parts of every
// announced version.
void checkEntries(LintContext& ctx, const FileSection& section);
void checkVersionWidths(LintContext& ctx);

// lint_update.cpp: [Update]'s digests, sizes, flags, updater versions and expiry; then which
// downloads of the whole file lack a digest.
void checkUpdate(LintContext& ctx);
void checkDigestCoverage(LintContext& ctx);

// lint_forms.cpp: the compressed forms and patches of [Ver], [Time] and [Update]'s files,
// written and, with a release folder, rebuilt.
void checkForms(LintContext& ctx);

// lint_release.cpp: against the release folder (options().releaseFolder).
// `digest` of `key` against the file at `path`, `name` as the finding gives it; nothing when
// the digest is empty or malformed (reported where it is read).
void compareDigest(LintContext& ctx, int line, const std::string& key, const std::string& name,
                   const std::string& digest, const std::string& path);
// `size` of `key` against the length of the file at `path`, `name` as the finding gives it;
// nothing when the file cannot be examined (reported where its entry is read).
void compareSize(LintContext& ctx, int line, const std::string& key, const std::string& name,
                 std::int64_t size, const std::string& path);
// Files of the release folder that no entry names.
void checkUnannounced(LintContext& ctx);

}  // namespace upd::wizard::lint
