// Test doubles for the wizard's GUI tests: message boxes that answer from a script, a
// process that counts its ends, stand-ins for pages 2 to 5 that log what the frame does to
// them, a fixture that starts a wizard with them, and one that runs the real pages on the
// engine against scripted servers.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/message_boxes.h"
#include "app/process_exit.h"
#include "app/reactor_driver.h"
#include "app/server_list.h"
#include "app/startup.h"
#include "net/reactor.h"
#include "tests/support/env_guard.h"
#include "tests/support/scripted_server.h"
#include "tests/support/temp_dir.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update2.h"
#include "wizard/page.h"
#include "wizard/wizard.h"

namespace upd::test {

class ScriptedMessageBoxes final : public app::MessageBoxes {
  public:
    struct Shown {
        std::string text;
        app::MessageButtons buttons;
        app::MessageIcon icon;
    };
    // Answers in order; a box beyond them fails the test and answers Cancel.
    std::deque<app::MessageAnswer> answers;
    std::vector<Shown> shown;

    app::MessageAnswer show(std::string_view text, app::MessageButtons buttons,
                            app::MessageIcon icon) override {
        shown.push_back({std::string(text), buttons, icon});
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected message box: " << text;
            return app::MessageAnswer::Cancel;
        }
        const app::MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class RecordingProcessExit final : public app::ProcessExit {
  public:
    int ended = 0;
    void closeOpenFiles() override {}
    void endProcess() override { ++ended; }
};

// What the frame did to the pages, in order: "load 2", "activate 2", "query 2 other", ...
using PageLog = std::vector<std::string>;

// A page with the common layout, Cancel (Finish on page 5) as its Esc button, and the close
// behaviour of its number.
class StandInPage : public wizard::Page {
  public:
    StandInPage(wizard::Wizard& wizard, wizard::PageId id, PageLog& log)
        : Page(wizard, id), m_log(log) {
        QPushButton* cancel = addButton(id == wizard::PageId::Finish ? "Finish" : "Cancel", 5400);
        setEscapeButton(cancel);
        connect(cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
    }

    void Form_Load() override { note("load"); }
    void Form_Activate() override { note("activate"); }
    void Form_Unload() override { note("unload"); }
    bool Form_QueryUnload(app::CloseTrigger trigger) override {
        const bool user = trigger == app::CloseTrigger::CloseBox;
        note("query", user ? " user" : " other");
        return (user || !refusesOther) && Page::Form_QueryUnload(trigger);
    }

    // Refuses the program's close (as a page busy writing a file might): the real pages never
    // do, so only this shows the `force` column of the close table.
    bool refusesOther = false;

  private:
    void note(const char* what, const char* suffix = "") {
        m_log.push_back(what + (" " + std::to_string(wizard::pageNumber(id()))) + suffix);
    }

    PageLog& m_log;
};

// Runs deferred deletions, so that unloaded pages are really gone.
inline void flushDeletions() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// An update.svr line in the code page of its language, as the release tool writes them.
inline std::string serverRecord(std::string_view name, std::string_view address,
                                std::string_view tag, std::string_view info = "info/update.ini") {
    const auto language = platform::languageProfileForTag(tag).value_or(
        platform::languageProfile(platform::kLangEnglishUS));
    return app::encodeServerLine(name, address, info, tag, language.codePage) + "\r\n";
}

// A wizard on a private application folder, in an English locale.
class WizardTest : public ::testing::Test {
  protected:
    ~WizardTest() override { stop(); }

    // Starts (again) with stand-ins for pages 2 to 5.
    void start(platform::LangId systemLanguage = 1033, platform::LangId userLocale = 1033) {
        startIn({m_dir.path(), systemLanguage, userLocale});
    }
    void startIn(wizard::WizardEnvironment environment) {
        stop();
        environment.appFolder = m_dir.path();
        m_wizard = std::make_unique<wizard::Wizard>(environment, m_boxes, m_process);
        app::registerWizardPages(*m_wizard);  // the real pages 0 and 1, stand-ins for 2 to 5
        for (int number = 2; number < wizard::kPageCount; ++number) {
            const wizard::PageId id = *wizard::pageFromNumber(number);
            m_wizard->registerPage(id, [id, this](wizard::Wizard& w) {
                return std::make_unique<StandInPage>(w, id, m_log);
            });
        }
        app::startWizard(*m_wizard);
    }
    void stop() {
        m_wizard.reset();
        flushDeletions();
    }

    // Walks forward by the table to `target`; the log starts afresh there.
    void goTo(wizard::PageId target) {
        using enum wizard::PageId;
        const wizard::PageId path[] = {Welcome, Server, InfoDownload, Analysis,
                                       target == Finish ? Finish : FileDownload};
        for (std::size_t i = 1; i < std::size(path) && m_wizard->visiblePage() != target; ++i) {
            ASSERT_TRUE(m_wizard->navigate(path[i - 1], path[i]));
        }
        ASSERT_EQ(m_wizard->visiblePage(), target);
        m_log.clear();
    }

    std::vector<wizard::PageId> loadedPages() const {
        std::vector<wizard::PageId> loaded;
        for (int number = 0; number < wizard::kPageCount; ++number) {
            if (m_wizard->isLoaded(*wizard::pageFromNumber(number))) {
                loaded.push_back(*wizard::pageFromNumber(number));
            }
        }
        return loaded;
    }

    LocaleGuard m_locale{"en_US.UTF-8"};
    TempDir m_dir;
    ScriptedMessageBoxes m_boxes;
    RecordingProcessExit m_process;
    PageLog m_log;
    std::unique_ptr<wizard::Wizard> m_wizard;
};

// A reply of `body` ending with the connection, with or without its length.
inline Script serving(std::string_view body, std::string_view status = "200 OK",
                      bool withLength = true) {
    return Script()
        .readRequest()
        .send("HTTP/1.0 " + std::string(status) + "\r\n" +
              (withLength ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") +
              "\r\n" + std::string(body))
        .close();
}

// The real pages with the engine in Qt's event loop, on a private application folder.
class EnginePagesTest : public ::testing::Test {
  protected:
    void TearDown() override { wizard->CloseSub(true); }

    // A new program run on the same folder, on page 1; update.svr named update.ini.
    void restart() {
        if (wizard) {
            wizard->CloseSub(true);
        }
        wizard = std::make_unique<wizard::Wizard>(
            wizard::WizardEnvironment{
                .appFolder = dir.path(), .userLocale = userLocale, .vendorHost = vendorHost},
            boxes, process);
        app::registerWizardPages(*wizard);
        app::startWizard(*wizard);
        wizard->state().InfoFile = "update.ini";
        wizard->navigate(wizard::PageId::Welcome, wizard::PageId::Server);
    }

    // Page 1 with `address`, then Next.
    wizard::frmUpdate2* fetchFrom(const std::string& address) {
        using enum wizard::PageId;
        wizard->pageAs<wizard::frmUpdate1>(Server)->Text1->setText(QString::fromStdString(address));
        wizard->navigate(Server, InfoDownload);
        return wizard->pageAs<wizard::frmUpdate2>(InfoDownload);
    }

    const app::ReactorDriver driver{net::mainReactor()};
    const TempDir dir;
    ScriptedMessageBoxes boxes;
    RecordingProcessExit process;
    std::string vendorHost = product::kVendorHost;           // of page 5's advertisement
    platform::LangId userLocale = platform::kLangEnglishUS;  // of the texts
    std::unique_ptr<wizard::Wizard> wizard;
};

}  // namespace upd::test
