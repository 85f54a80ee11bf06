#include "common/NumberChecks.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <string>

TEST(IsIntegerString, AcceptsDigitsWithOneLeadingSign)
{
    int v = -1;
    EXPECT_TRUE(IsIntegerString("42", &v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(IsIntegerString("-17", &v));
    EXPECT_EQ(v, -17);
    EXPECT_TRUE(IsIntegerString("+8", &v));
    EXPECT_EQ(v, 8);
    EXPECT_TRUE(IsIntegerString("007", &v));
    EXPECT_EQ(v, 7);
    // A lone sign passes with the value 0.
    v = 5;
    EXPECT_TRUE(IsIntegerString("-", &v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(IsIntegerString("+", &v));
    EXPECT_EQ(v, 0);
}

TEST(IsIntegerString, RejectsEverythingElse)
{
    for (const char* text : {"", " 1", "1 ", "1-", "--1", "+-1", "1.0", "1e3", "0x10", "12a", "\t3", "1,0"}) {
        int v = 99;
        EXPECT_FALSE(IsIntegerString(text, &v)) << '"' << text << '"';
        EXPECT_EQ(v, 99) << "value must stay untouched for " << text;
    }
}

TEST(IsIntegerString, HugeValuesSaturateInsteadOfOverflowing)
{
    int v = 0;
    EXPECT_TRUE(IsIntegerString("99999999999999999999999", &v));
    EXPECT_EQ(v, INT_MAX);
    EXPECT_TRUE(IsIntegerString("-99999999999999999999999", &v));
    EXPECT_EQ(v, INT_MIN);
    EXPECT_TRUE(IsIntegerString("2147483647", &v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(IsIntegerString("-2147483648", &v));
    EXPECT_EQ(v, INT_MIN);
    EXPECT_TRUE(IsIntegerString("5", nullptr)); // no place for the value
}

TEST(IsDoubleString, TrimsSpacesAndConverts)
{
    double v = 0;
    EXPECT_TRUE(IsDoubleString("  3.25  ", &v));
    EXPECT_DOUBLE_EQ(v, 3.25);
    EXPECT_TRUE(IsDoubleString("-0.5", &v));
    EXPECT_DOUBLE_EQ(v, -0.5);
    EXPECT_TRUE(IsDoubleString("+12", &v));
    EXPECT_DOUBLE_EQ(v, 12.0);
    EXPECT_TRUE(IsDoubleString(".5", &v));
    EXPECT_DOUBLE_EQ(v, 0.5);
    EXPECT_TRUE(IsDoubleString("500000.000000", &v));
    EXPECT_DOUBLE_EQ(v, 500000.0);
}

TEST(IsDoubleString, PunctuationPassesTheCheckButConvertsOnlyTheLeadingNumber)
{
    double v = 0;
    // A comma is punctuation: the check passes, the conversion stops there.
    EXPECT_TRUE(IsDoubleString("2,5", &v));
    EXPECT_DOUBLE_EQ(v, 2.0);
    EXPECT_TRUE(IsDoubleString("-", &v));
    EXPECT_DOUBLE_EQ(v, 0.0);
    EXPECT_TRUE(IsDoubleString("1/2", &v));
    EXPECT_DOUBLE_EQ(v, 1.0);
}

TEST(IsDoubleString, RejectsLettersSecondDotsInnerSignsAndBlanks)
{
    for (const char* text : {"", "   ", "1e5", "1E5", "abc", "1.2.3", "..", "1-2", "1+", "1 2", "\t1", "1\t",
                             "nan", "inf", "0x1p3", "1.5f"}) {
        double v = 42;
        EXPECT_FALSE(IsDoubleString(text, &v)) << '"' << text << '"';
        EXPECT_EQ(v, 42);
    }
}

TEST(IsDoubleString, LengthLimitAndLocaleIndependence)
{
    std::string longest(1023, '1');
    EXPECT_TRUE(IsDoubleString(longest));
    EXPECT_FALSE(IsDoubleString(longest + "1"));

    // A desktop session may run with a decimal comma; "." must still be the point.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        double v = 0;
        EXPECT_TRUE(IsDoubleString("1.5", &v));
        EXPECT_DOUBLE_EQ(v, 1.5);
        std::setlocale(LC_NUMERIC, saved.c_str());
    }
}

TEST(LeadingInteger, ReadsLikeAtoiButSaturates)
{
    EXPECT_EQ(LeadingInteger("  120px"), 120);
    EXPECT_EQ(LeadingInteger("-5"), -5);
    EXPECT_EQ(LeadingInteger(""), 0);
    EXPECT_EQ(LeadingInteger("abc"), 0);
    EXPECT_EQ(LeadingInteger("99999999999999"), INT_MAX);
}
