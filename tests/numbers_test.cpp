#include "report/numbers.h"
#include "report/failure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

int failureNumber(const std::function<void()>& f) {
    try {
        f();
    } catch (const ProcedureFailure& failure) {
        return failure.Number;
    }
    return 0;
}

constexpr int kOverflow = 6;
constexpr int kDivisionByZero = 11;
constexpr int kTypeMismatch = 13;

TEST(LeadingNumber, shouldReadTheNumberAtTheStartOfTheText) {
    const struct {
        const char16_t* text;
        double value;
    } cases[] = {
        {u"32", 32},    {u"32abc", 32},     {u"2.5", 2.5}, {u"3 2", 32}, {u"\t1\n2", 12},
        {u" -1", -1},   {u"- 1", -1},       {u"+7", 7},    {u".5", 0.5}, {u"1.2.3", 1.2},
        {u"1e3", 1000}, {u"1E+2x", 100},    {u"2d1", 20},  {u"1e", 1},   {u"&H10", 16},
        {u"&hff", 255}, {u"&HFFFF", 65535}, {u"&O17", 15}, {u"&o8", 0},  {u"&Hxyz", 0},
        {u"&", 0},      {u"abc", 0},        {u"", 0},      {u"\r32", 0}, {u"３２", 0},
        {u"1,5", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(leadingNumber(c.text), c.value) << QString::fromUtf16(c.text).toStdString();
    }
}

TEST(LeadingNumber, shouldFailWhenTheNumberIsBeyondAnyDouble) {
    EXPECT_EQ(failureNumber([] { leadingNumber(u"1e400"); }), kOverflow);
    EXPECT_EQ(leadingNumber(u"1e-400"), 0);
}

TEST(RoundToInt32, shouldTakeTheEvenNeighbourOfAHalf) {
    const struct {
        double value;
        int32_t rounded;
    } cases[] = {{2.5, 2},
                 {3.5, 4},
                 {10.5, 10},
                 {11.5, 12},
                 {-2.5, -2},
                 {-3.5, -4},
                 {2.4999, 2},
                 {2.5001, 3},
                 {0, 0},
                 {2147483647.4, 2147483647},
                 {-2147483648.5, -2147483648}};
    for (const auto& c : cases) {
        EXPECT_EQ(roundToInt32(c.value), c.rounded) << c.value;
    }
}

TEST(CheckedArithmetic, shouldFailInsteadOfWrapping) {
    EXPECT_EQ(failureNumber([] { roundToInt32(2147483647.5); }), kOverflow);
    EXPECT_EQ(failureNumber([] { roundToInt32(std::nan("")); }), kOverflow);
    EXPECT_EQ(failureNumber([] { add16(32767, 1); }), kOverflow);
    EXPECT_EQ(add16(32766, 1), 32767);
    EXPECT_EQ(failureNumber([] { add32(std::numeric_limits<int32_t>::max(), 1); }), kOverflow);
    EXPECT_EQ(add32(-5, 3), -2);
    EXPECT_EQ(failureNumber([] { toInt16(32768); }), kOverflow);
    EXPECT_EQ(failureNumber([] { divide(0, 0); }), kDivisionByZero);
    EXPECT_EQ(divide(21, 2), 10.5);
}

// The tests run in the C locale: "." decimal point, "," grouping.
TEST(LocaleNumber, shouldTakeOnlyAWholeNumberText) {
    const struct {
        const char16_t* text;
        double value;
    } numbers[] = {{u"4", 4},     {u" 4 ", 4}, {u"2.5", 2.5}, {u"-1", -1},
                   {u"1e2", 100}, {u"0", 0},   {u"+3", 3},    {u"1,000", 1000}};
    for (const auto& c : numbers) {
        EXPECT_EQ(localeNumber(c.text), c.value) << QString::fromUtf16(c.text).toStdString();
    }
    for (const char16_t* text :
         {u"", u"  ", u"4abc", u"abc", u"NaN", u"inf", u"1e400", u"&H10", u"4 4", u"--1"}) {
        EXPECT_EQ(failureNumber([&] { localeNumber(text); }), kTypeMismatch)
            << QString::fromUtf16(text).toStdString();
    }
}

}  // namespace
