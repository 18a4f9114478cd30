#include "controls/list_control.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/image_list.h"

namespace upd::controls {
namespace {

QIcon solid(QColor colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

// The pixel at logical position x, y of the first column's decoration of a row, as drawn at
// the view's icon size, whatever the screen's scale.
QRgb iconPixel(const ListControl& list, int row, int x, int y) {
    const QTreeWidget* view = list.view();
    const qreal ratio = view->devicePixelRatioF();
    const QImage image =
        view->topLevelItem(row - 1)->icon(0).pixmap(view->iconSize(), ratio).toImage();
    return image.pixel(qRound(x * ratio), qRound(y * ratio));
}

class ListControlTest : public testing::Test {
  protected:
    void SetUp() override {
        list.resize(400, 200);
        ASSERT_EQ(list.addColumn("FileName", "File name", 2760), ListError::None);
        ASSERT_EQ(list.addColumn("Descript", "Description", 1650), ListError::None);
    }

    void addRows(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            ASSERT_EQ(list.addRow(QString::fromUtf8(name)), ListError::None);
        }
    }

    void show() {
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    }

    ListControl list;
};

// Widths are in twips, 15 to a pixel. A sub-item set before its column exists appears with
// the column; what the model refuses never reaches the screen.
TEST_F(ListControlTest, TheViewShowsTheModel) {
    const QTreeWidget* view = list.view();
    EXPECT_EQ(view->columnWidth(0), 184);  // 2760 twips
    EXPECT_EQ(view->columnWidth(1), 110);  // 1650 twips, rounded
    EXPECT_EQ(view->headerItem()->text(1), "Description");

    addRows({"Main.exe", "主程序.dll"});
    ASSERT_EQ(list.setSubItem(2, 1, QString::fromUtf8("程序库")), ListError::None);
    ASSERT_EQ(list.setSubItem(1, 2, "later"), ListError::None);
    EXPECT_EQ(view->topLevelItem(1)->text(0), QString::fromUtf8("主程序.dll"));
    EXPECT_EQ(view->topLevelItem(1)->text(1), QString::fromUtf8("程序库"));
    EXPECT_EQ(view->topLevelItem(0)->text(2), "");
    ASSERT_EQ(list.addColumn("Third", "Third", 1500), ListError::None);
    EXPECT_EQ(view->topLevelItem(0)->text(2), "later");

    EXPECT_EQ(list.addRow("Main.exe"), ListError::DuplicateKey);
    EXPECT_EQ(list.addColumn("FileName", "Again", 100), ListError::DuplicateColumnKey);
    EXPECT_EQ(view->topLevelItemCount(), 2);
    EXPECT_EQ(view->columnCount(), 3);

    addRows({"c"});
    ASSERT_EQ(list.removeRow(1), ListError::None);
    EXPECT_EQ(view->topLevelItemCount(), 2);
    EXPECT_EQ(view->topLevelItem(0)->text(0), QString::fromUtf8("主程序.dll"));
    EXPECT_EQ(list.findRow("c"), 2);
    list.clear();
    EXPECT_EQ(view->topLevelItemCount(), 0);
    EXPECT_EQ(view->columnCount(), 3);
}

// What the user does to the list.
using Action = std::function<void(ListControl&)>;

// The centre of a cell; row 0 is below the rows.
QPoint centre(const ListControl& list, int row, int column = 0) {
    const QTreeWidget* view = list.view();
    return row == 0 ? QPoint(10, 150)
                    : view->visualRect(view->model()->index(row - 1, column)).center();
}
Action clickOn(int row, int column = 0) {
    return [=](ListControl& list) {
        QTest::mouseClick(list.view()->viewport(), Qt::LeftButton, {}, centre(list, row, column));
    };
}
// Press on the first cell of one row, move with the button down, release on another.
Action drag(int from, int to) {
    return [=](ListControl& list) {
        QWidget* viewport = list.view()->viewport();
        const QPoint at = centre(list, to);
        QTest::mousePress(viewport, Qt::LeftButton, {}, centre(list, from));
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    };
}
// The cursor on a row without selecting it.
Action cursorOn(int row) {
    return [=](ListControl& list) {
        list.view()->setFocus();
        list.view()->setCurrentItem(list.view()->topLevelItem(row - 1), 0,
                                    QItemSelectionModel::NoUpdate);
    };
}
Action press(Qt::Key key) {
    return [=](ListControl& list) { QTest::keyClick(list.view(), key); };
}

// Actions on a list of three rows, the rows reported through itemClick, and the row selected
// in the end. Whatever way the user makes a row the selected one, the owner hears of it, so
// that what the page shows for the chosen row is always that of the row on screen.
// clang-format off
struct ChoiceCase { std::string name; bool fullRowSelect; std::vector<Action> actions;
                    QList<int> reported; int selected; };
// clang-format on
void PrintTo(const ChoiceCase& c, std::ostream* os) {
    *os << c.name;
}

class ListControlChoice : public ListControlTest, public testing::WithParamInterface<ChoiceCase> {};

TEST_P(ListControlChoice, ReportsTheRowTheUserChose) {
    const ChoiceCase& c = GetParam();
    list.setFullRowSelect(c.fullRowSelect);
    addRows({"first", "second", "third"});
    show();
    QSignalSpy clicks(&list, &ListControl::itemClick);
    for (const Action& action : c.actions) {
        action(list);
    }
    QList<int> reported;
    for (const QList<QVariant>& call : clicks) {
        reported << call.at(0).toInt();
    }
    EXPECT_EQ(reported, c.reported);
    ASSERT_EQ(list.selectedRow(), c.selected);
    if (c.selected != 0) {  // the first cell too, whichever was clicked
        EXPECT_TRUE(list.view()->selectionModel()->isSelected(
            list.view()->model()->index(c.selected - 1, 0)));
    }
    // The texts are the rows' keys: no editor ever opens.
    EXPECT_EQ(list.view()->findChild<QLineEdit*>(), nullptr);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ListControlChoice, testing::Values(
    // A click on the row already chosen is reported again.
    ChoiceCase{"ClickFirstColumn", false, {clickOn(2), clickOn(2), clickOn(3)}, {2, 2, 3}, 3},
    ChoiceCase{"ClickBelowTheRows", false, {clickOn(0)}, {}, 0},
    // Without full-row selection only the first column belongs to a row.
    ChoiceCase{"ClickOtherColumn", false, {clickOn(2, 1)}, {}, 0},
    ChoiceCase{"ClickOtherColumnFullRow", true, {clickOn(2, 1)}, {2}, 2},
    // Down on the last row chooses nothing new; F2 opens no editor.
    ChoiceCase{"Keyboard", false, {clickOn(1), press(Qt::Key_Down), press(Qt::Key_End),
                                   press(Qt::Key_Down), press(Qt::Key_F2)}, {1, 2, 3}, 3},
    // Qt reports no click when press and release hit different rows.
    ChoiceCase{"DragToAnotherRow", true, {drag(1, 3)}, {3}, 3},
    ChoiceCase{"SpaceOnTheCurrentRow", false, {cursorOn(1), press(Qt::Key_Space)}, {1}, 1}),
    [](const testing::TestParamInfo<ChoiceCase>& p) { return p.param.name; });
// clang-format on

// Only icons that can be drawn are added; all are drawn at the list's size, scaled up beyond
// their own pictures if need be. Changes to the attached list show at once; a destroyed list
// is detached.
TEST_F(ListControlTest, RowIconsComeFromTheImageList) {
    auto images = std::make_unique<ImageList>();
    EXPECT_EQ(images->add(QIcon()), -1);
    // An icon made from a missing file is not null, yet cannot be drawn.
    EXPECT_EQ(images->addFile("/nonexistent/picture.png"), -1);
    ASSERT_EQ(images->add(solid(Qt::red)), 0);
    ASSERT_EQ(images->add(solid(Qt::blue)), 1);
    EXPECT_FALSE(images->setImageSize(QSize(0, 16)));
    EXPECT_FALSE(images->setImageSize(QSize(16, -1)));
    list.setImageList(images.get());
    ASSERT_EQ(list.addRow("blue.dll", 1), ListError::None);
    ASSERT_EQ(list.addRow("none.dll"), ListError::None);
    ASSERT_EQ(list.addRow("beyond.dll", 2), ListError::None);
    // A row without an image keeps its place empty, so the texts stay aligned.
    EXPECT_EQ(qAlpha(iconPixel(list, 2, 8, 8)), 0);
    EXPECT_EQ(qAlpha(iconPixel(list, 3, 8, 8)), 0);

    ASSERT_EQ(list.setIcon(2, 0), ListError::None);
    EXPECT_EQ(iconPixel(list, 2, 8, 8), qRgb(255, 0, 0));
    images->add(solid(Qt::green));
    EXPECT_EQ(iconPixel(list, 3, 8, 8), qRgb(0, 255, 0));
    ASSERT_TRUE(images->setImageSize(QSize(24, 24)));
    EXPECT_EQ(list.view()->iconSize(), QSize(24, 24));
    EXPECT_EQ(iconPixel(list, 3, 20, 20), qRgb(0, 255, 0));
    EXPECT_EQ(images->pixmap(0, 2.0).size(), QSize(48, 48));

    images.reset();
    EXPECT_EQ(list.imageList(), nullptr);
    EXPECT_TRUE(list.view()->topLevelItem(0)->icon(0).isNull());
    show();
    list.view()->viewport()->repaint();
    EXPECT_EQ(list.addRow("b.dll", 0), ListError::None);
}

TEST_F(ListControlTest, StateIconsStandBeforeTheRowIcons) {
    ImageList images;
    images.add(solid(Qt::red));
    images.add(solid(Qt::blue));
    ImageList states;
    states.add(solid(Qt::green));
    states.add(solid(Qt::yellow));
    list.setImageList(&images);
    ASSERT_EQ(list.addRow("a.dll", 0), ListError::None);
    EXPECT_EQ(list.view()->iconSize(), QSize(16, 16));

    ASSERT_EQ(list.addRow("Setup.zip", 1, 1), ListError::None);
    EXPECT_EQ(list.view()->iconSize(), QSize(32, 16));
    // Without a state image list the state icon comes from the row icons' list.
    EXPECT_EQ(iconPixel(list, 2, 8, 8), qRgb(0, 0, 255));
    EXPECT_EQ(iconPixel(list, 2, 24, 8), qRgb(0, 0, 255));
    EXPECT_EQ(qAlpha(iconPixel(list, 1, 8, 8)), 0);
    EXPECT_EQ(iconPixel(list, 1, 24, 8), qRgb(255, 0, 0));

    list.setStateImageList(&states);
    ASSERT_EQ(list.setStateIcon(1, 0), ListError::None);
    EXPECT_EQ(iconPixel(list, 1, 8, 8), qRgb(0, 255, 0));
    EXPECT_EQ(iconPixel(list, 2, 8, 8), qRgb(255, 255, 0));

    // The room goes when the last state icon does.
    ASSERT_EQ(list.setStateIcon(1, kNoImage), ListError::None);
    ASSERT_EQ(list.setStateIcon(2, kNoImage), ListError::None);
    EXPECT_EQ(list.view()->iconSize(), QSize(16, 16));
    EXPECT_EQ(iconPixel(list, 2, 8, 8), qRgb(0, 0, 255));
}

}  // namespace
}  // namespace upd::controls
