// The unattended run (`update-wizard --auto [--server N] [--parallel N]`): the wizard's own
// pages and code paths, driven without a window. It presses Next as a user would, chooses
// server row N among the rows of the user's language, has page 4 fetch up to N files at once
// (1 to 16; page 4's default without the option), answers Yes to the full-package question,
// retries each failed file once (resumed when page 1 allows it; a file failing again ends the
// run, and a disk without room for the update is not retried), installs, and ends with a
// status:
//   0 the application is current (nothing to do, or everything installed)
//   3 reupdate.exe was started     4 the full package was opened
//   1 a failure (its text on standard error; nothing is half-installed)
//   2 a usage error, a server number that does not exist included.
// Each page change and each finished file is a line on standard output as it happens;
// each text a message box would show is a line on standard error.
//
// A server that fails (no connection, an error status, a stall, a file failing its digest or
// size after its retry, information the signature rules refuse) is left for the next server of
// the list, wrapping round, each at most kMaxTriesPerServer times, with a pause of 1, 2, 4 s
// (at most 30 s, plus up to half again at random) before each new round; a 503 or 429 with
// Retry-After is waited for (at most 10 minutes) when no other server is left to try. Files
// already whole in the update folder are kept when their digest is announced again. Standard
// output says `server: NAME` at each switch and `wait: SECONDS` before each pause; status 1
// only when every server failed, each one's last reason on standard error. `--no-failover`:
// the first failure ends the run, as before.
//
// `--check`: the same pages up to the plan, which is printed as `updtool plan` prints its rows,
// then `total: BYTES` when every size is announced; nothing is downloaded or recorded and the
// information file is removed again. Status 0 when the application is current, 10 when an
// update is available.
#pragma once

#include <QString>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/message_boxes.h"
#include "app/process_exit.h"
#include "app/progress_line.h"
#include "wizard/wizard_observer.h"

namespace upd::wizard {
class Wizard;
}

namespace upd::app {

struct UnattendedOptions {
    bool check = false;           // --check: the plan only
    int server = 1;               // 1-based row of the server list
    bool failover = true;         // --no-failover clears it
    int randomDelaySeconds = 0;   // --random-delay: the most to wait before starting
    bool quiet = false;           // --quiet: no progress line on a terminal
    std::optional<int> parallel;  // files fetched at once; nothing: page 4's default
    QString screenshotFolder;     // a PNG of each page when not empty
};

enum UnattendedStatus : int {
    kCurrent = 0,
    kFailed = 1,
    kUsage = 2,
    kUpdaterStarted = 3,
    kPackageOpened = 4,
    kUpdateAvailable = 10,  // --check
};

inline constexpr int kMaxTriesPerServer = 3;
inline constexpr int kMaxBackoffSeconds = 30;
inline constexpr int kMaxRetryAfterSeconds = 600;
inline constexpr int kMaxRandomDelaySeconds = 86400;

// The pause before round `round` (1 for the second round): 1, 2, 4 ... s, at most
// kMaxBackoffSeconds, then `jitter` (0 to 1) times half of it added.
double backoffSeconds(int round, double jitter);

// The options after `--auto`, or the usage error's text.
struct ParsedArguments {
    bool unattended = false;
    UnattendedOptions options;
    std::string error;  // not empty: a usage error
};
// `arguments` without the program name and without Qt's own options.
ParsedArguments parseArguments(const QStringList& arguments);

class UnattendedRun final : public wizard::WizardObserver, public MessageBoxes, public ProcessExit {
  public:
    explicit UnattendedRun(UnattendedOptions options);

    // Starts the run on the wizard (its pages registered); the event loop does the rest
    // and ends with the status.
    void start(wizard::Wizard& wizard);
    int status() const { return m_status.value_or(kFailed); }

    // WizardObserver
    void pageShown(wizard::PageId page) override;
    void fileFinished(const std::string& name) override;
    void fileFallback(const std::string& name) override;
    void failed(const std::string& text) override;
    void finished(wizard::FinishOutcome outcome) override;
    // MessageBoxes
    MessageAnswer show(std::string_view text, MessageButtons buttons, MessageIcon icon) override;
    // ProcessExit
    void closeOpenFiles() override;
    void endProcess() override;

  private:
    void act(wizard::PageId page);
    void screenshot(wizard::PageId page);
    // Retries every failed row of page 4 that has not been retried yet; a row failing again
    // ends the run.
    void retryFailedRows();
    // Ends the run with `status` (the first one set counts).
    void end(int code, const std::string& why = {});
    // The server in use has failed for `why`: the next one, after a pause when due; or the end.
    void failOver(const std::string& why);
    // Goes back to page 1 and on with server row `row`.
    void switchTo(int row);
    void checkPlan();
    // A line of the run on `stream`, after clearing the progress line.
    void say(std::FILE* stream, std::string_view prefix, std::string_view text);
    void showProgress();

    UnattendedOptions m_options;
    wizard::Wizard* m_wizard = nullptr;
    std::optional<int> m_status;
    int m_shots = 0;
    std::set<int> m_retriedRows;  // of page 4's pass
    bool m_retryPosted = false;
    int m_row = 0;                 // the server row in use (from 1)
    bool m_switchPending = false;  // failover decided: the pages' further failures are its own
    int m_attempt = 0;             // 0 for the first server's first try
    int m_servers = 0;             // rows of the user's language
    std::vector<std::string> m_lastReasons;    // at row - 1
    std::string m_lastMessage;                 // the last message box's text
    std::unique_ptr<ProgressLine> m_progress;  // on standard output, when it is a terminal
    QTimer* m_progressTimer = nullptr;
};

}  // namespace upd::app
