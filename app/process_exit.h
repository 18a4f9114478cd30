// Ending the process: the last step of every way out of the program. An interface, so that
// tests can see that the process would end without ending themselves.
#pragma once

namespace upd::app {

class ProcessExit {
  public:
    virtual ~ProcessExit() = default;
    // Closes what the program holds open before it ends.
    virtual void closeOpenFiles() = 0;
    // Ends the process at once with status 0; no further handler of the program runs.
    // Only test doubles return from it.
    virtual void endProcess() = 0;
};

// The real thing. The program's own files are opened and closed within one operation and
// download objects close theirs when their page unloads, so what is left to close are the
// standard streams, which are flushed. Ending skips destructors and handlers (_exit); the
// kernel releases the rest, the single-instance lock included.
class SystemProcessExit final : public ProcessExit {
  public:
    void closeOpenFiles() override;
    void endProcess() override;
};

}  // namespace upd::app
