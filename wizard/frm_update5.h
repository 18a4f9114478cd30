// Wizard page 5, `frmUpdate5`: the end of the update. On its first activation it shows the
// maker's advertisement page (fetched by the download engine with the user's proxy
// settings; its text only, see advertisement_view.h; a page over 1 MiB is not shown) and
// finishes the update (finish_update.h): installs the downloaded files, or installs and
// starts the new updater, or opens the full package; the last two end the program. A
// failure is told in a message box and on the page, and changes nothing. Finish ends the
// program.
//
// When the advertisement area stays blank (an unattended run fetches none; the page failed,
// was too large, showed nothing or had not come after kAdvertisementWaitMs), Summary takes
// its place and says what the update did (finish_summary.h).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/language.h"
#include "wizard/advertisement_view.h"
#include "wizard/finish_update.h"
#include "wizard/page.h"

class QLabel;
class QListWidget;
class QPlainTextEdit;

namespace upd::net {
class DataConnection;
}

namespace upd::wizard {

class frmUpdate5 : public Page {
    Q_OBJECT

  public:
    // An advertisement still loading after this long is given up for the summary.
    static constexpr int kAdvertisementWaitMs = 20'000;

    explicit frmUpdate5(Wizard& wizard);
    ~frmUpdate5() override;

    void Form_Load() override;
    void Form_Activate() override;
    void Form_Unload() override;

    // The advertisement's address for a language: the profile's page ("/ad.asp" for 2052, else
    // "/adeng.asp") on the vendor's host.
    static std::string advertisementUrl(const std::string& vendorHost, platform::LangId language);
    // How the installation ended; nullopt before the first activation.
    const std::optional<FinishResult>& result() const { return m_result; }

    QLabel* Label2 = nullptr;
    AdvertisementView* WebBrowser1 = nullptr;  // the advertisement area; loads nothing it names
    QPushButton* Finish = nullptr;
    QListWidget* List1 = nullptr;  // hidden: the files downloaded, in completion order
    // Read-only, in WebBrowser1's place; hidden until the advertisement area is left blank.
    QPlainTextEdit* Summary = nullptr;

  private:
    enum class AdvertisementState { Loading, Shown, Blank };

    void showAdvertisement();
    // The advertisement has ended without anything to show: the summary may take its place.
    void advertisementBlank();
    // Draws the summary once the area is blank and the update has ended, whichever is last.
    void showSummary();
    void finishUpdate();
    // Tells the user why the installation or the start failed.
    void reportFailure(const FinishResult& result);

    std::unique_ptr<net::DataConnection> m_advertisement;
    std::optional<FinishResult> m_result;
    AdvertisementState m_advertisementState = AdvertisementState::Loading;
};

}  // namespace upd::wizard
