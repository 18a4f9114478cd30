#include "wizard/frm_update5.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringConverter>
#include <QTimer>
#include <cstring>

#include "app/message_boxes.h"
#include "app/twips.h"
#include "controls/list_control.h"
#include "net/data_connection.h"
#include "platform/code_page.h"
#include "wizard/finish_summary.h"
#include "wizard/frm_update3.h"
#include "wizard/frm_update4.h"
#include "wizard/wizard.h"

namespace upd::wizard {
namespace {

constexpr int kCantMove = 142;
constexpr int kCloseDocuments = 143;
constexpr int kNotInstalled = 164;
constexpr int kUpdaterNotStarted = 165;
constexpr int kPackageNotOpened = 166;
// The page is a small advertisement: anything larger is not one, and is not shown.
constexpr std::int64_t kMaxAdvertisementBytes = 1 << 20;

FinishOutcome outcomeOf(const FinishResult& result) {
    if (!result) {
        return FinishOutcome::Failed;
    }
    switch (result.kind) {
        case FinishKind::Nothing:
            return FinishOutcome::AlreadyCurrent;
        case FinishKind::Files:
            return FinishOutcome::Installed;
        case FinishKind::Updater:
            return FinishOutcome::UpdaterStarted;
        case FinishKind::FullPackage:
            return FinishOutcome::PackageOpened;
    }
    return FinishOutcome::Failed;
}

}  // namespace

frmUpdate5::frmUpdate5(Wizard& wizard) : Page(wizard, PageId::Finish) {
    setTitleSize(3645, 240);
    Label2 = addLabel(this, "Label2", 2160, 960, 4230, 540);
    Label2->setWordWrap(true);
    WebBrowser1 = new AdvertisementView(this);
    WebBrowser1->setObjectName("WebBrowser1");
    WebBrowser1->setGeometry(app::twipsRect(2160, 1560, 4695, 3015));
    Finish = addButton("Finish", 5280);
    setEscapeButton(Finish);
    List1 = new QListWidget(this);
    List1->setObjectName("List1");
    List1->setVisible(false);
    Summary = new QPlainTextEdit(this);
    Summary->setObjectName("Summary");
    Summary->setGeometry(WebBrowser1->geometry());
    Summary->setReadOnly(true);
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Summary->setVisible(false);
    connect(Finish, &QPushButton::clicked, this, [this] { Cancel_Click(); });
}

frmUpdate5::~frmUpdate5() = default;

void frmUpdate5::Form_Load() {
    setWindowTitle(text(100));
    Label1->setText(text(140));
    Label2->setText(text(141));
    Finish->setText(text(139));
    Summary->setAccessibleName(text(kSummaryAccessibleName));
    callSetFromFont();
}

void frmUpdate5::Form_Unload() {
    m_advertisement.reset();
}

std::string frmUpdate5::advertisementUrl(const std::string& vendorHost, platform::LangId language) {
    return "http://" + vendorHost +
           std::string(platform::languageProfile(language).advertisementPage);
}

void frmUpdate5::Form_Activate() {
    // Installing twice would find the update folder empty and report a failure.
    if (m_result) {
        return;
    }
    // An unattended run has no one to show it to, and ends right after.
    if (wizard().observer() == nullptr) {
        showAdvertisement();
    } else {
        m_advertisementState = AdvertisementState::Blank;
    }
    finishUpdate();
}

void frmUpdate5::showAdvertisement() {
    const app::ProxyConnection proxy = wizard().proxySettingsInForce(
        advertisementUrl(wizard().environment().vendorHost, wizard().state().LangID));
    net::DataConnectionEvents events;
    // The engine's cap ends a longer reply quietly, as if it were whole: one byte more than
    // the limit tells a cut page from a whole one, and that byte ends the transfer at once,
    // however slowly the rest would come.
    events.BytesReceived = [this](std::int64_t received, std::int32_t) {
        if (m_advertisement && received > kMaxAdvertisementBytes) {
            m_advertisement->Disconnect();
        }
    };
    events.Disconnected = [this](std::int32_t) {
        if (!m_advertisement || m_advertisement->HTTPReply() != 200 ||
            m_advertisement->GetBufferSize() > kMaxAdvertisementBytes) {
            advertisementBlank();
            return;
        }
        const std::string bytes = m_advertisement->GetBufferAsString();
        // A page that says UTF-8 (or has its byte-order mark) is read so, any other in the
        // system's code page, as the browser of the system would.
        const auto declared = QStringConverter::encodingForHtml(
            QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        const QString html =
            declared && *declared == QStringConverter::Utf8
                ? QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()))
                : QString::fromStdString(platform::fromAnsi(bytes, platform::systemCodePage()));
        WebBrowser1->setHtml(html);
        if (WebBrowser1->showsNothing()) {
            advertisementBlank();
            return;
        }
        m_advertisementState = AdvertisementState::Shown;
    };
    // No connection, a reset, or the cap above. A failure while the connection stays open (an
    // unwanted status) is not the end: the close that follows is.
    events.DownloadFailed = [this](std::int32_t, std::int32_t) {
        if (!m_advertisement || !m_advertisement->IsConnected()) {
            advertisementBlank();
        }
    };
    m_advertisement = std::make_unique<net::DataConnection>(events);
    net::DataConnection& page = *m_advertisement;
    page.setDownloadType(1);
    app::applyProxy(proxy, page);
    page.setAutoRedirect(true);
    page.setMaxDownload(kMaxAdvertisementBytes + 1);
    page.FetchURLString(
        advertisementUrl(wizard().environment().vendorHost, wizard().state().LangID));
    // The engine waits on a silent server without end; the user should not.
    QTimer::singleShot(kAdvertisementWaitMs, this, [this] {
        if (m_advertisementState == AdvertisementState::Loading) {
            m_advertisement.reset();
            advertisementBlank();
        }
    });
}

