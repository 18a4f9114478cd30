#include "app/unattended_run.h"

#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/frm_update.h"
#include "controls/list_control.h"
#include "platform/printable_text.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update3.h"
#include "wizard/frm_update4.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace upd::app {
namespace {

using wizard::PageId;

const char* pageName(PageId page) {
    switch (page) {
        case PageId::Welcome:
            return "welcome";
        case PageId::Server:
            return "server";
        case PageId::InfoDownload:
            return "information";
        case PageId::Analysis:
            return "analysis";
        case PageId::FileDownload:
            return "download";
        case PageId::Finish:
            return "finish";
    }
    return "?";
}

// One line however many the text has: a supervising script reads line by line. Names and
// reasons come from the server, so no control byte reaches the terminal as it is.
void writeLine(std::FILE* stream, std::string_view prefix, std::string_view text) {
    std::string flat(text);
    std::replace_if(
        flat.begin(), flat.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    std::string line = std::string(prefix) + platform::printableText(flat);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

}  // namespace

ParsedArguments parseArguments(const QStringList& arguments) {
    ParsedArguments parsed;
    // The window takes no arguments and, as it always has, passes over any it is given.
    if (!arguments.contains(QLatin1String("--auto"))) {
        return parsed;
    }
    if (arguments.front() != QLatin1String("--auto")) {
        parsed.error =
            "usage: update-wizard [--auto [--server N] [--parallel N] [--screenshots FOLDER]]";
        return parsed;
    }
    parsed.unattended = true;
    for (qsizetype i = 1; i < arguments.size(); i += 2) {
        const QString& option = arguments[i];
        if (i + 1 >= arguments.size()) {
            parsed.error = option.toStdString() + " needs a value";
            return parsed;
        }
        const QString& value = arguments[i + 1];
        if (option == QLatin1String("--server")) {
            bool ok = false;
            parsed.options.server = value.toInt(&ok);
            if (!ok || parsed.options.server < 1) {
                parsed.error = "--server takes a row number from 1: " + value.toStdString();
                return parsed;
            }
        } else if (option == QLatin1String("--parallel")) {
            bool ok = false;
            parsed.options.parallel = value.toInt(&ok);
            if (!ok || *parsed.options.parallel < 1 ||
                *parsed.options.parallel > wizard::frmUpdate4::kMaxParallel) {
                parsed.error = "--parallel takes a number from 1 to " +
                               std::to_string(wizard::frmUpdate4::kMaxParallel) + ": " +
                               value.toStdString();
                return parsed;
            }
        } else if (option == QLatin1String("--screenshots")) {
            parsed.options.screenshotFolder = value;
        } else {
            parsed.error = "unknown option " + option.toStdString();
            return parsed;
        }
    }
    return parsed;
}

UnattendedRun::UnattendedRun(UnattendedOptions options) : m_options(std::move(options)) {}

void UnattendedRun::start(wizard::Wizard& wizard) {
    m_wizard = &wizard;
    wizard.setObserver(this);
    if (!m_options.screenshotFolder.isEmpty()) {
        QDir().mkpath(m_options.screenshotFolder);
    }
    wizard.showFirstPage(PageId::Welcome);
}

void UnattendedRun::pageShown(PageId page) {
    writeLine(stdout, "page: ", pageName(page));
    // After the handler that showed the page has returned, as a user's click would come.
    QTimer::singleShot(0, QCoreApplication::instance(), [this, page] {
        if (m_status || m_wizard->visiblePage() != page) {
            return;
        }
        screenshot(page);
        act(page);
    });
}

void UnattendedRun::act(PageId page) {
    wizard::Wizard& w = *m_wizard;
    switch (page) {
        case PageId::Welcome:
            w.pageAs<frmUpdate>(page)->Next_Button->click();
            break;
        case PageId::Server: {
            auto* servers = w.pageAs<wizard::frmUpdate1>(page);
            const int rows = servers->trelListViewCtl1->rowCount();
            if (m_options.server > rows) {
                end(kUsage, "server " + std::to_string(m_options.server) +
                                " does not exist: update.svr has " + std::to_string(rows) +
                                " for this language");
                return;
            }
            servers->trelListViewCtl1_ItemClick(m_options.server);
            servers->Next_Button->click();
            break;
        }
        case PageId::Analysis: {
            auto* analysis = w.pageAs<wizard::frmUpdate3>(page);
            if (!analysis->Next_Button->isEnabled()) {
                end(kFailed);  // its message box has said why
                return;
            }
            analysis->Check1->setChecked(false);  // never the maker's home page
            if (m_options.parallel) {
                // Page 3 has loaded page 4 (its file list); its pass starts after the click.
                w.pageAs<wizard::frmUpdate4>(PageId::FileDownload)
                    ->setParallel(*m_options.parallel);
            }
            analysis->Next_Button->click();
            if (!m_status && w.visiblePage() == PageId::Analysis) {
                end(kFailed);  // the plan could not be made; its message box said why
            }
            break;
        }
        case PageId::InfoDownload:
        case PageId::FileDownload:
        case PageId::Finish:
            break;  // they go on by themselves
    }
}

void UnattendedRun::screenshot(PageId page) {
    if (m_options.screenshotFolder.isEmpty()) {
        return;
    }
    const QString name = QStringLiteral("%1/%2-%3.png")
                             .arg(m_options.screenshotFolder)
                             .arg(++m_shots, 2, 10, QLatin1Char('0'))
                             .arg(QLatin1String(pageName(page)));
    m_wizard->window().grab().save(name);
}

void UnattendedRun::fileFinished(const std::string& name) {
    writeLine(stdout, "file: ", name);
}

void UnattendedRun::fileFallback(const std::string& name) {
    writeLine(stdout, "fallback: ", name);
}

void UnattendedRun::failed(const std::string& text) {
    writeLine(stderr, "", text);
    if (m_status) {
        return;
    }
    // A failed file is tried once more; a disk without room for the update is not: nothing
    // frees it while the run waits. Other rows may fail before the retry runs: it takes them
    // all, so it looks at the failed rows when it runs.
    if (m_wizard->visiblePage() == PageId::FileDownload &&
        !m_wizard->pageAs<wizard::frmUpdate4>(PageId::FileDownload)->spaceShort()) {
        if (!m_retryPosted) {
            m_retryPosted = true;
            QTimer::singleShot(0, m_wizard->pageAs<wizard::frmUpdate4>(PageId::FileDownload),
                               [this] { retryFailedRows(); });
        }
        return;
    }
    end(kFailed);
}

void UnattendedRun::retryFailedRows() {
    m_retryPosted = false;
    if (m_status || m_wizard->visiblePage() != PageId::FileDownload) {
        return;
    }
    auto* download = m_wizard->pageAs<wizard::frmUpdate4>(PageId::FileDownload);
    if (!download->failed()) {
        return;
    }
    const std::vector<int> rows = download->failedRows();
    for (const int row : rows) {
        if (m_retriedRows.contains(row)) {
            end(kFailed);  // its second failure
            return;
        }
    }
    for (const int row : rows) {
        m_retriedRows.insert(row);
        writeLine(stdout, "retry: ", download->trelListViewCtl1->rowText(row).toStdString());
    }
    download->Retry_Click();
}

void UnattendedRun::finished(wizard::FinishOutcome outcome) {
    using wizard::FinishOutcome;
    if (m_wizard->visiblePage()) {
        screenshot(*m_wizard->visiblePage());
    }
    switch (outcome) {
        case FinishOutcome::AlreadyCurrent:
            end(kCurrent, "result: nothing to do, the application is current");
            break;
        case FinishOutcome::Installed:
            end(kCurrent, "result: installed");
            break;
        case FinishOutcome::UpdaterStarted:
            end(kUpdaterStarted, "result: reupdate.exe started");
            break;
        case FinishOutcome::PackageOpened:
            end(kPackageOpened, "result: full package opened");
            break;
        case FinishOutcome::Failed:
            end(kFailed);
            break;
    }
}

void UnattendedRun::end(int code, const std::string& why) {
    if (m_status) {
        return;
    }
    m_status = code;
    if (!why.empty()) {
        writeLine(
            code == kCurrent || code == kUpdaterStarted || code == kPackageOpened ? stdout : stderr,
            "", why);
    }
    // From the event loop, so that the page that ended the run finishes its handler first.
    QTimer::singleShot(0, QCoreApplication::instance(), [code] { QCoreApplication::exit(code); });
}

MessageAnswer UnattendedRun::show(std::string_view text, MessageButtons buttons, MessageIcon) {
    writeLine(stderr, "", text);
    switch (buttons) {
        case MessageButtons::YesNo:
            return MessageAnswer::Yes;  // the only Yes/No question: the full package
        case MessageButtons::OkCancel:
        case MessageButtons::Ok:
            break;
    }
    return MessageAnswer::Ok;
}

void UnattendedRun::closeOpenFiles() {
    std::fflush(stdout);
    std::fflush(stderr);
}

void UnattendedRun::endProcess() {
    closeOpenFiles();
    _exit(status());
}

}  // namespace upd::app
