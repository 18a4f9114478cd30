#include "controls/list_control.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
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

// The first column's decoration of a row, as drawn at the view's icon size.
QImage decoration(const ListControl& list, int row) {
    const QTreeWidget* view = list.view();
    return view->topLevelItem(row - 1)
        ->icon(0)
        .pixmap(view->iconSize(), view->devicePixelRatioF())
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
}

// The pixel at logical position x, y, whatever the screen's scale.
QRgb pixelAt(const QImage& image, int x, int y) {
    const qreal ratio = image.devicePixelRatio();
    return image.pixel(qRound(x * ratio), qRound(y * ratio));
}

QList<int> rows(const QSignalSpy& spy) {
    QList<int> result;
    for (const QList<QVariant>& call : spy) {
        result << call.at(0).toInt();
    }
    return result;
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
    EXPECT_FALSE(view->header()->sectionsClickable());

    addRows({"Main.exe", "主程序.dll"});
    ASSERT_EQ(list.setSubItem(2, 1, QString::fromUtf8("程序库")), ListError::None);
    ASSERT_EQ(list.setSubItem(1, 2, "later"), ListError::None);
    EXPECT_EQ(view->topLevelItem(1)->text(0), QString::fromUtf8("主程序.dll"));
    EXPECT_EQ(view->topLevelItem(1)->text(1), QString::fromUtf8("程序库"));
    EXPECT_EQ(list.model().subItem(2, 1), "程序库");
    EXPECT_EQ(list.findRow(QString::fromUtf8("主程序.dll")), 2);
    EXPECT_EQ(view->topLevelItem(0)->text(2), "");
    ASSERT_EQ(list.addColumn("Third", "Third", 1500), ListError::None);
    EXPECT_EQ(view->topLevelItem(0)->text(2), "later");

    EXPECT_EQ(list.addRow("Main.exe"), ListError::DuplicateKey);
    EXPECT_EQ(list.addColumn("FileName", "Again", 100), ListError::DuplicateColumnKey);
    EXPECT_EQ(view->topLevelItemCount(), 2);
    EXPECT_EQ(view->columnCount(), 3);
}

TEST_F(ListControlTest, RemoveAndClearKeepTheScreenInStepWithTheModel) {
    addRows({"a", "b", "c"});
    ASSERT_EQ(list.removeRow(1), ListError::None);
    EXPECT_EQ(list.view()->topLevelItemCount(), 2);
    EXPECT_EQ(list.view()->topLevelItem(0)->text(0), "b");
    EXPECT_EQ(list.findRow("c"), 2);
    list.clear();
    EXPECT_EQ(list.view()->topLevelItemCount(), 0);
    EXPECT_EQ(list.view()->columnCount(), 2);
}

// What the user does: click a cell (row 0: below the rows), drag from the first cell of one
// row to that of another, put the cursor on a row without selecting it, or press a key; or
// the page removes a row.
enum class Do { Click, Drag, Cursor, Key, Remove };
struct Action {
    Do what;
    int a;
    int b = 0;
};
const auto clickOn = [](int row, int column = 0) { return Action{Do::Click, row, column}; };
const auto drag = [](int from, int to) { return Action{Do::Drag, from, to}; };
const auto cursorOn = [](int row) { return Action{Do::Cursor, row}; };
const auto press = [](Qt::Key key) { return Action{Do::Key, key}; };
const auto removeRow = [](int row) { return Action{Do::Remove, row}; };

// Actions on a list of three rows, the rows reported through itemClick, and the row selected
// in the end. Whatever way the user makes a row the selected one, the owner hears of it, so
// that what the page shows for the chosen row is always that of the row on screen.
struct ChoiceCase {
    std::string name;
    bool fullRowSelect;
    std::vector<Action> actions;
    QList<int> reported;
    int selected;
    friend void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }
};

