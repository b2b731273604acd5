#include "support/NumberText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "support/Errors.h"

namespace {

TEST(IsNumberTextTest, AcceptsDecimalAndDollarHexNumbersOnly) {
    const std::vector<std::string> numbers = {
        "12",  " 12 ",   "\t12\r\n", "-5",  "+5",  "1.5", "1,5",
        "1e5", "1.5e-3", "1E+5",     "$FF", "$1a", ".",   "1e5.5",
    };
    for (const std::string& text : numbers) EXPECT_TRUE(IsNumberText(text)) << "\"" << text << "\"";

    const std::vector<std::string> others = {
        "",
        "  ",
        "-",
        "+",
        "5-",
        "1.2.3",
        "1,2.3",
        "1e5e3",
        "e5",
        "$",
        "$-1",
        "1 2",
        "--5",
        "1.e5",
        "$1e+5",
        "\xFF"
        "12",
        "12\xFF",
        "0x1F",
        "abc",
    };
    for (const std::string& text : others) EXPECT_FALSE(IsNumberText(text)) << "\"" << text << "\"";
}

class NumberConversionTest : public ::testing::Test {
  protected:
    // Runs in the environment's locale (CTest sets LC_ALL to en_US.UTF-8, then de_DE.UTF-8), with
    // the C library switched to it as the application object does.
    void SetUp() override { std::setlocale(LC_ALL, ""); }
};

TEST_F(NumberConversionTest, EitherMarkIsReadAsTheDecimalSeparatorInEveryLocale) {
    const std::vector<std::pair<std::string, double>> cases = {
        {"2.5", 2.5}, {"2,5", 2.5},       {" -2,5 ", -2.5}, {"+2.5", 2.5},
        {"1e5", 1e5}, {"1,5e-3", 1.5e-3}, {"60", 60.0},     {"0,05", 0.05},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_DOUBLE_EQ(StrToFloatAnySep(text), expected) << "\"" << text << "\"";
        EXPECT_DOUBLE_EQ(ParseFloatDef(text, -1), expected) << "\"" << text << "\"";
    }
}

TEST_F(NumberConversionTest, GroupedNumbersFailWithTheConversionMessage) {
    for (const char* text : {"1.234,5", "1,234.5", "1,234,5", "1.234.5"}) {
        try {
            StrToFloatAnySep(text);
            ADD_FAILURE() << "\"" << text << "\" converted";
        } catch (const EConvertError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "'" + std::string(text) + "' is not a valid floating point value");
        }
    }
}

TEST_F(NumberConversionTest, EveryFailureGivesTheDefault) {
    // "$FF", "." and "1e+" pass the check but do not convert; "1e400" overflows.
    for (const char* text : {"abc", "", "$FF", ".", "1e+", "1.234,5", "1e400", "2.5x"}) {
        EXPECT_EQ(ParseFloatDef(text, 7.25), 7.25) << "\"" << text << "\"";
    }
    EXPECT_EQ(ParseFloatDef("abc", 0), 0);
}

}  // namespace
