// The download page's own speed: the real wizard on Qt's offscreen platform fetches the update
// information from SERVER, plans, and page 4 downloads the planned file; the time from page
// 4's start to the file's completion is printed in seconds. tools/bench/download_page.sh
// times `updtool fetch` of the same file beside it.
//
//     download_page_bench SERVER_URL     (SERVER_URL/update.ini plans one file)
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <cstdio>

#include "app/message_boxes.h"
#include "app/process_exit.h"
#include "app/reactor_driver.h"
#include "app/startup.h"
#include "net/reactor.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update3.h"
#include "wizard/frm_update4.h"
#include "wizard/wizard.h"

namespace {

using upd::wizard::PageId;

class Silent final : public upd::app::MessageBoxes, public upd::app::ProcessExit {
  public:
    upd::app::MessageAnswer show(std::string_view text, upd::app::MessageButtons,
                                 upd::app::MessageIcon) override {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
        return upd::app::MessageAnswer::Ok;
    }
    void closeOpenFiles() override {}
    void endProcess() override {}
};

// Notes when the file has arrived; a failure ends the run.
class Stopwatch final : public upd::wizard::WizardObserver {
  public:
    void pageShown(PageId) override {}
    void fileFinished(const std::string&) override { arrivedAfter = clock.nsecsElapsed(); }
    void failed(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        failure = true;
    }
    void finished(upd::wizard::FinishOutcome) override {}

    QElapsedTimer clock;
    qint64 arrivedAfter = -1;
    bool failure = false;
};

bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < 120'000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    return done();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (QApplication::arguments().size() != 2) {
        std::fprintf(stderr, "usage: download_page_bench SERVER_URL\n");
        return 2;
    }
    const QTemporaryDir folder;
    const upd::app::ReactorDriver driver(upd::net::mainReactor());
    Silent silent;
    Stopwatch stopwatch;
    upd::wizard::Wizard wizard({folder.path().toStdString() + "/", 1033, 1033}, silent, silent);
    wizard.setObserver(&stopwatch);
    upd::app::registerWizardPages(wizard);
    upd::app::startWizard(wizard);
    wizard.state().InfoFile = "update.ini";
    wizard.navigate(PageId::Welcome, PageId::Server);
    wizard.pageAs<upd::wizard::frmUpdate1>(PageId::Server)
        ->Text1->setText(QApplication::arguments()[1]);
    wizard.navigate(PageId::Server, PageId::InfoDownload);
    if (!waitFor([&] { return wizard.visiblePage() == PageId::Analysis || stopwatch.failure; }) ||
        stopwatch.failure) {
        return 1;
    }
    auto* analysis = wizard.pageAs<upd::wizard::frmUpdate3>(PageId::Analysis);
    analysis->Check1->setChecked(false);
    analysis->Next_Button_Click();
    stopwatch.clock.start();
    if (!waitFor([&] { return stopwatch.arrivedAfter >= 0 || stopwatch.failure; }) ||
        stopwatch.failure) {
        return 1;
    }
    std::printf("%.3f\n", static_cast<double>(stopwatch.arrivedAfter) / 1e9);
    return 0;
}
