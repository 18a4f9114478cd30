#include "controls/small_bar.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>
#include <QStringList>

namespace upd::controls {
namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kGreen = qRgb(0, 255, 0);

// The control as drawn on screen. Under a scale factor (QT_SCALE_FACTOR=2) the image has
// more pixels than the control has logical ones; the helpers below take logical pixels.
QImage shot(SmallBar& bar) {
    return bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int devicePixels(const QImage& image, int logical) {
    return qRound(logical * image.devicePixelRatio());
}

QSize logicalSize(const QImage& image) {
    return image.deviceIndependentSize().toSize();
}

// Width of the bar on logical row `y`, in device pixels: the run of `colour` from the left.
int barWidth(const QImage& image, QRgb colour, int y) {
    const int row = devicePixels(image, y);
    int x = 0;
    while (x < image.width() && image.pixel(x, row) == colour) {
        ++x;
    }
    return x;
}

// True when the image is a bar `width` logical pixels wide in `bar` over `background`, on
// every row.
bool showsBar(const QImage& image, int width, QRgb bar, QRgb background) {
    const int edge = devicePixels(image, width);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != (x < edge ? bar : background)) {
                return false;
            }
        }
    }
    return true;
}

QStringList names(const QSignalSpy& spy) {
    QStringList result;
    for (const QList<QVariant>& call : spy) {
        result << call.at(0).toString();
    }
    return result;
}

class SmallBarTest : public testing::Test {
  protected:
    void SetUp() override {
        bar.resize(200, 20);
        // A hidden widget gets the resize event of its new size when first drawn; deliver
        // it now, so that it does not redraw the bar in the middle of a test.
        static_cast<void>(bar.grab());
    }
    SmallBar bar;
};

TEST_F(SmallBarTest, FreshControlIsAnEmptyWhiteArea) {
    EXPECT_EQ(bar.PercentValue(), 0);
    EXPECT_EQ(bar.BackgroundColor(), 0xFFFFFF);
    EXPECT_EQ(bar.ProgressColor(), 0xFF00);
    const QImage image = shot(bar);
    ASSERT_EQ(logicalSize(image), QSize(200, 20));
    EXPECT_TRUE(showsBar(image, 0, kGreen, kWhite));
}

TEST_F(SmallBarTest, PercentIsAShareOfTheWidth) {
    bar.setPercentValue(50);
    EXPECT_TRUE(showsBar(shot(bar), 100, kGreen, kWhite));
    bar.setPercentValue(100);
    EXPECT_TRUE(showsBar(shot(bar), 200, kGreen, kWhite));
    bar.setPercentValue(1);
    EXPECT_TRUE(showsBar(shot(bar), 2, kGreen, kWhite));
    bar.setPercentValue(33);
    EXPECT_TRUE(showsBar(shot(bar), 66, kGreen, kWhite));
    EXPECT_EQ(bar.PercentValue(), 33);
}

