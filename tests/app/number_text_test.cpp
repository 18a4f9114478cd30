#include "app/number_text.h"

#include <gtest/gtest.h>

namespace upd::app {
namespace {

TEST(WholeNumberFromText, ReadsWholeFieldsRoundingHalvesToEven) {
    EXPECT_EQ(wholeNumberFromText("3"), 3);
    EXPECT_EQ(wholeNumberFromText(" 3 "), 3);
    EXPECT_EQ(wholeNumberFromText("\t2\t"), 2);
    EXPECT_EQ(wholeNumberFromText("+1"), 1);
    EXPECT_EQ(wholeNumberFromText("-4"), -4);
    EXPECT_EQ(wholeNumberFromText("2.5"), 2);
    EXPECT_EQ(wholeNumberFromText("3.5"), 4);
    EXPECT_EQ(wholeNumberFromText("-2.5"), -2);
    EXPECT_EQ(wholeNumberFromText("2.51"), 3);
    EXPECT_EQ(wholeNumberFromText(".5"), 0);
    EXPECT_EQ(wholeNumberFromText("3."), 3);
    EXPECT_EQ(wholeNumberFromText("1e1"), 10);
    EXPECT_EQ(wholeNumberFromText("1D2"), 100);
    EXPECT_EQ(wholeNumberFromText("25E-1"), 2);
    EXPECT_EQ(wholeNumberFromText("-0.4"), 0);
}

TEST(WholeNumberFromText, RefusesWhatIsNotANumber) {
    for (const char* text : {"", " ", "abc", "3a", "a3", "+", "-", ".", "1,5", "1 2", "1e", "e5",
                             "0x10", "1e+", "--1"}) {
        EXPECT_EQ(wholeNumberFromText(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(WholeNumberFromText, RefusesValuesBeyondSixtyFourBits) {
    EXPECT_EQ(wholeNumberFromText("1e300"), std::nullopt);
    EXPECT_EQ(wholeNumberFromText("-99999999999999999999"), std::nullopt);
    EXPECT_EQ(wholeNumberFromText("4611686018427387904"), std::int64_t{1} << 62);
}

TEST(LeadingWholeNumber, TakesTheNumberAtTheStart) {
    EXPECT_EQ(leadingWholeNumber("8080"), 8080);
    EXPECT_EQ(leadingWholeNumber(" 1080"), 1080);
    EXPECT_EQ(leadingWholeNumber("\t 1080 "), 1080);
    EXPECT_EQ(leadingWholeNumber("80abc"), 80);
    EXPECT_EQ(leadingWholeNumber("80 80"), 80);
    EXPECT_EQ(leadingWholeNumber("80e"), 80);
    EXPECT_EQ(leadingWholeNumber("8e2x"), 800);
    EXPECT_EQ(leadingWholeNumber("1080.5"), 1080);
    EXPECT_EQ(leadingWholeNumber("1081.5"), 1082);
    EXPECT_EQ(leadingWholeNumber("-21"), -21);
}

TEST(LeadingWholeNumber, GivesZeroWithoutANumber) {
    for (const char* text : {"", "   ", "x80", ":80", ".", "-", "e3"}) {
        EXPECT_EQ(leadingWholeNumber(text), 0) << '"' << text << '"';
    }
    EXPECT_EQ(leadingWholeNumber("1e400"), 0);
}

}  // namespace
}  // namespace upd::app
