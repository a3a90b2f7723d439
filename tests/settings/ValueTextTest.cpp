#include "settings/ValueText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace morvane {
namespace {

TEST(ValueTextInteger, DecimalWithOptionalSign) {
  EXPECT_EQ(ParseIntegerText("12"), 12);
  EXPECT_EQ(ParseIntegerText("+12"), 12);
  EXPECT_EQ(ParseIntegerText("-4"), -4);
  EXPECT_EQ(ParseIntegerText("007"), 7);
  EXPECT_EQ(ParseIntegerText("0"), 0);
  EXPECT_EQ(ParseIntegerText("2147483647"), 2147483647);
  EXPECT_EQ(ParseIntegerText("-2147483648"), std::numeric_limits<int>::min());
}

TEST(ValueTextInteger, HexadecimalAfter0x) {
  EXPECT_EQ(ParseIntegerText("0x0C"), 12);
  EXPECT_EQ(ParseIntegerText("0X0c"), 12);
  EXPECT_EQ(ParseIntegerText("0x1f"), 31);
  EXPECT_EQ(ParseIntegerText("0x7FFFFFFF"), 2147483647);
}

TEST(ValueTextInteger, AnythingElseIsNoNumber) {
  for (const char* text :
       {"",      "0x",   "0X",         "x12",         "0xG",        "0x-5",
        "0x+5",  "0x 5", "12.5",       "12,5",        "1e3",        "abc",
        "12abc", "- 4",  "--4",        "+",           "-",          " 12",
        "12 ",   "$0C",  "2147483648", "-2147483649", "0x80000000", "99999999999999999999"}) {
    EXPECT_EQ(ParseIntegerText(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(ValueTextDecimal, ReadsWithTheGivenSeparatorOnly) {
  EXPECT_EQ(ParseDecimalText("0.015", "."), 0.015);
  EXPECT_EQ(ParseDecimalText("0,015", ","), 0.015);
  EXPECT_EQ(ParseDecimalText("0,015", "."), std::nullopt);
  EXPECT_EQ(ParseDecimalText("0.58", ","), std::nullopt);
  EXPECT_EQ(ParseDecimalText("12", "."), 12.0);
  EXPECT_EQ(ParseDecimalText("-0.5", "."), -0.5);
  EXPECT_EQ(ParseDecimalText("+0.5", "."), 0.5);
  EXPECT_EQ(ParseDecimalText(".5", "."), 0.5);
  EXPECT_EQ(ParseDecimalText("5.", "."), 5.0);
  EXPECT_EQ(ParseDecimalText("1.5E-2", "."), 0.015);
  EXPECT_EQ(ParseDecimalText("15e-3", "."), 0.015);
  EXPECT_EQ(ParseDecimalText("0\xD9\xAB"
                             "5",
                             "\xD9\xAB"),
            0.5);
}

TEST(ValueTextDecimal, AnythingElseIsNoNumber) {
  for (const char* text : {"", ".", "-", "+.", "abc", "0.0.1", "1e", "1e+", "0x10", "1 000",
                           "1,000.5", "nan", "inf", "NaN", "1.5f", " 1.5", "1.5 ", "1e999"}) {
    EXPECT_EQ(ParseDecimalText(text, "."), std::nullopt) << '"' << text << '"';
  }
}

TEST(ValueTextFormat, FixedFormWithoutTrailingZeros) {
  EXPECT_EQ(FormatDecimal(0.015, "."), "0.015");
  EXPECT_EQ(FormatDecimal(0.01, "."), "0.01");
  EXPECT_EQ(FormatDecimal(0.15, "."), "0.15");
  EXPECT_EQ(FormatDecimal(0.1, "."), "0.1");
  EXPECT_EQ(FormatDecimal(0.005, "."), "0.005");
  EXPECT_EQ(FormatDecimal(0.58, "."), "0.58");
  EXPECT_EQ(FormatDecimal(1.0, "."), "1");
  EXPECT_EQ(FormatDecimal(0.0, "."), "0");
  EXPECT_EQ(FormatDecimal(-0.25, "."), "-0.25");
  EXPECT_EQ(FormatDecimal(0.015, ","), "0,015");
  EXPECT_EQ(FormatDecimal(1024, ","), "1024");
}

TEST(ValueTextFormat, AtMostFifteenSignificantDigits) {
  EXPECT_EQ(FormatDecimal(0.1 + 0.2, "."), "0.3");
  EXPECT_EQ(FormatDecimal(1.0 / 3.0, "."), "0.333333333333333");
  EXPECT_EQ(FormatDecimal(2.0 / 3.0, "."), "0.666666666666667");
  EXPECT_EQ(FormatDecimal(0.0000001, "."), "0.0000001");
  EXPECT_EQ(FormatDecimal(123456789012345678.0, "."), "123456789012346000");
}

TEST(ValueTextFormat, FormattedValueReadsBack) {
  for (double value : {0.005, 0.013, 0.0999, 0.1, 0.3, 0.2, 0.58, 1.0, 0.123}) {
    EXPECT_EQ(ParseDecimalText(FormatDecimal(value, ","), ","), value);
    EXPECT_EQ(ParseDecimalText(FormatDecimal(value, "."), "."), value);
  }
}

TEST(ValueTextRound, ToThreePlacesHalvesAwayFromZero) {
  EXPECT_EQ(RoundToDecimals(0.0126, 3), 0.013);
  EXPECT_EQ(RoundToDecimals(0.0124, 3), 0.012);
  EXPECT_EQ(RoundToDecimals(0.0125, 3), 0.013);
  // Just below 0.0145 in binary; taken as the decimal it shows.
  EXPECT_EQ(RoundToDecimals(0.0145, 3), 0.015);
  EXPECT_EQ(RoundToDecimals(0.0999, 3), 0.1);
  EXPECT_EQ(RoundToDecimals(0.9996, 3), 1.0);
  EXPECT_EQ(RoundToDecimals(0.015, 3), 0.015);
  EXPECT_EQ(RoundToDecimals(0.0004, 3), 0.0);
  EXPECT_EQ(RoundToDecimals(0.0005, 3), 0.001);
  EXPECT_EQ(RoundToDecimals(0.00004, 3), 0.0);
  EXPECT_EQ(RoundToDecimals(-0.0126, 3), -0.013);
}

TEST(ValueTextRound, ToWholeNumbers) {
  EXPECT_EQ(RoundToDecimals(12.5, 0), 13.0);
  EXPECT_EQ(RoundToDecimals(12.49, 0), 12.0);
  EXPECT_EQ(RoundToDecimals(99.5, 0), 100.0);
  EXPECT_EQ(RoundToDecimals(0.4, 0), 0.0);
  EXPECT_EQ(RoundToDecimals(0.6, 0), 1.0);
  EXPECT_EQ(RoundToDecimals(512, 0), 512.0);
}

TEST(ValueTextRound, NonFiniteValuesPassUnchanged) {
  EXPECT_TRUE(std::isnan(RoundToDecimals(std::nan(""), 3)));
  EXPECT_EQ(RoundToDecimals(std::numeric_limits<double>::infinity(), 3),
            std::numeric_limits<double>::infinity());
}

}  // namespace
}  // namespace morvane
