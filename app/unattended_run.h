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
#pragma once

#include <QString>
#include <optional>
#include <set>
#include <string>

#include "app/message_boxes.h"
#include "app/process_exit.h"
#include "wizard/wizard_observer.h"

namespace upd::wizard {
class Wizard;
}

namespace upd::app {

struct UnattendedOptions {
    int server = 1;               // 1-based row of the server list
    std::optional<int> parallel;  // files fetched at once; nothing: page 4's default
    QString screenshotFolder;     // a PNG of each page when not empty
};

enum UnattendedStatus : int {
    kCurrent = 0,
    kFailed = 1,
    kUsage = 2,
    kUpdaterStarted = 3,
    kPackageOpened = 4,
};

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

    UnattendedOptions m_options;
    wizard::Wizard* m_wizard = nullptr;
    std::optional<int> m_status;
    int m_shots = 0;
    std::set<int> m_retriedRows;  // of page 4's pass
    bool m_retryPosted = false;
};

}  // namespace upd::app
