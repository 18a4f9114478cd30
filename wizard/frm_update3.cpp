#include "wizard/frm_update3.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <unistd.h>

#include <cstdint>
#include <ctime>

#include "app/message_boxes.h"
#include "app/twips.h"
#include "controls/image_list.h"
#include "controls/list_control.h"
#include "platform/printable_text.h"
#include "wizard/download_plan.h"
#include "wizard/file_version.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update4.h"
#include "wizard/page_text_ids.h"
#include "wizard/wizard.h"

namespace upd::wizard {
namespace {

constexpr int kCannotAnalyse = 119;
constexpr int kNotSigned = 167;
constexpr int kBadSignature = 168;
constexpr int kMissingDigests = 172;
constexpr int kBadStamp = 206;
constexpr int kExpired = 207;
constexpr int kOlderSerial = 208;
constexpr int kSerialFileUnusable = 209;
constexpr int kSerialNotRecorded = 210;
constexpr int kStateWaiting = 200;
constexpr int kStateDownloading = 201;
constexpr int kStateDownloaded = 202;
constexpr int kStateFailed = 203;

}  // namespace

frmUpdate3::frmUpdate3(Wizard& wizard) : Page(wizard, PageId::Analysis) {
    setTitleSize(3645, 240);
    Frame1 = addFrame(3015);
    Text1 = new QPlainTextEdit(Frame1);
    Text1->setObjectName("Text1");
    Text1->setGeometry(app::twipsRect(240, 240, 4455, 2535));
    Text1->setReadOnly(true);
    // A cursor the arrow keys move: the text can be read and copied from the keyboard.
    Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Check1 = new QCheckBox(this);
    Check1->setObjectName("Check1");
    Check1->setGeometry(app::twipsRect(2280, 4200, 4455, 255));
    Check1->setChecked(true);
    Label3 = addLabel(this, "Label3", 2280, 4680, 3150, 180);

    Back_Button = addButton("Back_Button", 2640);
    Next_Button = addButton("Next_Button", 3960);
    Cancel = addButton("Cancel", 5400);
    setEscapeButton(Cancel);

    connect(Back_Button, &QPushButton::clicked, this, [this] { Back_Button_Click(); });
    connect(Next_Button, &QPushButton::clicked, this, [this] { Next_Button_Click(); });
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
}

std::string frmUpdate3::iniPath() const {
    return wizard().environment().appFolder + "update.ini";
}

void frmUpdate3::Form_Load() {
    (void)m_planList.addColumn("FileName", "FileName", 2760);
    (void)m_planList.addColumn("Descript", "Descript", 1650);

    // Page 4 stays loaded when Back unloads this page, so a second arrival finds its
    // columns already there: they are added only when missing.
    auto* download = wizard().pageAs<frmUpdate4>(PageId::FileDownload);
    download->trelListViewCtl1->setImageList(download->trelImageList1);
    if (download->trelListViewCtl1->columnCount() == 0) {
        (void)download->trelListViewCtl1->addColumn(text(120), text(120), 2760);
        (void)download->trelListViewCtl1->addColumn(text(121), text(121), 1650);
    }
    // Page 4's state images in words, for screen readers: waiting, downloading, downloaded,
    // failed.
    download->trelListViewCtl1->setStateNames(
        {text(kStateWaiting), text(kStateDownloading), text(kStateDownloaded), text(kStateFailed)});

    setWindowTitle(text(100));
    Next_Button->setText(text(106));
    Cancel->setText(text(107));
    Back_Button->setText(text(113));
    Label1->setText(text(118));
    // Alt+W goes to the What's-new text, the frame's first control.
    Frame1->setTitle(textWithMnemonic(118, 'W'));
    Text1->setAccessibleName(text(118));
    Check1->setText(textWithMnemonic(122, 'V'));
    Label3->setText(text(123));

    const WizardEnvironment& environment = wizard().environment();
    const SharedState& state = wizard().state();
    // Read once: the bytes checked against the signature are the bytes analysed and planned.
    // Under a key it must also be no older than what this folder accepted before; that it
    // was accepted is recorded once it has been analysed, before anything is downloaded.
    const std::string serialFile = environment.appFolder + std::string(kSerialFileName);
    ReleaseHistory history;
    history.now = static_cast<std::int64_t>(std::time(nullptr));
    if (!state.InfoKey.empty()) {
        history.accepted = readSerialFile(serialFile);
    }
    LoadedInformation loaded =
        loadUpdateInformation(iniPath(), state.InfoKey, state.InfoSignature, history);
    LoadedInformation record;
    record.serial = loaded.serial;
    if (!loaded) {
        refuse(loaded);
        Next_Button->setEnabled(false);
        callSetFromFont();
        return;
    }
    m_info = analyseUpdateInformation(std::move(loaded.document), std::move(loaded.ini),
                                      environment.appFolder, state.LangID, environment.userLocale);
    Text1->setPlainText(QString::fromStdString(m_info.text));
    if (!m_info) {
        // Nothing is done with information that cannot be used: it does not stay either.
        ::unlink(iniPath().c_str());
        wizard().messageBoxes().show(m_info.text, app::MessageButtons::Ok,
                                     app::MessageIcon::Critical);
        Next_Button->setEnabled(false);
        return;
    }
    if (!state.CheckOnly) {
        recordAcceptedSerial(record, serialFile);
    }
    if (!record) {
        refuse(record);
        Next_Button->setEnabled(false);
    }
    callSetFromFont();
}

void frmUpdate3::refuse(const LoadedInformation& loaded) {
    int id = kCannotAnalyse;
    switch (loaded.refusal) {
        case InformationRefusal::NotSigned:
            id = kNotSigned;
            break;
        case InformationRefusal::BadSignature:
            id = kBadSignature;
            break;
        case InformationRefusal::MissingDigests:
            id = kMissingDigests;
            break;
        case InformationRefusal::TooLarge:
            id = kTooLargeText;
            break;
        case InformationRefusal::BadStamp:
            id = kBadStamp;
            break;
        case InformationRefusal::Expired:
            id = kExpired;
            break;
        case InformationRefusal::OlderSerial:
            id = kOlderSerial;
            break;
        case InformationRefusal::SerialFileUnusable:
            id = kSerialFileUnusable;
            break;
        case InformationRefusal::SerialNotRecorded:
            id = kSerialNotRecorded;
            break;
        case InformationRefusal::Unreadable:
        case InformationRefusal::None:
            break;
    }
    // Information nobody vouches for is not kept.
    ::unlink(iniPath().c_str());
    QString sentence = text(id);
    if (id == kExpired && loaded.expires) {
        sentence = sentence.arg(QString::fromStdString(expiresText(*loaded.expires)));
    }
    const QString message = sentence + QStringLiteral("\n(") +
                            QString::fromStdString(platform::printableText(loaded.reason)) +
                            QStringLiteral(")");
    Text1->setPlainText(message);
    wizard().messageBoxes().show(message.toStdString(), app::MessageButtons::Ok,
                                 app::MessageIcon::Critical);
}

DownloadPlan frmUpdate3::makePlan() {
    const WizardEnvironment& environment = wizard().environment();
    PlanRequest request;
    request.appFolder = environment.appFolder;
    request.selfVersionKey = GetFileVersionText(environment.selfPath, "ProductVersion");
    request.serverAddress = wizard().pageAs<frmUpdate1>(PageId::Server)->chosenAddress();
    request.textLanguage = environment.userLocale;
    request.confirmFullPackage = [this](const std::string& question) {
        return wizard().messageBoxes().show(question, app::MessageButtons::YesNo,
                                            app::MessageIcon::Question) == app::MessageAnswer::Yes;
    };
    return makeDownloadPlan(m_info, request);
}

void frmUpdate3::Next_Button_Click() {
    // Each press starts from empty plan lists, so a press after a failure plans afresh.
    auto* download = wizard().pageAs<frmUpdate4>(PageId::FileDownload);
    m_planList.clear();
    m_planDigests.clear();
    download->trelListViewCtl1->clear();
    const DownloadPlan plan = makePlan();
    if (!plan) {
        wizard().messageBoxes().show(*plan.failure, app::MessageButtons::Ok,
                                     app::MessageIcon::None);
        return;
    }
    if (plan.next == PlanNext::Stay) {
        return;
    }
    for (const PlanRow& row : plan.rows) {
        controls::ListError error = m_planList.addRow(row.source);
        if (error == controls::ListError::None) {
            error = download->trelListViewCtl1->addRow(QString::fromStdString(row.target),
                                                       row.image, row.image);
        }
        if (error != controls::ListError::None) {
            m_planList.clear();
            m_planDigests.clear();
            download->trelListViewCtl1->clear();
            wizard().messageBoxes().show(
                std::string(controls::listErrorText(error)) + ": " + row.source,
                app::MessageButtons::Ok, app::MessageIcon::None);
            return;
        }
        (void)m_planList.setSubItem(m_planList.rowCount(), 1, row.description);
        m_planDigests.push_back(row.sha256);
        (void)download->trelListViewCtl1->setSubItem(download->trelListViewCtl1->rowCount(), 1,
                                                     QString::fromStdString(row.description));
    }
    download->setPlanRows(plan.rows);
    if (plan.next == PlanNext::Download) {
        wizard().navigate(PageId::Analysis, PageId::FileDownload);
        wizard().state().StartPending = true;
    } else {
        wizard().navigate(PageId::Analysis, PageId::Finish);
    }
    ::unlink(iniPath().c_str());
}

void frmUpdate3::Back_Button_Click() {
    wizard().navigate(PageId::Analysis, PageId::Server);
}

}  // namespace upd::wizard
