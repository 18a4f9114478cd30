// Every real page and the proxy dialog, in English and Chinese, by keyboard and screen reader:
// Enter, Esc, an Alt key of its own for each button and check box, Tab top to bottom with the
// focus shown, a name for every control a user reaches, our controls' rows and value.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QTest>
#include <algorithm>
#include <set>

#include "app/frm_proxy.h"
#include "app/mnemonic.h"
#include "app/string_table.h"
#include "controls/list_control.h"
#include "controls/small_bar.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update2.h"
#include "wizard/frm_update4.h"
#include "wizard/wizard_window.h"

namespace upd::wizard {
namespace {

using enum PageId;
using Pressed = std::vector<const QAbstractButton*>;

TEST(Mnemonic, FollowsTheConventionOfTheLanguage) {
    const struct {
        const char* text;
        char key;
        platform::LangId language;
        const char *marked, *spoken;
    } cases[] = {
        {"Next >", 'N', 1033, "&Next >", "Next >"},
        {"Use remote DNS", 'D', 1033, "Use remote &DNS", "Use remote DNS"},
        {"Password:", 'W', 1033, "Pass&word:", "Password"},
        {"下一步", 'N', 2052, "下一步(&N)", "下一步"},
        {"端口：", 'P', 2052, "端口(&P)：", "端口"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::withMnemonic(c.text, c.key, c.language), c.marked) << c.text;
        EXPECT_EQ(app::spokenText(c.marked), c.spoken) << c.marked;
    }
    EXPECT_EQ(app::chooseMnemonicKey("Choose the server", "BNC"), 'T');
}

// Buttons and check boxes each have a key; no two controls of the window share one.
void expectOwnAltKeys(const QWidget& root) {
    std::set<QString> seen;
    const auto take = [&seen](const QString& text, bool required) {
        const QString key = QKeySequence::mnemonic(text).toString();
        EXPECT_TRUE(!required || !key.isEmpty()) << "no key: " << text.toStdString();
        EXPECT_TRUE(key.isEmpty() || seen.insert(key).second) << "shared: " << text.toStdString();
    };
    for (const QAbstractButton* button : root.findChildren<QAbstractButton*>()) {
        take(button->text(), true);
    }
    for (const QLabel* label : root.findChildren<QLabel*>()) {
        take(label->buddy() != nullptr ? label->text() : QString(), false);
    }
    for (const QGroupBox* frame : root.findChildren<QGroupBox*>()) {
        take(frame->title(), false);
    }
}

// Every control a user reaches (shown, enabled, and focusable or a control by its role) has
// a name; returns how many were checked.
int expectNamed(QAccessibleInterface* node) {
    static const std::set<QAccessible::Role> kControls = {
        QAccessible::PushButton, QAccessible::CheckBox,     QAccessible::RadioButton,
        QAccessible::ComboBox,   QAccessible::EditableText, QAccessible::List,
        QAccessible::ListItem,   QAccessible::Table,        QAccessible::Tree,
        QAccessible::ProgressBar};
    const QAccessible::State state = node->state();
    const auto* widget = qobject_cast<const QWidget*>(node->object());
    if (state.invisible || (widget != nullptr && !widget->isVisible())) {
        return 0;
    }
    int checked = 0;
    if (!state.disabled && (state.focusable || kControls.contains(node->role()))) {
        ++checked;
        EXPECT_FALSE(node->text(QAccessible::Name).trimmed().isEmpty())
            << (widget != nullptr ? widget->objectName().toStdString() : "row") << " "
            << node->role();
    }
    for (int i = 0; i < node->childCount(); ++i) {
        checked += node->child(i) != nullptr ? expectNamed(node->child(i)) : 0;
    }
    return checked;
}

class KeyboardAccess : public test::EnginePagesTest,
                       public ::testing::WithParamInterface<platform::LangId> {
  protected:
    void SetUp() override {
        userLocale = GetParam();
        dir.write("update.svr", test::serverRecord("First", "http://127.0.0.1:1/", "EN") +
                                    test::serverRecord("Second", "http://127.0.0.1:2/", "EN"));
        boxes.answers.push_back(app::MessageAnswer::Ok);  // page 3: no information to read
        restart();
        wizard->window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&wizard->window()));
    }

