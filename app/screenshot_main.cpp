// Saves a picture of every page of the wizard that exists and of the proxy dialog, in
// English and in Simplified Chinese, for people to look at:
//
//     update_screenshots APP_FOLDER OUT_FOLDER TAG
//
// APP_FOLDER holds the update.svr to show; the pictures are OUT_FOLDER/<window>_<en|zh>_TAG.png.
// The scale is Qt's (QT_SCALE_FACTOR); tools/scripts/screenshots.sh runs it at 1 and 2.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <QTreeWidget>
#include <cstdio>

#include "app/frm_proxy.h"
#include "app/message_boxes.h"
#include "app/process_exit.h"
#include "app/startup.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "wizard/frm_update1.h"
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
    bool ok = shootLanguage(appFolder, out, "en", upd::platform::kLangEnglishUS, args[3]);
    ok = shootLanguage(appFolder, out, "zh", upd::platform::kLangChineseSimplified, args[3]) && ok;
    return ok ? 0 : 1;
}
