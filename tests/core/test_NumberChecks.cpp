#include "core/common/NumberFormat.h"
#include "core/common/NumberChecks.h"

#include <gtest/gtest.h>

#include <vector>

#include <limits>

#include <cstdio>

#include <cmath>

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

TEST(NumberFormat, FixedIsWhatPrintfWritesForEveryKindOfValueAndPrecision)
{
    std::vector<double> values = {0.0, -0.0, 0.0000005, -0.0000005, 1.0000005, 2.5e-7, -2.5e-7, 999999999.9999995,
                                  1e9, -1e9, 1e15, 1.7976931348623157e308, 4.9e-324, -123456.7890125,
                                  std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    // Exact binary ties at the seventh decimal (k / 128 = ...0.5 millionths).
    for (int k = -2000; k <= 2000; ++k)
        values.push_back(k / 128.0 + 500000.0 * (k % 3));
    // Random values over many magnitudes, millimetre-rounded ones among them.
    unsigned long long s = 88172645463325252ull;
    for (int i = 0; i < 300000; ++i) {
        s ^= s << 13, s ^= s >> 7, s ^= s << 17;
        const double unit = static_cast<double>(s >> 11) / 9007199254740992.0;
        const double v = (unit - 0.5) * std::pow(10.0, static_cast<int>(s % 20) - 8);
        values.push_back(v);
        values.push_back(std::round(v * 1000) / 1000);
        values.push_back(std::nextafter(v, 0.0));
    }
    // Ties of every precision: k / 2^m with m up to 8 covers the last digit.
    for (int k = -600; k <= 600; ++k)
        for (double m : {2.0, 8.0, 32.0, 256.0})
            values.push_back(k / m + 1234.0 * (k % 5));
    char ours[kFixedCapacity], theirs[kFixedCapacity];
    int mismatches = 0;
    for (double v : values) {
        const std::string a(ours, FormatFixed6(v, ours));
        std::snprintf(theirs, sizeof theirs, "%.6f", v);
        if (a != theirs && ++mismatches < 5)
            ADD_FAILURE() << a << " != " << theirs << " for " << std::hexfloat << v;
    }
    for (int decimals = 0; decimals <= 9; ++decimals)
        for (size_t i = decimals; i < values.size(); i += 3) {
            const std::string a(ours, FormatFixed(values[i], decimals, ours));
            std::snprintf(theirs, sizeof theirs, "%.*f", decimals, values[i]);
            if (a != theirs && ++mismatches < 5)
                ADD_FAILURE() << a << " != " << theirs << " for %." << decimals << "f of " << std::hexfloat << values[i];
        }
    EXPECT_EQ(mismatches, 0);
}
