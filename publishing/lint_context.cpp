#include "publishing/lint_context.h"

#include <sys/stat.h>

#include <ctime>

#include "platform/code_page.h"
#include "platform/printable_text.h"
#include "platform/update_path.h"

namespace upd::wizard::lint {
namespace {

// Values are judged as an English system reads them; the names and numbers the wizard acts
// on are ASCII, and a name that is not gets a warning of its own.
constexpr platform::CodePage kLintCodePage = 1252;

}  // namespace

LintContext::LintContext(std::string_view bytes, const LintOptions& lintOptions)
    : m_document(ProfileDocument::parse(std::string(bytes), kLintCodePage)),
      m_ini(readUpdateIni(m_document)),
      m_options(lintOptions) {
    // The wizard's own rule of which downloads need a digest (information_file.h).
    for (const MissingDigest& missing : missingDigestKeys(m_ini)) {
        m_missingDigests.insert(missing.text());
    }
}

// Every finding quotes names and values of a file from a server: an ESC in a name would
// reach the terminal of whoever reads the findings, so control bytes go out as \xNN.
void LintContext::add(LintSeverity severity, int line, const std::string& problem,
                      const std::string& fix) {
    m_findings.push_back(
        {line, severity, platform::printableText(problem), platform::printableText(fix)});
}

void LintContext::error(int line, const std::string& problem, const std::string& fix) {
    add(LintSeverity::Error, line, problem, fix);
}

void LintContext::warning(int line, const std::string& problem, const std::string& fix) {
    add(LintSeverity::Warning, line, problem, fix);
}

// Unchecked in an unsigned set; in a signed one the reason a wizard with update.pub refuses
// the whole set.
void LintContext::missingDigest(int line, const std::string& what, const std::string& unchecked,
                                const std::string& fix) {
    if (m_options.signedSet) {
        error(line,
              what +
                  ": a wizard with update.pub refuses the whole signed set, which must "
                  "digest every file it may download",
              fix);
    } else {
        warning(line, what + ": " + unchecked, fix);
    }
}

bool LintContext::lacksDigest(std::string_view section, std::string key, std::int64_t entry) const {
    return m_missingDigests.contains(MissingDigest{section, std::move(key), entry}.text());
}

// LintOptions::now is local standard time, as the wizard reads a file's time (updtool took the
// zone's standard offset off the clock); Expires is UTC, so the offset goes back on.
std::optional<std::int64_t> LintContext::utcNow() const {
    if (!m_options.now) {
        return std::nullopt;
    }
    tzset();
    return *m_options.now + static_cast<std::int64_t>(timezone);
}

std::string LintContext::releaseFile(std::string_view name) const {
    return platform::hostPathUnder(*m_options.releaseFolder, name).path;
}

bool LintContext::isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace upd::wizard::lint
