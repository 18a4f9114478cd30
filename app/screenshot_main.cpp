// Saves a picture of every page of the wizard that exists and of the proxy dialog, in
// English and in Simplified Chinese, for people to look at:
//
//     update_screenshots APP_FOLDER OUT_FOLDER TAG
//
// APP_FOLDER holds the update.svr to show; the pictures are OUT_FOLDER/<window>_<en|zh>_TAG.png.
// The scale is Qt's (QT_SCALE_FACTOR); tools/scripts/screenshots.sh runs it at 1 and 2.
// Pages 2 to 5 are shown on a copy of APP_FOLDER: page 2 against a server that accepts
// and never answers (the download running) and against a closed port (the failure), page 3
// with a sample update information file, page 4 fetching its three files at once from the
// silent server and then stalled, page 5 after installing sample files into the copy.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "app/frm_proxy.h"
#include "app/message_boxes.h"
#include "app/process_exit.h"
#include "app/startup.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update2.h"
#include "wizard/frm_update3.h"
#include "wizard/frm_update4.h"
#include "wizard/frm_update5.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace {

// Nothing here may block on a question or end the process.
class NoMessageBoxes final : public upd::app::MessageBoxes {
  public:
    upd::app::MessageAnswer show(std::string_view, upd::app::MessageButtons,
                                 upd::app::MessageIcon) override {
        return upd::app::MessageAnswer::Cancel;
    }
};

class StayingProcess final : public upd::app::ProcessExit {
  public:
    void closeOpenFiles() override {}
    void endProcess() override {}
};

bool save(QWidget& window, const QString& path) {
    QApplication::processEvents();
    const bool saved = window.grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

// A listening socket on 127.0.0.1 that never answers: the kernel accepts the connection,
// so the information download stays running. Closed with the object.
class SilentServer {
  public:
    SilentServer() {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
            listen(m_fd, 16) == 0 &&
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            m_port = ntohs(a.sin_port);
        }
    }
    ~SilentServer() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    QString address() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_port); }
    std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(m_port); }

  private:
    int m_fd = -1;
    int m_port = 0;
};

constexpr const char* kSampleUpdateIni =
    "\xEF\xBB\xBF[Update]\r\nVer=2.1\r\nTime=2026.12.01\r\n"
    "ContentsEN=New export dialog,Faster start-up,Fixed printing of long reports\r\n"
    "ContentsCHS=\xE6\x96\xB0\xE7\x9A\x84\xE5\xAF\xBC\xE5\x87\xBA\xE5\xAF\xB9\xE8\xAF\x9D"
    "\xE6\xA1\x86,\xE5\x90\xAF\xE5\x8A\xA8\xE6\x9B\xB4\xE5\xBF\xAB\r\n"
    "ForceUp=0\r\nUpdate=0\r\n[Ver]\r\nNum=1\r\nFile1=Main.exe\r\nVer1=2.1.0.0\r\nSize1=2411724\r\n"
    "[Time]\r\nNum=2\r\nFile1=Help.chm\r\nDate1=2026-12-01\r\nSize1=1536000\r\n"
    "File2=plugins\\Export.dll\r\nDate2=2026-12-01\r\nSize2=412160\r\n"
    "[Descript]\r\nEXE=Program\r\nCHM=Help\r\nDLL=Plug-in\r\n";
// The files of kSampleUpdateIni, as they are listed on page 4.
constexpr const char* kSampleFiles[] = {"Main.exe", "Help.chm", "plugins/Export.dll"};

