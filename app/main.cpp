// The update wizard. It takes no arguments (Qt's own, such as -platform, still work) and
// reads no settings but the files beside it.
#include <QApplication>
#include <QSocketNotifier>

#include "app/process_exit.h"
#include "app/qt_message_boxes.h"
#include "app/reactor_driver.h"
#include "app/session_end.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/termination_signals.h"
#include "net/reactor.h"
#include "wizard/artwork.h"
#include "wizard/wizard.h"

int main(int argc, char** argv) {
    // Before any window: a second start ends at once, silently.
    const upd::app::SingleInstance instance = upd::app::SingleInstance::acquireForThisProgram();
    if (instance.alreadyRunning()) {
        return 0;
    }

    QApplication application(argc, argv);
    QApplication::setWindowIcon(upd::wizard::artwork::programIcon());
    // The download engine runs inside Qt's event loop, on this thread.
    const upd::app::ReactorDriver reactorDriver(upd::net::mainReactor());

    const upd::wizard::WizardEnvironment environment = upd::wizard::WizardEnvironment::fromSystem();
    upd::app::QtMessageBoxes boxes(environment.userLocale);
    upd::app::SystemProcessExit process;
    upd::wizard::Wizard wizard(environment, boxes, process);
    upd::app::registerWizardPages(wizard);
    const upd::app::SessionEndWatcher sessionEnd(application, wizard);

    // The session ending or a kill closes the program as the system closing it would.
    const int signalFd = upd::app::TerminationSignals::install();
    if (signalFd >= 0) {
        auto* notifier = new QSocketNotifier(signalFd, QSocketNotifier::Read, &application);
        QObject::connect(notifier, &QSocketNotifier::activated, &application, [&wizard, signalFd] {
            if (upd::app::TerminationSignals::drain(signalFd) > 0) {
                wizard.closeForOtherReason();
            }
        });
    }

    upd::app::startWizard(wizard);
    return application.exec();
}