void frmUpdate5::advertisementBlank() {
    if (m_advertisementState != AdvertisementState::Loading) {
        return;
    }
    m_advertisementState = AdvertisementState::Blank;
    showSummary();
}

void frmUpdate5::showSummary() {
    if (m_advertisementState != AdvertisementState::Blank || !m_result) {
        return;
    }
    std::vector<std::string> names;
    for (int i = 0; i < List1->count(); ++i) {
        names.push_back(List1->item(i)->text().toStdString());
    }
    const std::optional<FinishSummary> summary = finishSummary(*m_result, names);
    if (!summary) {
        return;
    }
    QString shown = text(summary->textId);
    for (const std::string& name : summary->names) {
        shown += QLatin1Char('\n') + QString::fromStdString(name);
    }
    Summary->setPlainText(shown);
    WebBrowser1->setVisible(false);
    Summary->setVisible(true);
}

void frmUpdate5::finishUpdate() {
    auto* download = wizard().pageAs<frmUpdate4>(PageId::FileDownload);
    const controls::ListModel& sources = wizard().pageAs<frmUpdate3>(PageId::Analysis)->PlanList();
    std::vector<FinishRow> rows;
    for (int row = 1; row <= sources.rowCount(); ++row) {
        rows.push_back(
            {sources.row(row).text, download->trelListViewCtl1->rowText(row).toStdString()});
    }
    m_result = wizard::finishUpdate(wizard().environment().appFolder, rows);
    if (!*m_result) {
        reportFailure(*m_result);
    }
    wizard().log().event("install", {{"outcome", *m_result ? "done" : "failed"},
                                     {"files", static_cast<std::int64_t>(rows.size())}});
    // Before the observer hears of the end: an unattended run takes its picture then.
    showSummary();
    if (WizardObserver* observer = wizard().observer()) {
        observer->finished(outcomeOf(*m_result));
    }
    if (*m_result &&
        (m_result->kind == FinishKind::Updater || m_result->kind == FinishKind::FullPackage)) {
        wizard().CloseSub(false);
    }
}

void frmUpdate5::reportFailure(const FinishResult& result) {
    QString message;
    if (result.failure) {
        const InstallFailure& failure = *result.failure;
        const QString detail =
            failure.inUseOrDenied
                ? text(kCantMove) + QString::fromStdString(failure.entry) + text(kCloseDocuments)
                : QString::fromStdString(failure.entry.empty()
                                             ? failure.systemText
                                             : failure.entry + ": " + failure.systemText);
        message = text(kNotInstalled) + QLatin1Char('\n') + detail;
    } else {
        const bool updater = result.kind == FinishKind::Updater;
        message = text(updater ? kUpdaterNotStarted : kPackageNotOpened) + QLatin1Char('\n') +
                  (updater ? QStringLiteral("reupdate.exe") : QStringLiteral("update/Setup.zip")) +
                  QStringLiteral(": ") + QString::fromUtf8(std::strerror(result.startError));
    }
    Label2->setText(message);
    wizard().messageBoxes().show(message.toStdString(), app::MessageButtons::Ok,
                                 app::MessageIcon::Critical);
}

}  // namespace upd::wizard
