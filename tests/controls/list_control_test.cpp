#include "controls/list_control.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <memory>

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

    // Clicks the cell of `row` in `column` as a user would.
    void click(int row, int column) {
        QTreeWidget* view = list.view();
        const QRect cell = view->visualRect(view->model()->index(row - 1, column));
        ASSERT_TRUE(cell.isValid());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    }

    void show() {
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    }

    ListControl list;
};

TEST_F(ListControlTest, ColumnsTakeTheirWidthFromTwips) {
    const QTreeWidget* view = list.view();
    ASSERT_EQ(view->columnCount(), 2);
    EXPECT_EQ(view->columnWidth(0), 184);
    EXPECT_EQ(view->columnWidth(1), 110);
    EXPECT_EQ(view->headerItem()->text(1), "Description");
    EXPECT_EQ(list.findColumn("Descript"), 2);
    EXPECT_FALSE(view->header()->sectionsClickable());
}

TEST_F(ListControlTest, DuplicateColumnKeyIsRefused) {
    EXPECT_EQ(list.addColumn("FileName", "Again", 100), ListError::DuplicateColumnKey);
    EXPECT_EQ(list.columnCount(), 2);
    EXPECT_EQ(list.view()->columnCount(), 2);
    EXPECT_EQ(list.view()->headerItem()->text(0), "File name");
}

TEST_F(ListControlTest, NumericAndDuplicateRowKeysAreRefusedOnScreenToo) {
    addRows({"Main.exe"});
    EXPECT_EQ(list.addRow("12"), ListError::NumericKey);
    EXPECT_EQ(list.addRow("1.5"), ListError::NumericKey);
    EXPECT_EQ(list.addRow("Main.exe"), ListError::DuplicateKey);
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.view()->topLevelItemCount(), 1);
}

TEST_F(ListControlTest, RowsAndSubItemsAppearInTheirColumns) {
    addRows({"Main.exe", "主程序.dll"});
    ASSERT_EQ(list.setSubItem(2, 1, QString::fromUtf8("程序库")), ListError::None);
    const QTreeWidget* view = list.view();
    EXPECT_EQ(view->topLevelItem(0)->text(0), "Main.exe");
    EXPECT_EQ(view->topLevelItem(1)->text(0), QString::fromUtf8("主程序.dll"));
    EXPECT_EQ(view->topLevelItem(1)->text(1), QString::fromUtf8("程序库"));
    EXPECT_EQ(list.subItem(2, 1), QString::fromUtf8("程序库"));
    EXPECT_EQ(list.model().subItem(2, 1), "程序库");
    EXPECT_EQ(list.findRow(QString::fromUtf8("主程序.dll")), 2);
    EXPECT_EQ(list.rowText(1), "Main.exe");
    EXPECT_EQ(list.setSubItem(3, 1, "x"), ListError::NoSuchRow);
    EXPECT_EQ(list.setSubItem(1, 3, "x"), ListError::NoSuchSubItem);
}

TEST_F(ListControlTest, SubItemWithoutAColumnAppearsWhenTheColumnIsAdded) {
    addRows({"a.dll"});
    ASSERT_EQ(list.setSubItem(1, 2, "later"), ListError::None);
    EXPECT_EQ(list.view()->topLevelItem(0)->text(2), "");
    ASSERT_EQ(list.addColumn("Third", "Third", 1500), ListError::None);
    EXPECT_EQ(list.view()->topLevelItem(0)->text(2), "later");
}

TEST_F(ListControlTest, RemoveAndClearKeepTheScreenInStepWithTheModel) {
    addRows({"a", "b", "c"});
    ASSERT_EQ(list.removeRow(1), ListError::None);
    EXPECT_EQ(list.view()->topLevelItemCount(), 2);
    EXPECT_EQ(list.view()->topLevelItem(0)->text(0), "b");
    EXPECT_EQ(list.findRow("c"), 2);
    EXPECT_EQ(list.removeRow(3), ListError::NoSuchRow);
    list.clear();
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_EQ(list.view()->topLevelItemCount(), 0);
    EXPECT_EQ(list.columnCount(), 2);
    EXPECT_EQ(list.addRow("a"), ListError::None);
}

