#include "app/session_end.h"

#include <QEvent>
#include <QGuiApplication>
#include <QSessionManager>

#include "wizard/wizard.h"

namespace upd::app {

SessionEndWatcher::SessionEndWatcher(QObject& application, wizard::Wizard& wizard)
    : m_application(application), m_wizard(wizard) {
    application.installEventFilter(this);
    // Logging out: without this the windows would be closed as if by the close box, and
    // question 114 would hold up the logout.
    if (auto* gui = qobject_cast<QGuiApplication*>(&application)) {
        connect(gui, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { m_wizard.closeForOtherReason(); });
    }
}

bool SessionEndWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_application && event->type() == QEvent::Quit) {
        m_wizard.closeForOtherReason();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace upd::app
