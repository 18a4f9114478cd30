#include "app/unattended_run.h"

#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "app/frm_update.h"
#include "controls/list_control.h"
#include "platform/monotonic_clock.h"
#include "platform/printable_text.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update2.h"
#include "wizard/frm_update3.h"
#include "wizard/frm_update4.h"
#include "wizard/plan_text.h"
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
    const bool check = arguments.contains(QLatin1String("--check"));
    if (!arguments.contains(QLatin1String("--auto")) && !check) {
        return parsed;
    }
    const std::string usage =
        "usage: update-wizard [--auto|--check] [--server N] [--parallel N] [--no-failover] "
        "[--random-delay SECONDS] [--quiet] [--screenshots FOLDER]";
    const QString& mode = arguments.front();
    if ((mode != QLatin1String("--auto") && mode != QLatin1String("--check")) ||
        (check && arguments.contains(QLatin1String("--auto")))) {
        parsed.error = usage;
        return parsed;
    }
    parsed.unattended = true;
    parsed.options.check = check;
    // A whole number from `low` to `high`, or the usage error's text.
    const auto number = [&](const QString& option, const QString& value, int low, int high,
                            int& out) {
        bool ok = false;
        out = value.toInt(&ok);
        if (!ok || out < low || out > high) {
            parsed.error = option.toStdString() + " takes a number from " + std::to_string(low) +
                           " to " + std::to_string(high) + ": " + value.toStdString();
            return false;
        }
        return true;
    };
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == QLatin1String("--no-failover")) {
            parsed.options.failover = false;
            continue;
        }
        if (option == QLatin1String("--quiet")) {
            parsed.options.quiet = true;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            parsed.error = option.toStdString() + " needs a value\n" + usage;
            return parsed;
        }
        const QString& value = arguments[++i];
        if (option == QLatin1String("--server")) {
            if (!number(option, value, 1, 32767, parsed.options.server)) {
                return parsed;
            }
        } else if (option == QLatin1String("--parallel")) {
            int parallel = 0;
            if (!number(option, value, 1, wizard::frmUpdate4::kMaxParallel, parallel)) {
                return parsed;
            }
            parsed.options.parallel = parallel;
        } else if (option == QLatin1String("--random-delay")) {
            if (!number(option, value, 0, kMaxRandomDelaySeconds,
                        parsed.options.randomDelaySeconds)) {
                return parsed;
            }
        } else if (option == QLatin1String("--screenshots")) {
            parsed.options.screenshotFolder = value;
        } else {
            parsed.error = "unknown option " + option.toStdString() + "\n" + usage;
            return parsed;
        }
    }
    return parsed;
}

double backoffSeconds(int round, double jitter) {
    const double base =
        round <= 1 ? 1.0 : std::min<double>(kMaxBackoffSeconds, std::ldexp(1.0, round - 1));
    return base * (1.0 + std::clamp(jitter, 0.0, 1.0) / 2.0);
}

UnattendedRun::UnattendedRun(UnattendedOptions options) : m_options(std::move(options)) {}

void UnattendedRun::start(wizard::Wizard& wizard) {
    m_wizard = &wizard;
    m_row = m_options.server;
    wizard.setObserver(this);
    wizard.state().CheckOnly = m_options.check;
    (void)wizard.log();  // every unattended run leaves its lines, however far it gets
    m_progress = std::make_unique<ProgressLine>(1, !m_options.quiet && !m_options.check);
    if (m_progress->active()) {
        m_progressTimer = new QTimer(QCoreApplication::instance());
        m_progressTimer->setInterval(100);
        QObject::connect(m_progressTimer, &QTimer::timeout, m_progressTimer,
                         [this] { showProgress(); });
        m_progressTimer->start();
    }
    if (!m_options.screenshotFolder.isEmpty()) {
        QDir().mkpath(m_options.screenshotFolder);
    }
    // Runs started by a timer on many machines at once spread themselves over the delay.
    int delayMs = 0;
    if (m_options.randomDelaySeconds > 0) {
        delayMs = static_cast<int>(QRandomGenerator::global()->bounded(
            static_cast<quint32>(m_options.randomDelaySeconds) * 1000U + 1U));
        say(stdout, "wait: ", std::to_string(delayMs / 1000));
    }
    QTimer::singleShot(delayMs, QCoreApplication::instance(),
                       [&wizard] { wizard.showFirstPage(PageId::Welcome); });
}