TEST_F(ListControlTest, ClickReportsTheRowCountedFromOne) {
    addRows({"first", "second", "third"});
    show();
    QSignalSpy clicks(&list, &ListControl::itemClick);
    EXPECT_EQ(list.selectedRow(), 0);
    click(2, 0);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).toInt(), 2);
    EXPECT_EQ(list.selectedRow(), 2);
    click(2, 0);
    click(3, 0);
    ASSERT_EQ(clicks.count(), 3);
    EXPECT_EQ(clicks.at(1).at(0).toInt(), 2);
    EXPECT_EQ(clicks.at(2).at(0).toInt(), 3);
}

TEST_F(ListControlTest, ClickBelowTheRowsReportsNothing) {
    addRows({"only"});
    show();
    QSignalSpy clicks(&list, &ListControl::itemClick);
    QTest::mouseClick(list.view()->viewport(), Qt::LeftButton, {}, QPoint(10, 150));
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(ListControlTest, WithoutFullRowSelectOnlyTheFirstColumnChoosesARow) {
    addRows({"first", "second"});
    show();
    QSignalSpy clicks(&list, &ListControl::itemClick);
    click(2, 1);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(list.selectedRow(), 0);
}

TEST_F(ListControlTest, WithFullRowSelectAnyColumnChoosesTheRow) {
    list.setFullRowSelect(true);
    EXPECT_TRUE(list.fullRowSelect());
    addRows({"first", "second"});
    show();
    QSignalSpy clicks(&list, &ListControl::itemClick);
    click(2, 1);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).toInt(), 2);
    EXPECT_EQ(list.selectedRow(), 2);
    const QModelIndex second = list.view()->model()->index(1, 1);
    EXPECT_TRUE(list.view()->selectionModel()->isSelected(second));
}

TEST_F(ListControlTest, MovingWithTheKeyboardReportsTheNewRow) {
    addRows({"first", "second", "third"});
    show();
    click(1, 0);
    QSignalSpy clicks(&list, &ListControl::itemClick);
    QTest::keyClick(list.view(), Qt::Key_Down);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).toInt(), 2);
    EXPECT_EQ(list.selectedRow(), 2);
    // Stays on the last row: nothing new is chosen.
    QTest::keyClick(list.view(), Qt::Key_End);
    QTest::keyClick(list.view(), Qt::Key_Down);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(clicks.at(1).at(0).toInt(), 3);
}

// Whatever way the user makes a row the selected one, the owner hears of it, so that what
// the page shows for the chosen row is always that of the row on screen.
TEST_F(ListControlTest, DraggingFromOneRowToAnotherNeverLeavesAnUnreportedSelection) {
    list.setFullRowSelect(true);
    addRows({"first", "second", "third"});
    show();
    QSignalSpy clicks(&list, &ListControl::itemClick);
    QTreeWidget* view = list.view();
    const QPoint from = view->visualRect(view->model()->index(0, 0)).center();
    const QPoint to = view->visualRect(view->model()->index(2, 0)).center();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, to, view->viewport()->mapToGlobal(to), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
    ASSERT_GE(clicks.count(), 1);
    EXPECT_EQ(clicks.last().at(0).toInt(), list.selectedRow());
}

TEST_F(ListControlTest, SelectingTheCurrentRowWithSpaceReportsIt) {
    addRows({"first", "second"});
    show();
    QSignalSpy clicks(&list, &ListControl::itemClick);
    QTreeWidget* view = list.view();
    view->setFocus();
    view->setCurrentItem(view->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    ASSERT_EQ(list.selectedRow(), 0);
    QTest::keyClick(view, Qt::Key_Space);
    ASSERT_EQ(list.selectedRow(), 1);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).toInt(), 1);
}

TEST_F(ListControlTest, ClickAfterARemovalReportsTheNewNumber) {
    addRows({"a", "b", "c"});
    ASSERT_EQ(list.removeRow(1), ListError::None);
    show();
    QSignalSpy clicks(&list, &ListControl::itemClick);
    click(2, 0);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).toInt(), 2);
    EXPECT_EQ(list.rowText(2), "c");
}

