#include "support/LocaleText.h"
#include "support/Format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

// The decimal separator the environment asks for, or '\0' when the test does not know it.
char ExpectedDecimalSeparator() {
    const char* all = std::getenv("LC_ALL");
    const std::string locale = all != nullptr ? all : "";
    if (locale.rfind("de_DE", 0) == 0) return ',';
    if (locale.rfind("en_US", 0) == 0 || locale == "C" || locale == "C.UTF-8") return '.';
    return '\0';
}

// `text` with every '.' replaced by `separator`.
std::string WithSeparator(std::string text, char separator) {
    for (char& c : text) {
        if (c == '.') c = separator;
    }
    return text;
}

// CTest runs this program once with LC_ALL=en_US.UTF-8 and once with LC_ALL=de_DE.UTF-8. The C
// library is switched to the environment's locale as the application object does, so that code
// relying on the C locale would be caught.
class LocaleTextTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::setlocale(LC_ALL, "");
        separator_ = ExpectedDecimalSeparator();
        if (separator_ == '\0') GTEST_SKIP() << "LC_ALL names no locale this test knows";
    }
    char separator_ = '\0';
};

TEST_F(LocaleTextTest, DecimalSeparatorFollowsTheEnvironment) {
    EXPECT_EQ(LocaleDecimalSeparator(), separator_);
}

TEST_F(LocaleTextTest, FixedNotationRoundsToEightDigitsThenToTheDecimals) {
    struct Case {
        double value;
        int decimals;
        std::string expected;  // with '.' standing for the locale's separator
    };
    const std::vector<Case> cases = {
        {12.3456, 3, "12.346"},
        {12.3456, 2, "12.35"},
        {0.0, 3, "0.000"},
        {3.7, 3, "3.700"},
        {-3.7, 2, "-3.70"},
        {60.0, 2, "60.00"},
        {0.5, 0, "1"},
        {1234.5, 0, "1235"},
        {0.0005, 3, "0.001"},
        {0.25, 1, "0.3"},
        {9.9995, 3, "10.000"},
        {12.345, 2, "12.35"},
        {0.12345678912, 10, "0.1234567900"},
        {12345678.9, 2, "12345679.00"},
        {1234567.891, 3, "1234567.900"},
        {1e-20, 2, "0.00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatFixed(c.value, c.decimals), WithSeparator(c.expected, separator_))
            << c.value << " with " << c.decimals << " decimals";
    }
}

TEST_F(LocaleTextTest, ValuesRoundingToZeroCarryNoMinusSign) {
    EXPECT_EQ(FormatFixed(-0.0001, 3), WithSeparator("0.000", separator_));
    EXPECT_EQ(FormatFixed(-0.0, 2), WithSeparator("0.00", separator_));
    EXPECT_EQ(FormatFixed(-0.0005, 3), WithSeparator("-0.001", separator_));
}

// The log's, the verdict's and kelvo-run's numbers: every digit, the separator asked for, and no
// sign on a value that rounds to zero, whatever the C locale says.
TEST_F(LocaleTextTest, FixedDecimalsKeepEveryDigitAndNeverWriteMinusZero) {
    EXPECT_EQ(FixedDecimals(-0.0004, 3), "0.000");
    EXPECT_EQ(FixedDecimals(-0.004, 2, ','), "0,00");
    EXPECT_EQ(FixedDecimals(-1, 2), "-1.00");
    EXPECT_EQ(FixedDecimals(-0.006, 2), "-0.01");
    EXPECT_EQ(FixedDecimals(123456789012.345, 1, separator_),
              WithSeparator("123456789012.3", separator_));
}

TEST_F(LocaleTextTest, MoreThanEightIntegerDigitsFallBackToScientific) {
    EXPECT_EQ(FormatFixed(123456789.0, 2), WithSeparator("1.2345679E+08", separator_));
    EXPECT_EQ(FormatFixed(-1e15, 3), WithSeparator("-1.0000000E+15", separator_));
    // Rounding to 8 digits makes the ninth integer digit.
    EXPECT_EQ(FormatFixed(99999999.5, 2), WithSeparator("1.0000000E+08", separator_));
    EXPECT_EQ(FormatFixed(99999999.0, 2), WithSeparator("99999999.00", separator_));
}

TEST_F(LocaleTextTest, NonFiniteValuesAreNamed) {
    EXPECT_EQ(FormatFixed(std::numeric_limits<double>::quiet_NaN(), 3), "NAN");
    EXPECT_EQ(FormatFixed(std::numeric_limits<double>::infinity(), 3), "INF");
    EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::infinity(), 3), "-INF");
}

TEST_F(LocaleTextTest, ConversionAcceptsOnlyTheLocaleSeparatorAndNoGrouping) {
    const char other = separator_ == '.' ? ',' : '.';
    double value = 0;
    EXPECT_TRUE(TryLocaleTextToFloat(WithSeparator("  -2.5e1  ", separator_), value));
    EXPECT_DOUBLE_EQ(value, -25.0);
    EXPECT_TRUE(TryLocaleTextToFloat(WithSeparator("+.5", separator_), value));
    EXPECT_DOUBLE_EQ(value, 0.5);
    EXPECT_TRUE(TryLocaleTextToFloat(WithSeparator("7.", separator_), value));
    EXPECT_DOUBLE_EQ(value, 7.0);

    value = 42;
    for (const std::string& bad :
         {std::string("2") + other + "5", std::string("1") + other + "234" + separator_ + "5",
          std::string("1") + separator_ + "234" + separator_ + "5", std::string(""),
          std::string("   "), std::string("-"), std::string(1, separator_), std::string("1e"),
          std::string("1e+"), std::string("e5"), std::string("1 2"), std::string("inf"),
          std::string("nan"), std::string("0x10"), std::string("$FF"), std::string("1e400")}) {
        EXPECT_FALSE(TryLocaleTextToFloat(bad, value)) << "text \"" << bad << "\"";
        EXPECT_EQ(value, 42) << "text \"" << bad << "\"";
    }
}

}  // namespace