TEST_F(SmallBarTest, ValuesAboveHundredAreIgnored) {
    bar.setPercentValue(40);
    const QImage before = shot(bar);
    QSignalSpy changed(&bar, &SmallBar::propertyChanged);
    for (int value : {101, 32767, 40000, 1 << 20}) {
        bar.setPercentValue(value);
        EXPECT_EQ(bar.PercentValue(), 40) << value;
        EXPECT_EQ(shot(bar), before) << value;
    }
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(SmallBarTest, NegativeValueIsStoredAndShowsNothing) {
    bar.setPercentValue(70);
    QSignalSpy changed(&bar, &SmallBar::propertyChanged);
    bar.setPercentValue(-5);
    EXPECT_EQ(bar.PercentValue(), -5);
    EXPECT_TRUE(showsBar(shot(bar), 0, kGreen, kWhite));
    EXPECT_EQ(names(changed), QStringList{"PercentValue"});
    bar.setPercentValue(-32768);
    EXPECT_EQ(bar.PercentValue(), -32768);
}

TEST_F(SmallBarTest, ValueBelowTheSixteenBitRangeIsIgnored) {
    bar.setPercentValue(-5);
    bar.setPercentValue(-32769);
    EXPECT_EQ(bar.PercentValue(), -5);
}

TEST_F(SmallBarTest, ZeroClearsTheBarAndIsMarkedChanged) {
    bar.setPercentValue(60);
    QSignalSpy changed(&bar, &SmallBar::propertyChanged);
    bar.setPercentValue(0);
    EXPECT_EQ(bar.PercentValue(), 0);
    EXPECT_TRUE(showsBar(shot(bar), 0, kGreen, kWhite));
    EXPECT_EQ(names(changed), QStringList{"PercentValue"});
}

// Colours are 0x00BBGGRR: red in the low byte.
TEST_F(SmallBarTest, ColourValuesAreBlueGreenRed) {
    EXPECT_EQ(toQColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(toQColor(0xFF0000), QColor(0, 0, 255));
    EXPECT_EQ(toQColor(0x123456), QColor(0x56, 0x34, 0x12));
    EXPECT_EQ(toQColor(static_cast<ColorValue>(0x80FF0000u)), QColor(0, 0, 255));

    bar.setBackgroundColor(0x123456);
    bar.setProgressColor(0x0000FF);
    bar.setPercentValue(25);
    EXPECT_TRUE(showsBar(shot(bar), 50, qRgb(255, 0, 0), qRgb(0x56, 0x34, 0x12)));
}

TEST_F(SmallBarTest, ProgressColourRedrawsTheCurrentBar) {
    bar.setPercentValue(40);
    QSignalSpy changed(&bar, &SmallBar::propertyChanged);
    bar.setProgressColor(0xFF0000);
    EXPECT_EQ(bar.ProgressColor(), 0xFF0000);
    EXPECT_TRUE(showsBar(shot(bar), 80, qRgb(0, 0, 255), kWhite));
    EXPECT_EQ(names(changed), QStringList{"ProgressColor"});
}

TEST_F(SmallBarTest, ProgressColourAtZeroKeepsTheBarEmpty) {
    bar.setProgressColor(0xFF0000);
    EXPECT_TRUE(showsBar(shot(bar), 0, qRgb(0, 0, 255), kWhite));
}

TEST_F(SmallBarTest, BackgroundColourErasesTheBarUntilTheNextRedraw) {
    bar.setPercentValue(50);
    QSignalSpy changed(&bar, &SmallBar::propertyChanged);
    bar.setBackgroundColor(0x808080);
    const QRgb grey = qRgb(128, 128, 128);
    EXPECT_EQ(bar.BackgroundColor(), 0x808080);
    EXPECT_EQ(bar.PercentValue(), 50);
    EXPECT_TRUE(showsBar(shot(bar), 0, kGreen, grey));
    EXPECT_EQ(names(changed), QStringList{"BackgroundColor"});

    bar.setPercentValue(50);
    EXPECT_TRUE(showsBar(shot(bar), 100, kGreen, grey));
}

TEST_F(SmallBarTest, ResizeKeepsThePercentage) {
    bar.setPercentValue(50);
    bar.resize(300, 10);
    QImage image = shot(bar);
    ASSERT_EQ(logicalSize(image), QSize(300, 10));
    EXPECT_TRUE(showsBar(image, 150, kGreen, kWhite));

    bar.resize(50, 30);
    image = shot(bar);
    EXPECT_EQ(barWidth(image, kGreen, 0), devicePixels(image, 25));
    EXPECT_EQ(barWidth(image, kGreen, 29), devicePixels(image, 25));
}

// A resize redraws from the stored values, so it also brings back a bar that a background
// change had erased.
TEST_F(SmallBarTest, ResizeRedrawsFromTheStoredValues) {
    bar.setPercentValue(50);
    bar.setBackgroundColor(0x000000);
    bar.resize(100, 20);
    EXPECT_TRUE(showsBar(shot(bar), 50, kGreen, qRgb(0, 0, 0)));
}

TEST_F(SmallBarTest, ResizeToNothingAndBackIsHarmless) {
    bar.setPercentValue(30);
    bar.resize(0, 0);
    bar.setPercentValue(60);
    bar.setProgressColor(0x0000FF);
    bar.setBackgroundColor(0xFFFFFF);
    EXPECT_TRUE(shot(bar).isNull() || shot(bar).size().isEmpty());
    bar.resize(100, 8);
    EXPECT_EQ(bar.PercentValue(), 60);
    EXPECT_TRUE(showsBar(shot(bar), 60, qRgb(255, 0, 0), kWhite));
}

TEST_F(SmallBarTest, DrawingSurvivesRepaints) {
    bar.setPercentValue(75);
    const QImage first = shot(bar);
    bar.repaint();
    EXPECT_EQ(shot(bar), first);
    EXPECT_TRUE(showsBar(first, 150, kGreen, kWhite));
}

TEST(PropertyBagTest, DefaultsAreNotStored) {
    PropertyBag bag;
    bag.writeProperty("PercentValue", 0, 0);
    EXPECT_FALSE(bag.contains("PercentValue"));
    EXPECT_EQ(bag.readProperty("PercentValue", 17), 17);

    bag.writeProperty("PercentValue", 5, 0);
    EXPECT_EQ(bag.value("PercentValue"), 5);
    bag.writeProperty("PercentValue", 0, 0);
    EXPECT_FALSE(bag.value("PercentValue").has_value());
    EXPECT_EQ(bag.count(), 0);
}

TEST_F(SmallBarTest, WritePropertiesStoresOnlyWhatDiffersFromTheDefaults) {
    PropertyBag bag;
    bar.WriteProperties(bag);
    EXPECT_EQ(bag.count(), 0);

    bar.setProgressColor(0x0000FF);
    bar.setPercentValue(-5);
    bar.WriteProperties(bag);
    EXPECT_EQ(bag.count(), 2);
    EXPECT_FALSE(bag.contains("BackgroundColor"));
    EXPECT_EQ(bag.value("ProgressColor"), 0x0000FF);
    EXPECT_EQ(bag.value("PercentValue"), -5);

    bar.setProgressColor(0xFF00);
    bar.setBackgroundColor(0x00FFFF);
    bar.setPercentValue(0);
    bar.WriteProperties(bag);
    EXPECT_EQ(bag.count(), 1);
    EXPECT_EQ(bag.value("BackgroundColor"), 0x00FFFF);
}

TEST_F(SmallBarTest, ReadPropertiesAppliesEachInOrderThroughItsSetter) {
    PropertyBag bag;
    bag.writeProperty("PercentValue", 30, 0);
    bag.writeProperty("BackgroundColor", 0x000000, 0xFFFFFF);
    bag.writeProperty("ProgressColor", 0xFF0000, 0xFF00);
    QSignalSpy changed(&bar, &SmallBar::propertyChanged);
    bar.ReadProperties(bag);
    EXPECT_EQ(names(changed), (QStringList{"BackgroundColor", "ProgressColor", "PercentValue"}));
    EXPECT_EQ(bar.PercentValue(), 30);
    EXPECT_TRUE(showsBar(shot(bar), 60, qRgb(0, 0, 255), qRgb(0, 0, 0)));
}

TEST_F(SmallBarTest, ReadPropertiesFromAnEmptyBagRestoresTheDefaults) {
    bar.setBackgroundColor(0x000000);
    bar.setProgressColor(0xFF0000);
    bar.setPercentValue(80);
    bar.ReadProperties(PropertyBag{});
    EXPECT_EQ(bar.BackgroundColor(), 0xFFFFFF);
    EXPECT_EQ(bar.ProgressColor(), 0xFF00);
    EXPECT_EQ(bar.PercentValue(), 0);
    EXPECT_TRUE(showsBar(shot(bar), 0, kGreen, kWhite));
}

TEST_F(SmallBarTest, ReadPropertiesIgnoresAPercentTheControlCannotHold) {
    bar.setPercentValue(20);
    for (std::int32_t stored : {500, 70000, -70000}) {
        PropertyBag bag;
        bag.writeProperty("PercentValue", stored, 0);
        bar.ReadProperties(bag);
        EXPECT_EQ(bar.PercentValue(), 20) << stored;
    }
}

}  // namespace
}  // namespace upd::controls
