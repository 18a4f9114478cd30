// SIGTERM, SIGHUP and SIGINT (the session ending, a task manager, Ctrl+C) as bytes on a
// pipe. The event loop watches the read end and closes the program the orderly way, as a
// close "for another reason", instead of dying in the middle of a handler.
#pragma once

namespace upd::app {

class TerminationSignals {
  public:
    // Installs the handlers; the first call creates the pipe, later calls return the same
    // read end. -1 when the pipe cannot be created (the signals then keep their default
    // action).
    static int install();
    // Reads every byte waiting on the read end; returns how many signals arrived.
    static int drain(int readFd);
};

}  // namespace upd::app
