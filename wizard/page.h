// The base of the six wizard pages: the common layout (header band with its picture and
// title, the etched double lines, the side picture, the button row), the page's texts in
// the user's language, and its close behaviour from the close table.
//
// A page is created and loaded by the Wizard (wizard.h), never directly: the constructor
// builds the page's controls as designed; Form_Load, which the Wizard calls right after,
// gives them their texts and state; then single-line labels grow to fit their texts
// (app/label_fit.h; a page that changes a label's text later calls fitLabelsToText or
// adjustSize itself). Unloading runs Form_Unload and destroys the page; a page used again
// afterwards is a new one.
//
// To add a page: derive from Page, build the controls in the constructor (Frame1 with
// addFrame, buttons with addButton, setEscapeButton for Cancel or Finish), write Form_Load
// ending with callSetFromFont(), move with wizard().navigate(), and register a factory
// with Wizard::registerPage.
//
// Keyboard: Enter presses the default button (Next; Finish on page 5) unless the focused
// control takes Enter itself (a push button presses itself); Esc presses the escape button;
// Tab goes through tabStops(). After Form_Load the Wizard calls prepareKeyboardAccess, which
// gives every button and check box still without one an Alt key; a page that wants other
// keys sets them with textWithMnemonic, and names what no label or text names
// (setAccessibleName).
#pragma once

#include <QPushButton>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "app/close_rules.h"
#include "wizard/navigation.h"

class QGroupBox;
class QLabel;

namespace upd::net {
class DataConnection;
}

namespace upd::wizard {

struct FailureDescription;
class PictureBox;
class Wizard;

class Page : public QWidget {
    Q_OBJECT

  public:
    Page(Wizard& wizard, PageId id);
    ~Page() override;

    PageId id() const { return m_id; }
    Wizard& wizard() const { return m_wizard; }

    // Texts, state, SetFromFont. Runs once, right after the page has been created.
    virtual void Form_Load() = 0;
    // Runs each time the page has become the page on screen (start-up, Next, Back), after
    // the page left behind has been hidden and Back's unloads are done.
    virtual void Form_Activate() {}
    // Runs when the page is unloaded, before it is destroyed: release what the page holds
    // (a download object, ...).
    virtual void Form_Unload() {}

    // Asked before the page closes: CloseTrigger::CloseBox when the user closes the
    // window, CloseTrigger::Other when the program closes it (CloseSub, Back unloading
    // the page, the session ending). False refuses the close. The page's row of the close
    // table, unless a page overrides it.
    virtual bool Form_QueryUnload(app::CloseTrigger trigger);

    // The Cancel button and Esc (Finish on page 5): the close table's first column.
    virtual void Cancel_Click();

    // The button that Esc clicks; nullptr for none.
    QPushButton* escapeButton() const { return m_escapeButton; }
    // The button that Enter clicks when the focused control does not take Enter itself:
    // the design's Next_Button or Finish made by addButton; nullptr for none.
    QPushButton* defaultButton() const { return m_defaultButton; }
    // The control that gets the focus when the page is shown; nullptr for the page itself.
    virtual QWidget* defaultFocus() const { return nullptr; }
    // Where the focus goes when the page is shown: defaultFocus(), else the default button,
    // else the first control in Tab order that is not a button, else the escape button, as
    // far as it is enabled and not hidden; nullptr when none is.
    QWidget* focusOnShow() const;

    // The controls that Tab stops at, from top to bottom, then left to right, by where they
    // are now (a control placed or shown later takes its place); hidden and disabled ones
    // included.
    std::vector<QWidget*> tabStops() const;

    // Runs once the page's texts are set (the Wizard calls it right after Form_Load):
    //   - an Alt key for every button and check box without one, in the convention of the
    //     user's language (app/mnemonic.h): the design's key for the common buttons (&Next,
    //     &Back, &Cancel, &Finish, &Auto, &Retry, Choose the &server), else one of its own
    //     that no other control of the page has;
    //   - Enter on every focused push button (auto-default);
    //   - accessible names from the texts of buttons, check boxes and buddy labels; progress
    //     bars and the advertisement that no label names get their own; the page is named by
    //     its title.
    void prepareKeyboardAccess();

    // The common controls.
    PictureBox* Image1 = nullptr;     // header band picture
    QLabel* Label1 = nullptr;         // page title on the band
    std::array<QWidget*, 4> Line1{};  // the etched lines: grey, white, grey, white
    PictureBox* Picture1 = nullptr;   // side picture

  protected:
    // The text of `id` in the user's language.
    QString text(int id) const;
    // Why a transfer failed, as a page shows it: failureSentence of what failure_text.h
    // chooses for `why` and the ended `connection` (nullptr: `why` alone).
    QString downloadFailureText(std::int32_t why, const net::DataConnection* connection) const;
    // A failure's sentence in the user's language with its numbers filled in, then what it
    // names, then the technical detail in brackets when there is one.
    QString failureSentence(const FailureDescription& shown) const;
    // The title's size in twips (its place, 360, 240, is common).
    void setTitleSize(int widthTwips, int heightTwips);
    // `Frame1` at 2040, 960, 4935 wide, with the height the page gives.
    QGroupBox* addFrame(int heightTwips);
    // A button of the row at y 5280, 1215 x 315. "Next_Button" and "Finish" become the
    // default button.
    QPushButton* addButton(const char* name, int leftTwips);
    // The text of `id` with `key` as its Alt key, unless it has one (app/mnemonic.h).
    QString textWithMnemonic(int id, char key) const;
    // A label at a place in twips, top-left aligned, on `parent` (the page or a frame).
    QLabel* addLabel(QWidget* parent, const char* name, int left, int top, int width, int height);
    void setEscapeButton(QPushButton* button) { m_escapeButton = button; }
    // SetFromFont for this page in the user's locale; the last step of Form_Load.
    void callSetFromFont();
    // Applies the page's row of the close table for `trigger`; false when the answer to
    // the question was Cancel (the close is refused).
    bool applyCloseRule(app::CloseTrigger trigger);

  private:
    Wizard& m_wizard;
    PageId m_id;
    QPushButton* m_escapeButton = nullptr;
    QPushButton* m_defaultButton = nullptr;
};

// The close table's name for a page.
app::ProgramWindow programWindowOf(PageId page);

}  // namespace upd::wizard
