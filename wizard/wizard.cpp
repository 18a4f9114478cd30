#include "wizard/wizard.h"

#include "app/environment_proxy.h"

#include <algorithm>
#include <cstdio>

#include "app/frm_proxy.h"
#include "app/label_fit.h"
#include "app/message_boxes.h"
#include "app/process_exit.h"
#include "app/string_table.h"
#include "platform/app_folder.h"
#include "wizard/page.h"
#include "wizard/wizard_window.h"

namespace upd::wizard {
namespace {

std::size_t slot(PageId id) {
    return static_cast<std::size_t>(pageNumber(id));
}

}  // namespace

WizardEnvironment WizardEnvironment::fromSystem() {
    return {platform::appFolder(), platform::systemLanguageId(), platform::userLocaleId(),
            platform::executablePath()};
}

Wizard::Wizard(WizardEnvironment environment, app::MessageBoxes& boxes, app::ProcessExit& process)
    : m_environment(std::move(environment)),
      m_boxes(boxes),
      m_process(process),
      m_window(std::make_unique<WizardWindow>(*this)) {}

// The window owns the pages and the dialog; they go with it.
Wizard::~Wizard() = default;

void Wizard::registerPage(PageId id, PageFactory factory) {
    m_factories[slot(id)] = std::move(factory);
}

bool Wizard::isRegistered(PageId id) const {
    return static_cast<bool>(m_factories[slot(id)]);
}

QString Wizard::text(int id) const {
    return QString::fromStdString(app::LoadResString(id, m_environment.userLocale));
}

bool Wizard::confirm(int id) {
    return app::confirm(m_boxes, id, m_environment.userLocale);
}

// ---- Pages ----

bool Wizard::isLoaded(PageId id) const {
    return loadedPage(id) != nullptr;
}

Page* Wizard::loadedPage(PageId id) const {
    return m_pages[slot(id)];
}

Page* Wizard::page(PageId id) {
    if (Page* loaded = loadedPage(id)) {
        return loaded;
    }
    return load(id);
}

Page* Wizard::load(PageId id) {
    const PageFactory& factory = m_factories[slot(id)];
    if (!factory) {
        return nullptr;
    }
    std::unique_ptr<Page> created = factory(*this);
    if (!created) {
        return nullptr;
    }
    // The window, the page's parent, owns it from here on.
    Page* page = created.release();
    m_pages[slot(id)] = page;
    m_windows.push_back({m_nextSerial++, id, false});
    page->Form_Load();
    if (loadedPage(id) == page) {
        // The Alt keys change texts: before the labels fit theirs.
        page->prepareKeyboardAccess();
        app::fitLabelsToText(*page);
    }
    return loadedPage(id);
}

void Wizard::show(PageId id) {
    m_window->showPage(*loadedPage(id));
    m_visible = id;
    if (m_observer != nullptr) {
        m_observer->pageShown(id);
    }
}

void Wizard::showFirstPage(PageId id) {
    if (page(id) == nullptr || m_ended) {
        return;
    }
    show(id);
    m_window->centreOnScreen();
    m_window->show();
    // Once shown, the window's frame is known: centre the frame, not only the page.
    m_window->centreOnScreen();
    activate(id);
}

void Wizard::activate(PageId id) {
    Page* page = loadedPage(id);
    if (page != nullptr && m_visible == id && !m_ended) {
        page->Form_Activate();
    }
}

bool Wizard::navigate(PageId from, PageId to) {
    const Navigation* row = findNavigation(from, to);
    if (row == nullptr || m_ended || m_visible != from) {
        return false;
    }
    if (row->direction == Direction::Forward) {
        // The target's Form_Load runs here, before anything else happens.
        if (page(to) == nullptr) {
            return false;
        }
        if (m_ended || !isLoaded(to)) {
            return true;
        }
    } else if (!isLoaded(to)) {
        return false;
    }
    show(to);
    if (Page* left = loadedPage(from); left != nullptr && from != to) {
        left->hide();
    }
    for (const PageId unloaded : row->unloads) {
        unload(unloaded);
    }
    activate(to);
    return true;
}

void Wizard::unload(PageId id) {
    if (!isLoaded(id) || !queryClose(id, app::CloseTrigger::Other) || m_ended) {
        return;
    }
    destroyPage(id);
}

bool Wizard::queryClose(PageId id, app::CloseTrigger trigger) {
    Page* page = loadedPage(id);
    if (page == nullptr) {
        return true;
    }
    if (OpenWindow* window = windowOfPage(id)) {
        window->closing = true;
    }
    const bool allowed = page->Form_QueryUnload(trigger);
    // The handler may have changed the list of windows; look the page up again.
    if (OpenWindow* window = windowOfPage(id)) {
        window->closing = false;
    }
    return allowed;
}

void Wizard::destroyPage(PageId id) {
    Page* page = loadedPage(id);
    if (page == nullptr) {
        return;
    }
    // The page is still loaded while its Form_Unload runs.
    page->Form_Unload();
    if (loadedPage(id) != page) {
        return;  // Form_Unload unloaded it itself
    }
    m_pages[slot(id)] = nullptr;
    if (OpenWindow* window = windowOfPage(id)) {
        forgetWindow(window->serial);
    }
    if (m_visible == id) {
        m_visible.reset();
    }
    // A control of the page keeping the focus until it is deleted would report the change
    // to the window while the page's other controls are already gone.
    if (QWidget* focused = page->focusWidget(); focused != nullptr && page->isAncestorOf(focused)) {
        focused->clearFocus();
    }
    page->hide();
    // The page may be running one of its own handlers (Back unloads the page it is on):
    // destroy it once that handler has returned.
    page->deleteLater();
    closeFrameWhenEmpty();
}

// ---- Proxy dialog ----

app::frmProxy& Wizard::proxyDialog() {
    if (m_proxy != nullptr) {
        return *m_proxy;
    }
    m_proxy = new app::frmProxy(app::proxyIniPath(m_environment.appFolder),
                                m_environment.userLocale, m_window.get());
    m_proxySerial = m_nextSerial++;
    m_windows.push_back({m_proxySerial, std::nullopt, false});
    QObject::connect(m_proxy, &app::frmProxy::unloaded, m_window.get(),
                     [this] { proxyDialogUnloaded(); });
    m_proxy->Form_Load();
    return *m_proxy;
}

void Wizard::showProxyDialog() {
    if (m_ended) {
        return;
    }
    // The dialog destroys itself after closing; nothing of it is used after exec().
    proxyDialog().exec();
}

app::UpdateLog& Wizard::log() {
    if (!m_log) {
        m_log = app::UpdateLog::open(m_environment.appFolder);
        const app::ProxySettings saved =
            app::readProxySettings(app::proxyIniPath(m_environment.appFolder));
        std::vector<std::string> secrets{saved.password};
        for (const char* url : {"http://h/", "https://h/"}) {
            if (const auto proxy = app::environmentProxy(url, app::processEnvironment)) {
                secrets.push_back(proxy->password);
            }
        }
        m_log->setSecrets(std::move(secrets));
        m_log->event("start", {{"mode", m_observer != nullptr ? "unattended" : "window"},
                               {"version", std::string(product::kProductVersion)}});
    }
    return *m_log;
}

app::ProxyConnection Wizard::proxySettingsInForce(const std::string& url) {
    // A window shows an ignored system setting in the dialog; an unattended run has none.
    return proxyDialog().connectionFor(url, [this](const std::string& line) {
        if (m_observer != nullptr) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
    });
}

void Wizard::proxyDialogUnloaded() {
    if (m_proxy == nullptr) {
        return;
    }
    forgetWindow(m_proxySerial);
    m_proxy->deleteLater();
    m_proxy = nullptr;
    closeFrameWhenEmpty();
}

// ---- Exit ----

app::CloseSubResult Wizard::CloseSub(bool force) {
    return app::CloseSub(*this, force);
}

void Wizard::endProcess() {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_process.endProcess();
}

void Wizard::closeBoxPressed() {
    if (m_ended || !m_visible) {
        return;
    }
    const PageId id = *m_visible;
    if (!queryClose(id, app::CloseTrigger::CloseBox) || m_ended) {
        return;
    }
    destroyPage(id);
}

void Wizard::closeForOtherReason() {
    if (m_ended) {
        return;
    }
    if (CloseSub(false) != app::CloseSubResult::AllClosed) {
        endProcess();
    }
}

void Wizard::closeFrameWhenEmpty() {
    if (m_windows.empty() && !m_ended) {
        m_window->closeByProgram();
    }
}

// ---- The windows, for CloseSub ----

Wizard::OpenWindow* Wizard::findWindow(WindowSerial serial) {
    const auto found = std::find_if(m_windows.begin(), m_windows.end(),
                                    [serial](const OpenWindow& w) { return w.serial == serial; });
    return found == m_windows.end() ? nullptr : &*found;
}

Wizard::OpenWindow* Wizard::windowOfPage(PageId id) {
    const auto found = std::find_if(m_windows.begin(), m_windows.end(),
                                    [id](const OpenWindow& w) { return w.page == id; });
    return found == m_windows.end() ? nullptr : &*found;
}

void Wizard::forgetWindow(WindowSerial serial) {
    std::erase_if(m_windows, [serial](const OpenWindow& w) { return w.serial == serial; });
}

std::vector<Wizard::WindowSerial> Wizard::openWindows() const {
    std::vector<WindowSerial> serials;
    for (const OpenWindow& window : m_windows) {
        if (!window.closing) {
            serials.push_back(window.serial);
        }
    }
    return serials;
}

bool Wizard::isOpen(WindowSerial window) const {
    return std::any_of(m_windows.begin(), m_windows.end(),
                       [window](const OpenWindow& w) { return w.serial == window; });
}

void Wizard::closeWindow(WindowSerial serial) {
    const OpenWindow* window = findWindow(serial);
    if (window == nullptr) {
        return;
    }
    if (window->page) {
        unload(*window->page);
    } else if (m_proxy != nullptr) {
        m_proxy->Cancel_Click();  // closes without saving
    }
}

bool Wizard::anyWindowOpen() const {
    return !m_windows.empty();
}

void Wizard::closeOpenFiles() {
    m_process.closeOpenFiles();
}

}  // namespace upd::wizard