    // `id` on screen, its buttons enabled and noting their clicks instead of doing their work.
    Page* show(PageId id) {
        if (id == InfoDownload) {
            wizard->pageAs<frmUpdate1>(Server)->Text1->setText("http://127.0.0.1:1/");
            auto* page = wizard->pageAs<frmUpdate2>(InfoDownload);
            EXPECT_TRUE(QTest::qWaitFor([page] { return page->failed(); }, 10'000));
        }
        Page* page = wizard->page(id);
        for (Page* other : wizard->window().findChildren<Page*>(Qt::FindDirectChildrenOnly)) {
            other->setVisible(other == page);
        }
        wizard->window().showPage(*page);
        m_receiver = std::make_unique<QObject>();
        for (QAbstractButton* button : page->findChildren<QAbstractButton*>()) {
            QObject::disconnect(button, &QAbstractButton::clicked, nullptr, nullptr);
            button->setEnabled(true);
            QObject::connect(button, &QAbstractButton::clicked, m_receiver.get(),
                             [this, button] { pressed.push_back(button); });
        }
        return page;
    }

    Pressed pressed;
    std::unique_ptr<QObject> m_receiver;
};

TEST_P(KeyboardAccess, EveryPageWorksFromTheKeyboardAndIsNamed) {
    QWidget& window = wizard->window();
    const QWidget* ring = window.findChild<QWidget*>("FocusRing");
    ASSERT_NE(ring, nullptr);
    const auto above = [&window](const QWidget* a, const QWidget* b) {
        const QPoint pa = a->mapTo(&window, QPoint()), pb = b->mapTo(&window, QPoint());
        return std::pair(pa.y(), pa.x()) < std::pair(pb.y(), pb.x());
    };
    for (int number = 0; number < kPageCount; ++number) {
        SCOPED_TRACE(testing::Message() << "page " << number);
        Page* page = show(*pageFromNumber(number));
        expectOwnAltKeys(*page);
        // Tab: once round the page, top to bottom, each control's focus shown.
        std::vector<QWidget*> reached{window.focusWidget()};
        for (int i = 0; i < 20; ++i) {
            QWidget* focus = reached.back();
            ASSERT_TRUE(page->isAncestorOf(focus));
            const QRect area(focus->mapTo(&window, QPoint(0, 0)), focus->size());
            EXPECT_TRUE(qobject_cast<QAbstractButton*>(focus) != nullptr ||
                        (ring->isVisible() && ring->geometry().contains(area)))
                << focus->objectName().toStdString();
            QTest::keyClick(focus, Qt::Key_Tab);
            if (window.focusWidget() == reached.front()) {
                break;
            }
            reached.push_back(window.focusWidget());
        }
        std::rotate(reached.begin(), std::min_element(reached.begin(), reached.end(), above),
                    reached.end());
        EXPECT_TRUE(std::is_sorted(reached.begin(), reached.end(), above));
        // Enter: a focused push button presses itself, any other control the default button.
        for (QWidget* stop : reached) {
            stop->setFocus(Qt::TabFocusReason);
            pressed.clear();
            QTest::keyClick(stop, Qt::Key_Return);
            const auto* button = qobject_cast<const QPushButton*>(stop);
            EXPECT_EQ(pressed, Pressed{button != nullptr ? button : page->defaultButton()})
                << stop->objectName().toStdString();
        }
        pressed.clear();
        QTest::keyClick(&window, Qt::Key_Escape);
        EXPECT_EQ(pressed, Pressed{page->escapeButton()});
        for (const QAbstractButton* button : page->findChildren<QAbstractButton*>()) {
            const QKeySequence alt = QKeySequence::mnemonic(button->text());
            if (!button->isVisible() || alt.isEmpty()) {
                continue;
            }
            pressed.clear();
            QTest::keyClick(&window, alt[0].key(), alt[0].keyboardModifiers());
            EXPECT_TRUE(QTest::qWaitFor([this] { return !pressed.empty(); }, 1000));
            EXPECT_EQ(pressed, Pressed{button}) << button->text().toStdString();
        }
        EXPECT_GT(expectNamed(QAccessible::queryAccessibleInterface(&window)), 1);
    }

    // Our own controls: the list's rows with their state in words, the bar's percent.
    auto* download = wizard->pageAs<frmUpdate4>(FileDownload);
    ASSERT_EQ(download->trelListViewCtl1->addRow("a.dll", 0, 2), controls::ListError::None);
    ASSERT_EQ(download->trelListViewCtl1->setSubItem(1, 1, "Main"), controls::ListError::None);
    download->SmallBar1->setPercentValue(40);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(download->trelListViewCtl1);
    ASSERT_EQ(list->role(), QAccessible::List);
    ASSERT_EQ(list->childCount(), 1);
    EXPECT_EQ(list->child(0)->role(), QAccessible::ListItem);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name).toStdString(),
              "a.dll, Main, " + app::LoadResString(202, GetParam()));
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(download->SmallBar1);
    EXPECT_EQ(bar->role(), QAccessible::ProgressBar);
    ASSERT_NE(bar->valueInterface(), nullptr);
    EXPECT_EQ(bar->valueInterface()->currentValue().toInt(), 40);

    app::frmProxy& dialog = wizard->proxyDialog();
    dialog.cmbProxyServer->setCurrentIndex(3);  // SOCKS5: every field in use
    dialog.show();
    expectOwnAltKeys(dialog);
    EXPECT_GT(expectNamed(QAccessible::queryAccessibleInterface(&dialog)), 4);
    dialog.Cancel_Click();
}

INSTANTIATE_TEST_SUITE_P(Languages, KeyboardAccess,
                         ::testing::Values(platform::kLangEnglishUS,
                                           platform::kLangChineseSimplified));

}  // namespace
}  // namespace upd::wizard
