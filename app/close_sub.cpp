#include "app/close_sub.h"

namespace upd::app {

CloseSubResult CloseSub(ExitHost& host, bool force) {
    const std::vector<ExitHost::WindowSerial> windows = host.openWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        const ExitHost::WindowSerial window = *it;
        if (!host.isOpen(window)) {
            continue;  // an earlier handler closed it already
        }
        host.closeWindow(window);
        if (host.processEnded()) {
            return CloseSubResult::ProcessEnded;
        }
        if (!force && host.isOpen(window)) {
            return CloseSubResult::GaveUp;
        }
    }
    const bool windowLeft = host.anyWindowOpen();
    if (!windowLeft || force) {
        host.closeOpenFiles();
    }
    if (windowLeft || force) {
        host.endProcess();
        return CloseSubResult::ProcessEnded;
    }
    return CloseSubResult::AllClosed;
}

}  // namespace upd::app
