// The update log: one line per step of an update (started, the server, the information, each
// file, a retry, a change of server, a wait, the installation, the end), kept beside the
// application so that the support desk can read what happened on a user's machine:
//
//   2026-12-07T15:04:05Z file server="Far server" name=sub\data.dat bytes=300000 digest=ok
//
// A line is the UTC time, the kind of event, then `key=value` fields. A value holding a blank
// or a double quote, or an empty one, is written in double quotes; control bytes and the
// double quote itself are written as \xNN, so a name from a server can neither split a line
// nor forge one. Kinds in use: start (mode, version), server (name, address), info (result),
// file (name, bytes, digest ok/mismatch/none, form), retry (name, why), failover (from, to,
// why), wait (seconds), install (outcome), exit (status).
//
// Where: `<app folder>update/update.log`, the update folder made when missing (never through
// a link). When that folder cannot be written (a read-only installation, a file or a link in
// its place), `$XDG_STATE_HOME/update-wizard/<16 hex digits>/update.log` instead (default
// `~/.local/state/...`), the digits being the start of the SHA-256 of the application folder's
// path with its trailing '/': `printf %s /opt/app/ | sha256sum | cut -c1-16`.
//
// Each line goes out in one write(2) on a descriptor opened O_APPEND|O_NOFOLLOW, so lines of
// two processes never interleave and a link put at update.log is refused. Before a write that
// would take the file past 1 MiB it is renamed update.log.1 (replacing the older copy) and a
// new one begun: at most 2 MiB on disk.
//
// Secrets: callers pass every address through redactedUrl(), which drops "user:password@".
// As a second guard the log replaces by "***" any value that holds one of the secrets given
// to setSecrets() (the proxy password), plainly or percent-encoded.
//
// Failures: a log that cannot be opened or written is silent, and the update goes on;
// ok() says whether the last attempt wrote. Nothing here throws.
#pragma once

#include <concepts>
#include <ctime>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace upd::app {

// One `key=value` of a line. Numbers are written in decimal.
struct LogField {
    LogField(std::string_view name, std::string_view text) : key(name), value(text) {}
    LogField(std::string_view name, const char* text) : key(name), value(text ? text : "") {}
    LogField(std::string_view name, const std::string& text) : key(name), value(text) {}
    template <std::integral Number>
    requires(!std::same_as<Number, bool> && !std::same_as<Number, char>)
        LogField(std::string_view name, Number number)
        : key(name), value(std::to_string(number)) {}

    std::string_view key;  // a name of the code's own: [a-z]+
    std::string value;
};

class UpdateLog {
  public:
    // The rotation threshold.
    static constexpr long long kMaxBytes = 1024 * 1024;

    // The log of the application folder `appFolder` (a trailing '/' is optional), opened or
    // created; a silent log when neither place can be written or the folder is empty.
    static UpdateLog open(const std::string& appFolder);

    UpdateLog() = default;  // silent
    UpdateLog(UpdateLog&& other) noexcept;
    UpdateLog& operator=(UpdateLog&& other) noexcept;
    UpdateLog(const UpdateLog&) = delete;
    UpdateLog& operator=(const UpdateLog&) = delete;
    ~UpdateLog();

    // Appends one line: `log.event("file", {{"name", name}, {"bytes", size}, {"digest", "ok"}})`.
    void event(std::string_view kind, std::initializer_list<LogField> fields);

    // Values holding any of these (empty ones are ignored) are written as "***".
    void setSecrets(std::vector<std::string> secrets) { m_secrets = std::move(secrets); }

    // True while the log is open and its last write succeeded.
    bool ok() const { return m_fd >= 0 && m_lastWriteOk; }
    // The file written, "" for a silent log.
    const std::string& path() const { return m_path; }

  private:
    UpdateLog(int folderFd, int fd, std::string path);
    // The log in `folder` (no trailing '/'); silent when either cannot be opened.
    static UpdateLog openIn(const std::string& folder);
    // Renames a full log to update.log.1 and opens a new one; false leaves the log closed.
    bool rotate();
    void close();

    int m_folderFd = -1;  // the log's folder, opened without following a link
    int m_fd = -1;
    bool m_lastWriteOk = true;
    std::string m_path;
    std::vector<std::string> m_secrets;
};

// One line as event() writes it, without the line break, for the time `utc`.
std::string logLine(std::time_t utc, std::string_view kind, std::span<const LogField> fields,
                    std::span<const std::string> secrets);

// `url` without its "user:password@" (or "user@"): "http://u:p@host:8080/a" gives
// "http://host:8080/a". A '@' in the path or query is left alone. Text that is not a URL
// comes back as it is.
std::string redactedUrl(std::string_view url);

// The folder used when the update folder cannot be written, with a trailing '/': from
// $XDG_STATE_HOME when it is absolute, else from $HOME; "" when neither is set.
std::string fallbackLogFolder(std::string_view appFolder);

}  // namespace upd::app
