// How each window of the program closes: the close table of the exit routine. The pages and
// the proxy dialog apply it; CloseSub (close_sub.h) is what most rows end in.
#pragma once

namespace upd::app {

// The program's windows: wizard pages 0-5 and the proxy dialog.
enum class ProgramWindow { Page0, Page1, Page2, Page3, Page4, Page5, ProxyDialog };

// What asks a window to close.
enum class CloseTrigger {
    CancelButton,  // the Cancel button or Esc; Finish on page 5
    CloseBox,      // the window's close box or system menu: the user
    Other,         // the program itself (CloseSub's walk), the session ending, a signal
};

// One row and column of the table. With a question the window asks first (OK and Cancel,
// question icon); Cancel leaves everything as it was, and for a close box or any other
// trigger refuses the close. After OK (or at once without a question):
//   - runsCloseSub: CloseSub(force), then, with endsProcess, end the process, even when
//     CloseSub gave up;
//   - otherwise the window just closes (pages 2-5 quietly; the proxy dialog without
//     saving).
struct CloseRule {
    int questionId = 0;  // string 114 or 137; 0: no question
    bool runsCloseSub = false;
    bool force = false;
    bool endsProcess = false;

    bool operator==(const CloseRule&) const = default;
};

CloseRule closeRule(ProgramWindow window, CloseTrigger trigger);

}  // namespace upd::app
