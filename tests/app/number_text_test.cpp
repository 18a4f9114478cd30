#include "app/number_text.h"

#include <gtest/gtest.h>

namespace upd::app {
namespace {

TEST(WholeNumberFromText, ReadsWholeFieldsRoundingHalvesToEven) {
    const std::pair<const char*, std::int64_t> numbers[] = {
        {"3", 3},     {" 3 ", 3},  {"\t2\t", 2}, {"+1", 1},
        {"2.51", 3},  {".5", 0},   {"3.", 3},    {"1e1", 10},
        {"1D2", 100}, {"-0.4", 0}, {"25E-1", 2}, {"4611686018427387904", std::int64_t{1} << 62}};
    for (const auto& [text, expected] : numbers) {
        EXPECT_EQ(wholeNumberFromText(text), expected) << '"' << text << '"';
    }
    // Not a number, or beyond 64 bits.
    for (const char* text : {"", " ", "abc", "3a", "a3", "+", "-", ".", "1,5", "1 2", "1e", "e5",
                             "0x10", "1e+", "--1", "1e300", "-99999999999999999999"}) {
        EXPECT_EQ(wholeNumberFromText(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(LeadingWholeNumber, TakesTheNumberAtTheStartOrZero) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"8080", 8080}, {" 1080", 1080}, {"\t 1080 ", 1080}, {"80abc", 80},    {"80 80", 80},
        {"80e", 80},    {"8e2x", 800},   {"1080.5", 1080},   {"1081.5", 1082}, {"-21", -21},
        {"", 0},        {"   ", 0},      {"x80", 0},         {":80", 0},       {".", 0},
        {"-", 0},       {"e3", 0},       {"1e400", 0}};
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(leadingWholeNumber(text), expected) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace upd::app
