// Test doubles for the wizard's GUI tests: message boxes that answer from a script, a
// process that records that it would have ended, and plain pages standing in for pages
// 2 to 5, which log what the frame does to them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/message_boxes.h"
#include "app/process_exit.h"
#include "app/startup.h"
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

    // Answers given in order; a box beyond the script is a test failure and answers Cancel.
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
    int filesClosed = 0;
    int ended = 0;

    void closeOpenFiles() override { ++filesClosed; }
    void endProcess() override { ++ended; }
};

// What the frame did to the pages, in order: "load 2", "activate 2", "query 2 other",
// "unload 2", ...
using PageLog = std::vector<std::string>;

// A page with the common layout, Back, Next and Cancel (Finish on page 5), and the close
// behaviour of its number from the close table.
class StandInPage : public wizard::Page {
  public:
    StandInPage(wizard::Wizard& wizard, wizard::PageId id, PageLog& log)
        : Page(wizard, id), m_log(log) {
        const bool finish = id == wizard::PageId::Finish;
        Back_Button = addButton("Back_Button", 2640);
        Next_Button = addButton("Next_Button", 3960);
        Cancel = addButton(finish ? "Finish" : "Cancel", finish ? 5280 : 5400);
        setEscapeButton(Cancel);
        connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
    }

    void Form_Load() override {
        setWindowTitle(text(100));
        Label1->setText(QStringLiteral("page %1").arg(wizard::pageNumber(id())));
        m_log.push_back("load " + std::to_string(wizard::pageNumber(id())));
        callSetFromFont();
    }
    void Form_Activate() override {
        m_log.push_back("activate " + std::to_string(wizard::pageNumber(id())));
    }
    void Form_Unload() override {
        m_log.push_back("unload " + std::to_string(wizard::pageNumber(id())));
    }
    bool Form_QueryUnload(app::CloseTrigger trigger) override {
        m_log.push_back("query " + std::to_string(wizard::pageNumber(id())) +
                        (trigger == app::CloseTrigger::CloseBox ? " user" : " other"));
        return Page::Form_QueryUnload(trigger);
    }

    QPushButton* Back_Button = nullptr;
    QPushButton* Next_Button = nullptr;
    QPushButton* Cancel = nullptr;

  private:
    PageLog& m_log;
};

// Registers the real pages 0 and 1 and stand-in pages 2 to 5.
inline void registerPagesWithStandIns(wizard::Wizard& wizard, PageLog& log) {
    app::registerWizardPages(wizard);
    for (int number = 2; number < wizard::kPageCount; ++number) {
        const wizard::PageId id = *wizard::pageFromNumber(number);
        wizard.registerPage(id, [id, &log](wizard::Wizard& w) {
            return std::make_unique<StandInPage>(w, id, log);
        });
    }
}

// Runs deferred deletions, so that unloaded pages are really gone.
inline void flushDeletions() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace upd::test
