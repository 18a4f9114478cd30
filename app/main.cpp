// The update wizard. Without arguments it is the window (Qt's own options, such as
// -platform, still work); `--auto [--server N]` runs the same pages unattended
// (unattended_run.h). It reads no settings but the files beside it.
#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <string>
#include <system_error>

#include "app/process_exit.h"
#include "app/qt_message_boxes.h"
#include "app/reactor_driver.h"
#include "app/session_end.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/string_table.h"
#include "app/termination_signals.h"
#include "app/unattended_run.h"
#include "net/reactor.h"
#include "platform/printable_text.h"
#include "wizard/artwork.h"
#include "wizard/installation.h"
#include "wizard/update_folder_lock.h"
#include "wizard/wizard.h"

namespace {

bool wantsUnattended(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--auto" || std::string_view(argv[i]) == "--check") {
            return true;
        }
    }
    return false;
}

// One wizard per application folder, whatever its name or user: the lock is taken before
// the recovery below and held to the end of the installation. Returns why this one must not
// go on, or nothing.
std::string lockFolder(const std::string& appFolder, upd::platform::LangId language) {
    const upd::wizard::FolderLockResult lock = upd::wizard::lockUpdateFolder(appFolder);
    switch (lock.state) {
        case upd::wizard::FolderLockState::Held:
        case upd::wizard::FolderLockState::Unavailable:
            return {};
        case upd::wizard::FolderLockState::Busy:
            return upd::app::LoadResString(175, language);
        case upd::wizard::FolderLockState::Refused:
            break;
    }
    return upd::app::LoadResString(174, language) + " " + upd::platform::printableText(lock.path) +
           " (" + std::generic_category().message(lock.error) + ")";
}

// An installation cut short (power loss, a kill) is finished or undone before anything
// else reads the application folder. Returns why that failed, or nothing: after a failure
// the folder is as the journal left it, and running on could mix versions. A journal that
// could not be used was set aside: `notice` then says so in the user's language.
std::string recoverInstallation(const std::string& appFolder, bool unattended,
                                upd::platform::LangId language, std::string& notice) {
    const upd::wizard::RecoveryResult recovery = upd::wizard::recoverInterruptedInstall(appFolder);
    if (recovery.failure) {
        const upd::wizard::InstallFailure& failure = *recovery.failure;
        return "An interrupted installation could not be finished or undone: " +
               (failure.entry.empty() ? "" : failure.entry + ": ") + failure.systemText;
    }
    if (!recovery.setAsideJournal.empty()) {
        notice = upd::app::LoadResString(176, language) + "\nupdate/" + recovery.setAsideJournal +
                 (recovery.setAsideBackups.empty() ? "" : "\nupdate/" + recovery.setAsideBackups);
    }
    if (unattended && recovery.rolledBack) {
        std::printf("recovered: an interrupted installation was undone\n");
    } else if (unattended && recovery.completed) {
        std::printf("recovered: an interrupted installation was completed\n");
    }
    std::fflush(stdout);
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    const bool unattended = wantsUnattended(argc, argv);
    // Before any window: a second start ends at once, silently for the window.
    const upd::app::SingleInstance instance = upd::app::SingleInstance::acquireForThisProgram();
    if (instance.alreadyRunning()) {
        if (unattended) {
            std::fprintf(stderr, "another update wizard of this application is running\n");
            return upd::app::kFailed;
        }
        return 0;
    }
    if (unattended) {
        // No window is shown: no display is needed, whatever the environment says.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Standard error carries the texts of the run; the toolkit's notes are not for it.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg || type == QtFatalMsg) {
                std::fprintf(stderr, "%s\n", qPrintable(text));
            }
        });
    }

    QApplication application(argc, argv);
    const upd::app::ParsedArguments parsed =
        upd::app::parseArguments(QApplication::arguments().mid(1));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s\n", parsed.error.c_str());
        return upd::app::kUsage;
    }
    QApplication::setWindowIcon(upd::wizard::artwork::programIcon());
    // The download engine runs inside Qt's event loop, on this thread.
    const upd::app::ReactorDriver reactorDriver(upd::net::mainReactor());

    const upd::wizard::WizardEnvironment environment = upd::wizard::WizardEnvironment::fromSystem();
    upd::app::QtMessageBoxes qtBoxes(environment.userLocale);
    std::string notice;
    std::string failure = lockFolder(environment.appFolder, environment.userLocale);
    if (failure.empty()) {
        failure =
            recoverInstallation(environment.appFolder, unattended, environment.userLocale, notice);
    }
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        if (!unattended) {
            qtBoxes.show(failure, upd::app::MessageButtons::Ok, upd::app::MessageIcon::Critical);
        }
        return upd::app::kFailed;
    }
    if (!notice.empty()) {
        // Said, and the run goes on: the folder is usable, the next update mends it.
        std::fprintf(stderr, "%s\n", notice.c_str());
        if (!unattended) {
            qtBoxes.show(notice, upd::app::MessageButtons::Ok, upd::app::MessageIcon::None);
        }
    }
    upd::app::SystemProcessExit systemExit;
    upd::app::UnattendedRun run(parsed.options);
    upd::app::MessageBoxes& boxes =
        unattended ? static_cast<upd::app::MessageBoxes&>(run) : qtBoxes;
    upd::app::ProcessExit& process =
        unattended ? static_cast<upd::app::ProcessExit&>(run) : systemExit;
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

    if (unattended) {
        run.start(wizard);
        application.exec();
        return run.status();
    }
    upd::app::startWizard(wizard);
    return application.exec();
}
