// What the groups of lint checks (lint_checks.h) share, inside the lint only: the file as the
// wizard's reader holds it, the options, and what the checks write: the findings, and the
// entries and versions that the [Ver], [Time] and [Update] checks leave for the checks that
// look across all of them. update_ini_lint.cpp owns one for each run; the checks take it by
// reference. Nothing here fails: a value the checks cannot read is itself a finding.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "publishing/update_ini_lint.h"
#include "wizard/profile_document.h"
#include "wizard/update_ini_file.h"

namespace upd::wizard::lint {

// A File<n> the wizard's list accepted.
struct Entry {
    std::string name;
    int line = 0;
    bool hasDigest = false;
};

// An announced version, for the check of part widths across all of them.
struct VersionText {
    int line = 0;
    std::string label;  // "Ver2", "UpdateVer"
    std::string text;
};

// The key's line, else its section's (0 when the section is absent too).
inline int lineOf(const IniValue& value, int sectionLine) {
    return value.present ? value.line : sectionLine;
}

inline std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

class LintContext {
  public:
    // Reads `bytes` with the wizard's reader; `lintOptions` must outlive the context.
    LintContext(std::string_view bytes, const LintOptions& lintOptions);
    LintContext(const LintContext&) = delete;
    LintContext& operator=(const LintContext&) = delete;

    const LintOptions& options() const { return m_options; }
    // options().now as UTC seconds, the clock of Expires; nothing when options().now is unset.
    std::optional<std::int64_t> utcNow() const;
    const ProfileDocument& document() const { return m_document; }
    const UpdateIniFile& ini() const { return m_ini; }  // read from document()

    void add(LintSeverity severity, int line, const std::string& problem, const std::string& fix);
    void error(int line, const std::string& problem, const std::string& fix);
    void warning(int line, const std::string& problem, const std::string& fix);
    // A download without its digest: an error in a signed set, else a warning that `unchecked`.
    void missingDigest(int line, const std::string& what, const std::string& unchecked,
                       const std::string& fix);
    // The wizard's missingDigests names this key of the section.
    bool lacksDigest(std::string_view section, std::string key, std::int64_t entry = 0) const;

    // `name` under options().releaseFolder, which must be set.
    std::string releaseFile(std::string_view name) const;
    static bool isRegularFile(const std::string& path);

    // Filled by the [Ver] and [Time] checks (entries) and by them and [Update] (versions).
    std::vector<Entry>& entries() { return m_entries; }
    const std::vector<Entry>& entries() const { return m_entries; }
    std::vector<VersionText>& versions() { return m_versions; }
    const std::vector<VersionText>& versions() const { return m_versions; }

    // The findings in the order the checks added them.
    std::vector<LintFinding> takeFindings() { return std::move(m_findings); }

  private:
    ProfileDocument m_document;
    UpdateIniFile m_ini;                     // read from m_document
    std::set<std::string> m_missingDigests;  // MissingDigest::text() of each
    const LintOptions& m_options;
    std::vector<LintFinding> m_findings;
    std::vector<Entry> m_entries;
    std::vector<VersionText> m_versions;
};

}  // namespace upd::wizard::lint
