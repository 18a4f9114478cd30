// Module `CloseSub`: the one exit routine. It closes the program's windows newest first,
// closes the files the program holds open and ends the process. What it works on (the
// windows and the process) is behind ExitHost, so the routine is the same for the wizard
// and for tests.
#pragma once

#include <cstdint>
#include <vector>

namespace upd::app {

class ExitHost {
  public:
    // Identifies a window for as long as the program runs; later windows get larger ones.
    using WindowSerial = std::uint64_t;

    virtual ~ExitHost() = default;
    // The open windows in the order they were created, without the windows whose close
    // handler is running (a handler that runs CloseSub again must not be asked again).
    virtual std::vector<WindowSerial> openWindows() const = 0;
    virtual bool isOpen(WindowSerial window) const = 0;
    // Closes the window for a reason other than the user's: its close handler runs with
    // CloseTrigger::Other and may refuse, leaving the window open.
    virtual void closeWindow(WindowSerial window) = 0;
    // Whether any window is open, those whose close handler is running included.
    virtual bool anyWindowOpen() const = 0;
    virtual void closeOpenFiles() = 0;
    virtual void endProcess() = 0;
    // True once endProcess has run. Only a test double gets to ask: the real one does not
    // return.
    virtual bool processEnded() const = 0;
};

enum class CloseSubResult {
    GaveUp,        // a window refused to close (only without force); the program runs on
    AllClosed,     // every window closed; the process ends by itself, its last window gone
    ProcessEnded,  // the process was ended (seen only by tests)
};

// CloseSub(force):
//  1. Every open window, from the most recently created to the first, is closed with a
//     reason other than the user's. Without force, a window that refuses ends the walk and
//     the routine returns GaveUp.
//  2. When no window is left open, or with force: the open files are closed.
//  3. When a window is still open, or with force: the process ends.
// Windows closed by a handler during the walk are passed over.
CloseSubResult CloseSub(ExitHost& host, bool force);

}  // namespace upd::app