// Pages 2 and 3 on a copy of the folder, so that nothing is written into it.
bool shootInformationPages(const std::string& appFolder, const QString& out,
                           const QString& language, upd::platform::LangId id, const QString& tag) {
    using upd::wizard::PageId;
    const QTemporaryDir copy;
    const std::string folder = copy.path().toStdString() + "/";
    QFile::copy(QString::fromStdString(appFolder + "update.svr"),
                QString::fromStdString(folder + "update.svr"));
    NoMessageBoxes boxes;
    StayingProcess process;
    const SilentServer silent;
    upd::wizard::Wizard wizard({folder, id, id, "", silent.hostAndPort()}, boxes, process);
    upd::app::registerWizardPages(wizard);
    upd::app::startWizard(wizard);
    const auto name = [&](const char* window) {
        return QDir(out).filePath(QStringLiteral("%1_%2_%3.png").arg(window, language, tag));
    };
    auto* server = wizard.pageAs<upd::wizard::frmUpdate1>(PageId::Server);
    wizard.navigate(PageId::Welcome, PageId::Server);

    server->Text1->setText(silent.address());
    wizard.navigate(PageId::Server, PageId::InfoDownload);
    bool ok = save(wizard.window(), name("page2_information"));
    wizard.navigate(PageId::InfoDownload, PageId::Server);

    // Port 1 on the loopback address: refused at once.
    server->Text1->setText(QStringLiteral("http://127.0.0.1:1/"));
    wizard.navigate(PageId::Server, PageId::InfoDownload);
    ok = save(wizard.window(), name("page2_failed")) && ok;

    QFile ini(QString::fromStdString(folder + "update.ini"));
    ok = ini.open(QIODevice::WriteOnly) && ini.write(kSampleUpdateIni) > 0 && ok;
    ini.close();
    auto* information = wizard.pageAs<upd::wizard::frmUpdate2>(PageId::InfoDownload);
    information->Next_Button_Click();
    ok = save(wizard.window(), name("page3_whats_new")) && ok;

    // Page 4 fetching its files at once from the server that never answers (the pass starts
    // from the loop, which save() runs), then those rows stalled.
    auto* analysis = wizard.pageAs<upd::wizard::frmUpdate3>(PageId::Analysis);
    analysis->Check1->setChecked(false);
    server->Text1->setText(silent.address());
    analysis->Next_Button_Click();
    auto* download = wizard.pageAs<upd::wizard::frmUpdate4>(PageId::FileDownload);
    ok = save(wizard.window(), name("page4_download")) && ok;
    // Still nothing after 5 s: the page says it is waiting for the server.
    QEventLoop quiet;
    QTimer::singleShot(6200, &quiet, &QEventLoop::quit);
    quiet.exec();
    ok = save(wizard.window(), name("page4_waiting")) && ok;
    download->setStallTimeoutMs(1);
    QElapsedTimer waited;
    waited.start();
    while (download->inFlight() > 0 && waited.elapsed() < 2000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ok = save(wizard.window(), name("page4_failed")) && ok;

    // Page 5 after the files have arrived: installed into the copy. The advertisement's host
    // is the silent server; a sample page stands in for the maker's.
    for (const char* sample : kSampleFiles) {
        QFile arrived(QString::fromStdString(folder + "update/" + sample));
        ok = arrived.open(QIODevice::WriteOnly) && arrived.write("sample") > 0 && ok;
        arrived.close();
    }
    wizard.navigate(PageId::FileDownload, PageId::Finish);
    auto* finish = wizard.pageAs<upd::wizard::frmUpdate5>(PageId::Finish);
    finish->WebBrowser1->setHtml(
        upd::platform::languageProfile(id).chinese
            ? QStringLiteral("<h3>新版本</h3><p>欢迎使用新的导出对话框。</p>")
            : QStringLiteral("<h3>What's new</h3><p>Try the new export "
                             "dialog.</p>"));
    return save(wizard.window(), name("page5_finished")) && ok;
}

bool shootLanguage(const std::string& appFolder, const QString& out, const QString& language,
                   upd::platform::LangId id, const QString& tag) {
    using upd::wizard::PageId;
    NoMessageBoxes boxes;
    StayingProcess process;
    upd::wizard::Wizard wizard({appFolder, id, id}, boxes, process);
    upd::app::registerWizardPages(wizard);
    upd::app::startWizard(wizard);
    const auto name = [&](const char* window) {
        return QDir(out).filePath(QStringLiteral("%1_%2_%3.png").arg(window, language, tag));
    };

    bool ok = save(wizard.window(), name("page0_welcome"));

    wizard.navigate(PageId::Welcome, PageId::Server);
    auto* server = wizard.pageAs<upd::wizard::frmUpdate1>(PageId::Server);
    if (server->trelListViewCtl1->rowCount() > 0) {
        QTreeWidget* view = server->trelListViewCtl1->view();
        view->setCurrentItem(view->topLevelItem(0));
        server->trelListViewCtl1_ItemClick(1);
    }
    ok = save(wizard.window(), name("page1_server")) && ok;

    upd::app::frmProxy& proxy = wizard.proxyDialog();
    proxy.show();
    ok = save(proxy, name("proxy")) && ok;
    proxy.cmbProxyServer->setCurrentIndex(static_cast<int>(upd::app::ProxyKind::Socks5));
    ok = save(proxy, name("proxy_socks5")) && ok;
    proxy.txtProxyPort->setText(QStringLiteral("0"));  // OK disabled, with its hint
    ok = save(proxy, name("proxy_bad_port")) && ok;
    proxy.Cancel_Click();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: update_screenshots APP_FOLDER OUT_FOLDER TAG\n");
        return 2;
    }
    std::string appFolder = QDir(args[1]).absolutePath().toStdString() + "/";
    const QString out = args[2];
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "update_screenshots: cannot create %s\n", qPrintable(out));
        return 1;
    }
    bool ok = true;
    for (const auto& [language, id] :
         {std::pair{QStringLiteral("en"), upd::platform::kLangEnglishUS},
          std::pair{QStringLiteral("zh"), upd::platform::kLangChineseSimplified}}) {
        ok = shootLanguage(appFolder, out, language, id, args[3]) && ok;
        ok = shootInformationPages(appFolder, out, language, id, args[3]) && ok;
    }
    return ok ? 0 : 1;
}
