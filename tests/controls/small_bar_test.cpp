#include "controls/small_bar.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>
#include <QStringList>
#include <string>

namespace upd::controls {
namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);

// True when the control, as drawn on screen, is a bar `width` logical pixels wide in `bar`
// over `background` on every row. Under a scale factor (QT_SCALE_FACTOR=2) the image has more
// pixels than the control has logical ones.
bool showsBar(SmallBar& control, qreal width, QRgb bar, QRgb background) {
    const QImage image = control.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int edge = qRound(width * image.devicePixelRatio());
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

// 150 pixels wide, so that 1 % is 1.5 pixels and shows how the bar's edge is rounded.
class SmallBarTest : public testing::Test {
  protected:
    void SetUp() override {
        bar.resize(150, 20);
        // A hidden widget gets the resize event of its new size when first drawn; deliver
        // it now, so that it does not redraw the bar in the middle of a test.
        static_cast<void>(bar.grab());
    }
    SmallBar bar;
};

// A setter and the name it reports through propertyChanged. A case is one setter call on a
// bar that shows `start` percent: PercentValue afterwards, the logical width of the bar on
// screen, its colours, and whether propertyChanged was raised with the setter's name. Colours
// are 0x00BBGGRR.
// clang-format off
struct Setter { void (SmallBar::*set)(int); QString name; };
struct SetterCase { std::string name; int start; Setter setter; int value; int percent;
                    qreal drawn; QRgb bar; QRgb background; bool changed; };
// clang-format on
const Setter kPercent{&SmallBar::setPercentValue, "PercentValue"};
const Setter kBackground{&SmallBar::setBackgroundColor, "BackgroundColor"};
const Setter kProgress{&SmallBar::setProgressColor, "ProgressColor"};

class SmallBarSetter : public SmallBarTest, public testing::WithParamInterface<SetterCase> {};

TEST_P(SmallBarSetter, DrawsOrRefuses) {
    const SetterCase& c = GetParam();
    bar.setPercentValue(c.start);
    QSignalSpy changed(&bar, &SmallBar::propertyChanged);
    (bar.*c.setter.set)(c.value);
    EXPECT_EQ(bar.PercentValue(), c.percent);
    EXPECT_TRUE(showsBar(bar, c.drawn, c.bar, c.background));
    EXPECT_EQ(names(changed), c.changed ? QStringList{c.setter.name} : QStringList{});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, SmallBarSetter, testing::Values(
    SetterCase{"Full", 40, kPercent, 100, 100, 150, kGreen, kWhite, true},
    SetterCase{"HalfPixelRoundsUp", 40, kPercent, 33, 33, 49.5, kGreen, kWhite, true},
    SetterCase{"ZeroClears", 40, kPercent, 0, 0, 0, kGreen, kWhite, true},
    // A negative bar lies left of the control: stored, nothing shows.
    SetterCase{"SixteenBitMinimum", 40, kPercent, -32768, -32768, 0, kGreen, kWhite, true},
    SetterCase{"BelowSixteenBitsIgnored", 40, kPercent, -32769, 40, 60, kGreen, kWhite, false},
    SetterCase{"AboveHundredIgnored", 40, kPercent, 101, 40, 60, kGreen, kWhite, false},
    // Would be negative if cut to 16 bits.
    SetterCase{"FarAboveHundredIgnored", 40, kPercent, 40000, 40, 60, kGreen, kWhite, false},
    SetterCase{"ProgressTopByteNotDrawn", 40, kProgress, static_cast<int>(0x80FF0000u), 40, 60,
               kBlue, kWhite, true},
    SetterCase{"ProgressAtZeroKeepsItEmpty", 0, kProgress, 0xFF0000, 0, 0, kBlue, kWhite, true},
    // The surface is cleared; the bar stays away until the next redraw.
    SetterCase{"BackgroundErasesTheBar", 40, kBackground, 0x123456, 40, 0, kGreen,
               qRgb(0x56, 0x34, 0x12), true}),
    [](const testing::TestParamInfo<SetterCase>& p) { return p.param.name; });
// clang-format on

// An erased bar comes back on the next redraw or resize. An empty control has no surface;
// every drawing step must skip it.
TEST_F(SmallBarTest, RedrawsAfterAnEraseAResizeAndAnEmptySize) {
    const QRgb black = qRgb(0, 0, 0);
    bar.setPercentValue(50);
    bar.setBackgroundColor(0x000000);
    bar.setPercentValue(50);
    EXPECT_TRUE(showsBar(bar, 75, kGreen, black));
    bar.setBackgroundColor(0x000000);
    bar.resize(300, 10);
    EXPECT_TRUE(showsBar(bar, 150, kGreen, black));

    bar.resize(0, 0);
    bar.setPercentValue(60);
    bar.setProgressColor(0x0000FF);
    bar.setBackgroundColor(0xFFFFFF);
    EXPECT_TRUE(bar.grab().isNull() || bar.grab().size().isEmpty());
    bar.resize(100, 8);
    EXPECT_EQ(bar.PercentValue(), 60);
    EXPECT_TRUE(showsBar(bar, 60, kRed, kWhite));
}

// Only what differs from the defaults is stored; a value set back to its default is dropped.
// Reading applies each property in order through its setter.
TEST_F(SmallBarTest, PropertiesStoreWhatDiffersAndReadBackThroughTheSetters) {
    PropertyBag bag;
    bar.WriteProperties(bag);
    EXPECT_EQ(bag.count(), 0);
    bar.setProgressColor(0x0000FF);
    bar.setPercentValue(-5);
    bar.WriteProperties(bag);
    EXPECT_EQ(bag.count(), 2);
    EXPECT_EQ(bag.value("ProgressColor"), 0x0000FF);
    EXPECT_EQ(bag.value("PercentValue"), -5);
    bar.setProgressColor(0xFF00);
    bar.setBackgroundColor(0x00FFFF);
    bar.setPercentValue(0);
    bar.WriteProperties(bag);
    EXPECT_EQ(bag.count(), 1);
    EXPECT_EQ(bag.value("BackgroundColor"), 0x00FFFF);

    bag.writeProperty("PercentValue", 30, 0);
    bag.writeProperty("BackgroundColor", 0x000000, 0xFFFFFF);
    bag.writeProperty("ProgressColor", 0xFF0000, 0xFF00);
    QSignalSpy changed(&bar, &SmallBar::propertyChanged);
    bar.ReadProperties(bag);
    EXPECT_EQ(names(changed), (QStringList{"BackgroundColor", "ProgressColor", "PercentValue"}));
    EXPECT_TRUE(showsBar(bar, 45, kBlue, qRgb(0, 0, 0)));

    // A percent the control cannot hold is ignored, although 16 bits of it would fit.
    bag.writeProperty("PercentValue", -70000, 0);
    bar.ReadProperties(bag);
    EXPECT_EQ(bar.PercentValue(), 30);

    // Missing names apply their defaults.
    bar.ReadProperties(PropertyBag{});
    EXPECT_EQ(bar.BackgroundColor(), 0xFFFFFF);
    EXPECT_EQ(bar.ProgressColor(), 0xFF00);
    EXPECT_TRUE(showsBar(bar, 0, kGreen, kWhite));
}

}  // namespace
}  // namespace upd::controls
