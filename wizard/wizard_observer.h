// What an unattended run needs to hear from the pages: the page on screen, each finished
// file, a failure that a page shows, and how the finish page ended. The window itself needs
// none of it; the pages call it only when an observer is set.
#pragma once

#include <string>

#include "wizard/navigation.h"

namespace upd::wizard {

enum class FinishOutcome {
    AlreadyCurrent,  // the plan was empty
    Installed,       // every downloaded file is in place
    UpdaterStarted,  // reupdate.exe was started
    PackageOpened,   // the full package was handed to the desktop's opener
    Failed,          // nothing was changed; the reason went to failed()
};

class WizardObserver {
  public:
    virtual ~WizardObserver() = default;
    virtual void pageShown(PageId page) = 0;
    // `name` as the plan gives it ("plugins\Report.dll").
    virtual void fileFinished(const std::string& name) = 0;
    // A patch or compressed form of `name` failed; the whole file is fetched instead.
    virtual void fileFallback(const std::string& name) { (void)name; }
    // A failure shown on a page (not in a message box), in the user's language.
    virtual void failed(const std::string& text) = 0;
    virtual void finished(FinishOutcome outcome) = 0;
};

}  // namespace upd::wizard
