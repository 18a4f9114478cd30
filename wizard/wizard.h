// The wizard: its one window, the pages it shows one at a time, the proxy dialog, the
// values the pages share, and the exit routine over all of them.
//
// The frame is a single top-level window (WizardWindow) that shows one page at a time, so
// "the next page appears where the previous one was" holds by construction, also where a
// program cannot place its windows itself. Pages are still created (Form_Load) and
// destroyed exactly when the navigation table loads and unloads them, each keeps its own
// close behaviour, and the exit routine walks the pages and the proxy dialog newest first.
//
// What later pages use:
//   - Wizard::page(id) / pageAs<T>(id): the page, loaded invisibly when it is not loaded
//     (its Form_Load runs), as reading a control of an unloaded page does;
//   - navigate(from, to): Next and Back by the navigation table (navigation.h);
//   - state(): LangID, InfoFile, StartPending;
//   - proxySettingsInForce(url): the proxy settings for a new download object;
//   - confirm(id), messageBoxes(): questions and messages with the program's title;
//   - CloseSub(force), endProcess(): the exit routine.
#pragma once

#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/close_rules.h"
#include "app/close_sub.h"
#include "app/proxy_settings.h"
#include "app/update_log.h"
#include "platform/language.h"
#include "product_config.h"
#include "wizard/navigation.h"
#include "wizard/shared_state.h"
#include "wizard/wizard_observer.h"

namespace upd::app {
class MessageBoxes;
class ProcessExit;
class frmProxy;
}  // namespace upd::app

namespace upd::wizard {

class Page;
class WizardWindow;

// What start-up reads from the system once; tests give their own values.
struct WizardEnvironment {
    std::string appFolder{};  // with a trailing '/': update.svr, proxy.ini, update.ini
    platform::LangId systemLanguage = platform::kLangEnglishUS;  // server list, LangID
    platform::LangId userLocale = platform::kLangEnglishUS;      // texts, SetFromFont
    std::string selfPath{};  // the running updater, whose ProductVersion the plan compares
    // The maker's web host: its home page (page 4) and advertisement (page 5).
    std::string vendorHost = product::kVendorHost;

    // The running program's folder and the POSIX locale.
    static WizardEnvironment fromSystem();
};

class Wizard final : private app::ExitHost {
  public:
    // Creates a new, not yet loaded page.
    using PageFactory = std::function<std::unique_ptr<Page>(Wizard&)>;

    // The message boxes and the process are not owned and must outlive the wizard.
    Wizard(WizardEnvironment environment, app::MessageBoxes& boxes, app::ProcessExit& process);
    ~Wizard() override;
    Wizard(const Wizard&) = delete;
    Wizard& operator=(const Wizard&) = delete;

    // Makes a page available. Pages that are not registered cannot be loaded: navigating
    // to one does nothing.
    void registerPage(PageId id, PageFactory factory);
    bool isRegistered(PageId id) const;

    const WizardEnvironment& environment() const { return m_environment; }
    SharedState& state() { return m_state; }
    const SharedState& state() const { return m_state; }
    WizardWindow& window() { return *m_window; }
    app::MessageBoxes& messageBoxes() { return m_boxes; }
    // The unattended run's listener; nullptr (the default) for the window. Not owned.
    void setObserver(WizardObserver* observer) { m_observer = observer; }
    WizardObserver* observer() const { return m_observer; }

    // The text of `id` in the user's language.
    QString text(int id) const;
    // Asks string `id` with OK and Cancel and the question icon; true for OK.
    bool confirm(int id);

    // ---- Pages ----
    bool isLoaded(PageId id) const;
    // The page, loaded invisibly first when it is not loaded. nullptr only for a page that
    // is not registered.
    Page* page(PageId id);
    template <class P>
    P* pageAs(PageId id) {
        return static_cast<P*>(page(id));
    }
    // The page on screen; nothing before start-up shows the first page.
    std::optional<PageId> visiblePage() const { return m_visible; }
    // Start-up: loads the page and shows it, the window centred on the screen.
    void showFirstPage(PageId id);
    // Next or Back by the navigation table. False, changing nothing, when the table has no
    // such move, `from` is not the page on screen, or the target cannot be loaded.
    bool navigate(PageId from, PageId to);
    // Closes a page for a reason other than the user's (its close handler runs and may
    // refuse), then unloads it: Form_Unload, then the page is destroyed. Nothing when the
    // page is not loaded.
    void unload(PageId id);

    // ---- Proxy dialog ----
    bool isProxyDialogLoaded() const { return m_proxy != nullptr; }
    // The dialog, loaded hidden (reading proxy.ini) when it is not loaded. It stays loaded
    // until it unloads itself or the program ends.
    app::frmProxy& proxyDialog();
    // Shows the dialog modally over the wizard; returns when it has been closed.
    void showProxyDialog();
    // The settings for a new download object that fetches `url`: those of the loaded
    // dialog, or of proxy.ini through a dialog loaded hidden, so always the ones last saved
    // with OK. Without a proxy.ini, the system's proxy for `url` (app/environment_proxy.h);
    // an unattended run says once on stderr why a system setting is ignored.
    app::ProxyConnection proxySettingsInForce(const std::string& url);

    // ---- Exit ----
    // The exit routine over the wizard's windows (app/close_sub.h).
    app::CloseSubResult CloseSub(bool force);
    // Ends the process at once (only test doubles of ProcessExit return).
    void endProcess() override;
    bool processEnded() const override { return m_ended; }
    // The window's close box: the visible page's close handler, which may refuse.
    void closeBoxPressed();
    // The program is being closed from outside (a signal, the session ending): every
    // window closes for a reason other than the user's, without a question.
    void closeForOtherReason();

    // The support desk's log of this application folder (update_log.h), opened on first use:
    // by page 2, so a run that never reached it leaves no line. Addresses go in through
    // app::redactedUrl; the proxy's password is never written.
    app::UpdateLog& log();

  private:
    struct OpenWindow {
        WindowSerial serial = 0;
        std::optional<PageId> page;  // nothing: the proxy dialog
        bool closing = false;        // its close handler is running
    };

    Page* loadedPage(PageId id) const;
    Page* load(PageId id);
    void show(PageId id);
    void activate(PageId id);
    // Runs the page's close handler; true when the page may close.
    bool queryClose(PageId id, app::CloseTrigger trigger);
    void destroyPage(PageId id);
    void proxyDialogUnloaded();
    OpenWindow* findWindow(WindowSerial serial);
    OpenWindow* windowOfPage(PageId id);
    void forgetWindow(WindowSerial serial);
    void closeFrameWhenEmpty();

    // ExitHost
    std::vector<WindowSerial> openWindows() const override;
    bool isOpen(WindowSerial window) const override;
    void closeWindow(WindowSerial window) override;
    bool anyWindowOpen() const override;
    void closeOpenFiles() override;

    WizardEnvironment m_environment;
    app::MessageBoxes& m_boxes;
    app::ProcessExit& m_process;
    SharedState m_state;
    std::unique_ptr<WizardWindow> m_window;
    std::array<PageFactory, kPageCount> m_factories;
    std::array<Page*, kPageCount> m_pages{};
    app::frmProxy* m_proxy = nullptr;
    WindowSerial m_proxySerial = 0;
    std::vector<OpenWindow> m_windows;  // creation order
    WindowSerial m_nextSerial = 1;
    std::optional<PageId> m_visible;
    bool m_ended = false;
    WizardObserver* m_observer = nullptr;
    std::optional<app::UpdateLog> m_log;
};

}  // namespace upd::wizard