TEST_F(ListControlTest, RowIconsComeFromTheImageList) {
    ImageList images;
    ASSERT_EQ(images.add(solid(Qt::red)), 0);
    ASSERT_EQ(images.add(solid(Qt::blue)), 1);
    list.setImageList(&images);
    ASSERT_EQ(list.addRow("blue.dll", 1), ListError::None);
    ASSERT_EQ(list.addRow("none.dll"), ListError::None);
    ASSERT_EQ(list.addRow("beyond.dll", 9), ListError::None);
    EXPECT_EQ(list.view()->iconSize(), QSize(16, 16));
    EXPECT_EQ(pixelAt(decoration(list, 1), 8, 8), qRgb(0, 0, 255));
    // A row without an image keeps its place empty, so the texts stay aligned.
    EXPECT_EQ(qAlpha(pixelAt(decoration(list, 2), 8, 8)), 0);
    EXPECT_EQ(qAlpha(pixelAt(decoration(list, 3), 8, 8)), 0);

    ASSERT_EQ(list.setIcon(2, 0), ListError::None);
    EXPECT_EQ(pixelAt(decoration(list, 2), 8, 8), qRgb(255, 0, 0));
    EXPECT_EQ(list.icon(2), 0);
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
    EXPECT_EQ(list.stateIcon(1), 0);

    ASSERT_EQ(list.setStateIcon(1, kNoImage), ListError::None);
    ASSERT_EQ(list.setStateIcon(2, kNoImage), ListError::None);
    EXPECT_EQ(list.view()->iconSize(), QSize(16, 16));
    EXPECT_EQ(pixelAt(decoration(list, 2), 8, 8), qRgb(0, 0, 255));
}

TEST_F(ListControlTest, ImagesAddedAfterAttachingAreShown) {
    ImageList images;
    list.setImageList(&images);
    ASSERT_EQ(list.addRow("a.dll", 0), ListError::None);
    EXPECT_EQ(qAlpha(pixelAt(decoration(list, 1), 8, 8)), 0);
    images.add(solid(Qt::red));
    EXPECT_EQ(pixelAt(decoration(list, 1), 8, 8), qRgb(255, 0, 0));
    ASSERT_TRUE(images.setImageSize(QSize(24, 24)));
    EXPECT_EQ(list.view()->iconSize(), QSize(24, 24));
    EXPECT_EQ(pixelAt(decoration(list, 1), 20, 20), qRgb(255, 0, 0));
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

TEST_F(ListControlTest, RowsCannotBeEdited) {
    addRows({"a.dll"});
    EXPECT_EQ(list.view()->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(list.view()->topLevelItem(0)->flags().testFlag(Qt::ItemIsEditable));
}

TEST(ImageListTest, IconsAreAddressedFromZero) {
    ImageList images;
    EXPECT_EQ(images.imageSize(), QSize(16, 16));
    EXPECT_EQ(images.add(solid(Qt::red)), 0);
    EXPECT_EQ(images.add(QIcon()), -1);
    EXPECT_EQ(images.addFile("/nonexistent/picture.png"), -1);
    EXPECT_EQ(images.add(solid(Qt::blue)), 1);
    EXPECT_EQ(images.count(), 2);
    EXPECT_TRUE(images.icon(2).isNull());
    EXPECT_TRUE(images.icon(-1).isNull());
    EXPECT_TRUE(images.pixmap(5).isNull());
    EXPECT_EQ(images.pixmap(1).toImage().pixel(15, 15), qRgb(0, 0, 255));
}

TEST(ImageListTest, ImageSizeMustBePositive) {
    ImageList images;
    images.add(solid(Qt::red));
    EXPECT_FALSE(images.setImageSize(QSize(0, 16)));
    EXPECT_FALSE(images.setImageSize(QSize(16, -1)));
    EXPECT_EQ(images.imageSize(), QSize(16, 16));
    ASSERT_TRUE(images.setImageSize(QSize(32, 32)));
    EXPECT_EQ(images.pixmap(0).size(), QSize(32, 32));
    EXPECT_EQ(images.pixmap(0, 2.0).size(), QSize(64, 64));
    images.clear();
    EXPECT_EQ(images.count(), 0);
}

}  // namespace
}  // namespace upd::controls
