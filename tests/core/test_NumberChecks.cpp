#include "core/common/NumberChecks.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <string>

TEST(IsIntegerString, DigitsWithOneLeadingSignAndSaturatingValues)
{
    const std::pair<const char*, int> accepted[] = {
        {"42", 42}, {"-17", -17}, {"+8", 8}, {"007", 7}, {"-", 0}, {"+", 0}, // a lone sign is 0
        {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
        {"99999999999999999999999", INT_MAX}, {"-99999999999999999999999", INT_MIN}};
    for (const auto& [text, value] : accepted) {
        int v = 5;
        EXPECT_TRUE(IsIntegerString(text, &v)) << text;
        EXPECT_EQ(v, value) << text;
    }
    EXPECT_TRUE(IsIntegerString("5", nullptr)); // no place for the value
    for (const char* text : {"", " 1", "1 ", "1-", "--1", "+-1", "1.0", "1e3", "0x10", "12a", "\t3", "1,0"}) {
        int v = 99;
        EXPECT_FALSE(IsIntegerString(text, &v)) << '"' << text << '"';
        EXPECT_EQ(v, 99) << "value must stay untouched for " << text;
    }
}

TEST(IsDoubleString, DigitsAndPunctuationConvertedToTheLeadingNumber)
{
    // A comma or slash is punctuation: the check passes, the conversion stops there.
    const std::pair<const char*, double> accepted[] = {
        {"  3.25  ", 3.25}, {"-0.5", -0.5}, {"+12", 12.0}, {".5", 0.5}, {"500000.000000", 500000.0},
        {"2,5", 2.0}, {"-", 0.0}, {"1/2", 1.0}};
    for (const auto& [text, value] : accepted) {
        double v = 42;
        EXPECT_TRUE(IsDoubleString(text, &v)) << text;
        EXPECT_DOUBLE_EQ(v, value) << text;
    }
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