class ListControlChoice : public ListControlTest, public testing::WithParamInterface<ChoiceCase> {
  protected:
    void perform(const Action& action) {
        QTreeWidget* view = list.view();
        const auto centre = [view](int row) {
            return view->visualRect(view->model()->index(row - 1, 0)).center();
        };
        switch (action.what) {
            case Do::Click: {
                const QRect cell = view->visualRect(view->model()->index(action.a - 1, action.b));
                const QPoint at = action.a == 0 ? QPoint(10, 150) : cell.center();
                QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
                break;
            }
            case Do::Drag: {
                QTest::mousePress(view->viewport(), Qt::LeftButton, {}, centre(action.a));
                const QPoint to = centre(action.b);
                QMouseEvent move(QEvent::MouseMove, to, view->viewport()->mapToGlobal(to),
                                 Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(view->viewport(), &move);
                QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
                break;
            }
            case Do::Cursor:
                view->setFocus();
                view->setCurrentItem(view->topLevelItem(action.a - 1), 0,
                                     QItemSelectionModel::NoUpdate);
                break;
            case Do::Key:
                QTest::keyClick(view, static_cast<Qt::Key>(action.a));
                break;
            case Do::Remove:
                ASSERT_EQ(list.removeRow(action.a), ListError::None);
                break;
        }
    }
};

TEST_P(ListControlChoice, ReportsTheRowTheUserChose) {
    const ChoiceCase& c = GetParam();
    list.setFullRowSelect(c.fullRowSelect);
    addRows({"first", "second", "third"});
    show();
    QSignalSpy clicks(&list, &ListControl::itemClick);
    for (const Action& action : c.actions) {
        perform(action);
    }
    EXPECT_EQ(rows(clicks), c.reported);
    ASSERT_EQ(list.selectedRow(), c.selected);
    if (c.selected != 0) {  // the first cell too, whichever was clicked
        EXPECT_TRUE(list.view()->selectionModel()->isSelected(
            list.view()->model()->index(c.selected - 1, 0)));
    }
    // The texts are the rows' keys: no editor ever opens.
    EXPECT_EQ(list.view()->findChild<QLineEdit*>(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListControlChoice,
    testing::Values(
        // A click on the row already chosen is reported again.
        ChoiceCase{"ClickFirstColumn", false, {clickOn(2), clickOn(2), clickOn(3)}, {2, 2, 3}, 3},
        ChoiceCase{"ClickBelowTheRows", false, {clickOn(0)}, {}, 0},
        // Without full-row selection only the first column belongs to a row.
        ChoiceCase{"ClickOtherColumn", false, {clickOn(2, 1)}, {}, 0},
        ChoiceCase{"ClickOtherColumnFullRow", true, {clickOn(2, 1)}, {2}, 2},
        // Down on the last row chooses nothing new; F2 opens no editor.
        ChoiceCase{"Keyboard",
                   false,
                   {clickOn(1), press(Qt::Key_Down), press(Qt::Key_End), press(Qt::Key_Down),
                    press(Qt::Key_F2)},
                   {1, 2, 3},
                   3},
        // Qt reports no click when press and release hit different rows.
        ChoiceCase{"DragToAnotherRow", true, {drag(1, 3)}, {3}, 3},
        ChoiceCase{"SpaceOnTheCurrentRow", false, {cursorOn(1), press(Qt::Key_Space)}, {1}, 1},
        // Rows after a removed one are reported with their new numbers.
        ChoiceCase{"ClickAfterARemoval", false, {removeRow(1), clickOn(2)}, {2}, 2}),
    [](const testing::TestParamInfo<ChoiceCase>& p) { return p.param.name; });

TEST_F(ListControlTest, RowIconsComeFromTheImageList) {
    ImageList images;
    ASSERT_EQ(images.add(solid(Qt::red)), 0);
    ASSERT_EQ(images.add(solid(Qt::blue)), 1);
    list.setImageList(&images);
    ASSERT_EQ(list.addRow("blue.dll", 1), ListError::None);
    ASSERT_EQ(list.addRow("none.dll"), ListError::None);
    ASSERT_EQ(list.addRow("beyond.dll", 2), ListError::None);
    EXPECT_EQ(list.view()->iconSize(), QSize(16, 16));
    EXPECT_EQ(pixelAt(decoration(list, 1), 8, 8), qRgb(0, 0, 255));
    // A row without an image keeps its place empty, so the texts stay aligned.
    EXPECT_EQ(qAlpha(pixelAt(decoration(list, 2), 8, 8)), 0);
    EXPECT_EQ(qAlpha(pixelAt(decoration(list, 3), 8, 8)), 0);

    ASSERT_EQ(list.setIcon(2, 0), ListError::None);
    EXPECT_EQ(pixelAt(decoration(list, 2), 8, 8), qRgb(255, 0, 0));
    // Changes to the attached list show at once.
    images.add(solid(Qt::green));
    EXPECT_EQ(pixelAt(decoration(list, 3), 8, 8), qRgb(0, 255, 0));
    ASSERT_TRUE(images.setImageSize(QSize(24, 24)));
    EXPECT_EQ(list.view()->iconSize(), QSize(24, 24));
    EXPECT_EQ(pixelAt(decoration(list, 3), 20, 20), qRgb(0, 255, 0));
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
    QImage second = decoration(list, 2);
    EXPECT_EQ(pixelAt(second, 8, 8), qRgb(0, 0, 255));
    EXPECT_EQ(pixelAt(second, 24, 8), qRgb(0, 0, 255));
    EXPECT_EQ(qAlpha(pixelAt(decoration(list, 1), 8, 8)), 0);
    EXPECT_EQ(pixelAt(decoration(list, 1), 24, 8), qRgb(255, 0, 0));

    list.setStateImageList(&states);
    ASSERT_EQ(list.setStateIcon(1, 0), ListError::None);
    EXPECT_EQ(pixelAt(decoration(list, 1), 8, 8), qRgb(0, 255, 0));
    EXPECT_EQ(pixelAt(decoration(list, 2), 8, 8), qRgb(255, 255, 0));

    // The room goes when the last state icon does.
    ASSERT_EQ(list.setStateIcon(1, kNoImage), ListError::None);
    ASSERT_EQ(list.setStateIcon(2, kNoImage), ListError::None);
    EXPECT_EQ(list.view()->iconSize(), QSize(16, 16));
    EXPECT_EQ(pixelAt(decoration(list, 2), 8, 8), qRgb(0, 0, 255));
}

TEST_F(ListControlTest, DestroyedImageListIsDetached) {
    auto images = std::make_unique<ImageList>();
    images->add(solid(Qt::red));
    list.setImageList(images.get());
    ASSERT_EQ(list.addRow("a.dll", 0), ListError::None);
    images.reset();
    EXPECT_EQ(list.imageList(), nullptr);
    EXPECT_TRUE(list.view()->topLevelItem(0)->icon(0).isNull());
    show();
    list.view()->viewport()->repaint();
    EXPECT_EQ(list.addRow("b.dll", 0), ListError::None);
}

// Only icons that can be drawn are added; all are drawn at the list's size, scaled up beyond
// their own pictures if need be.
TEST(ImageListTest, RefusesWhatCannotBeDrawn) {
    ImageList images;
    EXPECT_EQ(images.add(QIcon()), -1);
    // An icon made from a missing file is not null, yet cannot be drawn.
    EXPECT_EQ(images.addFile("/nonexistent/picture.png"), -1);
    EXPECT_EQ(images.add(solid(Qt::red)), 0);
    EXPECT_FALSE(images.setImageSize(QSize(0, 16)));
    EXPECT_FALSE(images.setImageSize(QSize(16, -1)));
    EXPECT_EQ(images.imageSize(), QSize(16, 16));
    ASSERT_TRUE(images.setImageSize(QSize(32, 32)));
    EXPECT_EQ(images.pixmap(0).size(), QSize(32, 32));
    EXPECT_EQ(images.pixmap(0, 2.0).size(), QSize(64, 64));
}

}  // namespace
}  // namespace upd::controls