void UnattendedRun::pageShown(PageId page) {
    say(stdout, "page: ", pageName(page));
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
            m_servers = rows;
            m_lastReasons.resize(static_cast<std::size_t>(rows));
            servers->trelListViewCtl1_ItemClick(m_row);
            servers->Next_Button->click();
            break;
        }
        case PageId::Analysis: {
            auto* analysis = w.pageAs<wizard::frmUpdate3>(page);
            if (!analysis->Next_Button->isEnabled()) {
                failOver(m_lastMessage);  // its message box has said why
                return;
            }
            if (m_options.check) {
                checkPlan();
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
                failOver(m_lastMessage);  // the plan could not be made; its message box said why
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
    say(stdout, "file: ", name);
}

void UnattendedRun::fileFallback(const std::string& name) {
    say(stdout, "fallback: ", name);
}

void UnattendedRun::failed(const std::string& text) {
    say(stderr, "", text);
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
    // A page may fail while it is being shown (a refused connection at once): the move to it
    // ends first, then the run goes on from the page on screen.
    QTimer::singleShot(0, QCoreApplication::instance(), [this, text] { failOver(text); });
}

void UnattendedRun::retryFailedRows() {
    m_retryPosted = false;
    if (m_status || m_switchPending || m_wizard->visiblePage() != PageId::FileDownload) {
        return;
    }
    auto* download = m_wizard->pageAs<wizard::frmUpdate4>(PageId::FileDownload);
    if (!download->failed()) {
        return;
    }
    const std::vector<int> rows = download->failedRows();
    for (const int row : rows) {
        if (m_retriedRows.contains(row)) {
            failOver(download->failureText().toStdString());  // its second failure
            return;
        }
    }
    for (const int row : rows) {
        m_retriedRows.insert(row);
        say(stdout, "retry: ", download->trelListViewCtl1->rowText(row).toStdString());
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
    if (m_progressTimer != nullptr) {
        m_progressTimer->stop();
    }
    m_wizard->log().event("exit", {{"status", code}});
    if (!why.empty()) {
        say(code == kCurrent || code == kUpdaterStarted || code == kPackageOpened ? stdout : stderr,
            "", why);
    }
    // From the event loop, so that the page that ended the run finishes its handler first.
    QTimer::singleShot(0, QCoreApplication::instance(), [code] { QCoreApplication::exit(code); });
}

MessageAnswer UnattendedRun::show(std::string_view text, MessageButtons buttons, MessageIcon) {
    say(stderr, "", text);
    m_lastMessage = text;
    switch (buttons) {
        case MessageButtons::YesNo:
            return MessageAnswer::Yes;  // the only Yes/No question: the full package
        case MessageButtons::OkCancel:
        case MessageButtons::Ok:
            break;
    }
    return MessageAnswer::Ok;
}

void UnattendedRun::failOver(const std::string& why) {
    // Rows still in flight may fail while the switch waits: the server has failed already.
    if (m_status || m_switchPending) {
        return;
    }
    if (m_row >= 1 && static_cast<std::size_t>(m_row) <= m_lastReasons.size()) {
        m_lastReasons[static_cast<std::size_t>(m_row - 1)] = why;
    }
    // A disk without room, or a run told not to, has nowhere else to go. (Only the page on
    // screen is asked: asking another would load it.)
    const std::optional<PageId> visible = m_wizard->visiblePage();
    auto* download = visible == PageId::FileDownload
                         ? m_wizard->pageAs<wizard::frmUpdate4>(PageId::FileDownload)
                         : nullptr;
    const bool local = download != nullptr && download->spaceShort();
    ++m_attempt;
    if (!m_options.failover || local || m_servers < 1 ||
        m_attempt >= m_servers * kMaxTriesPerServer) {
        if (m_options.failover && !local) {
            for (int row = 1; row <= m_servers; ++row) {
                const std::string& reason = m_lastReasons[static_cast<std::size_t>(row - 1)];
                say(stderr, "",
                    m_wizard->pageAs<wizard::frmUpdate1>(PageId::Server)
                            ->trelListViewCtl1->rowText(row)
                            .toStdString() +
                        ": " + (reason.empty() ? std::string("failed") : reason));
            }
        }
        end(kFailed);
        return;
    }
    // In the list's order from the first server chosen, wrapping round.
    const int next = (m_options.server - 1 + m_attempt) % m_servers + 1;
    const int round = m_attempt / m_servers;
    double pause = 0;
    if (m_attempt % m_servers == 0) {
        pause = backoffSeconds(round, QRandomGenerator::global()->generateDouble());
    }
    // A server that said when to come back is waited for when it is the only one left.
    std::int64_t retryAfter = -1;
    if (download != nullptr) {
        retryAfter = download->retryAfterSeconds();
    } else if (visible == PageId::InfoDownload) {
        retryAfter =
            m_wizard->pageAs<wizard::frmUpdate2>(PageId::InfoDownload)->retryAfterSeconds();
    }
    if (next == m_row && retryAfter > 0) {
        pause = std::max<double>(pause, std::min<std::int64_t>(retryAfter, kMaxRetryAfterSeconds));
    }
    auto* servers = m_wizard->pageAs<wizard::frmUpdate1>(PageId::Server);
    m_wizard->log().event("failover",
                          {{"from", servers->trelListViewCtl1->rowText(m_row).toStdString()},
                           {"to", servers->trelListViewCtl1->rowText(next).toStdString()},
                           {"why", why}});
    m_switchPending = true;
    if (pause <= 0) {
        switchTo(next);
        return;
    }
    m_wizard->log().event("wait", {{"seconds", static_cast<std::int64_t>(std::lround(pause))}});
    say(stdout, "wait: ", std::to_string(static_cast<int>(std::lround(pause))));
    QTimer::singleShot(static_cast<int>(pause * 1000), QCoreApplication::instance(),
                       [this, next] { switchTo(next); });
}

void UnattendedRun::switchTo(int row) {
    m_switchPending = false;
    if (m_status) {
        return;
    }
    wizard::Wizard& w = *m_wizard;
    m_row = row;
    m_retriedRows.clear();
    m_retryPosted = false;
    say(stdout, "server: ",
        w.pageAs<wizard::frmUpdate1>(PageId::Server)->trelListViewCtl1->rowText(row).toStdString());
    // Each page leaves as its own way back to page 1 does; page 1 then chooses the row.
    switch (w.visiblePage().value_or(PageId::Server)) {
        case PageId::InfoDownload:
            w.pageAs<wizard::frmUpdate2>(PageId::InfoDownload)->Back_Button_Click();
            break;
        case PageId::Analysis:
            w.pageAs<wizard::frmUpdate3>(PageId::Analysis)->Back_Button_Click();
            break;
        case PageId::FileDownload:
            w.pageAs<wizard::frmUpdate4>(PageId::FileDownload)->Server_Button_Click();
            break;
        default:
            break;
    }
}

void UnattendedRun::checkPlan() {
    wizard::Wizard& w = *m_wizard;
    auto* analysis = w.pageAs<wizard::frmUpdate3>(PageId::Analysis);
    const wizard::DownloadPlan plan = analysis->makePlan();
    // Nothing of the check stays in the folder: the information is fetched again next time.
    ::unlink((w.environment().appFolder + "update.ini").c_str());
    if (!plan) {
        say(stderr, "", *plan.failure);
        failOver(*plan.failure);
        return;
    }
    std::optional<std::int64_t> total = 0;
    for (const wizard::PlanRow& row : plan.rows) {
        const wizard::PlanRowText text = wizard::planRowText(row, w.environment().appFolder);
        std::string line = text.line + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        total = total && text.size ? std::optional(*total + *text.size) : std::nullopt;
    }
    if (total && !plan.rows.empty()) {
        say(stdout, "total: ", std::to_string(*total));
    }
    std::fflush(stdout);
    end(plan.next == wizard::PlanNext::Download ? kUpdateAvailable : kCurrent);
}

void UnattendedRun::say(std::FILE* stream, std::string_view prefix, std::string_view text) {
    if (m_progress) {
        m_progress->finish();  // drawn again at the next tick
    }
    writeLine(stream, prefix, text);
}

void UnattendedRun::showProgress() {
    if (m_status || m_wizard == nullptr || m_wizard->visiblePage() != PageId::FileDownload) {
        return;
    }
    const wizard::PassTotals totals =
        m_wizard->pageAs<wizard::frmUpdate4>(PageId::FileDownload)->wholeTotals();
    m_progress->update(totals.done, totals.total.value_or(-1), platform::monotonicMs());
}

void UnattendedRun::closeOpenFiles() {
    if (m_progress) {
        m_progress->finish();
    }
    std::fflush(stdout);
    std::fflush(stderr);
}

void UnattendedRun::endProcess() {
    closeOpenFiles();
    _exit(status());
}

}  // namespace upd::app
