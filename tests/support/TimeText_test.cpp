#include "support/TimeText.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeText, TwoDigitsPadsOnlyBelowTen) {
    EXPECT_EQ(TwoDigits(0), "00");
    EXPECT_EQ(TwoDigits(5), "05");
    EXPECT_EQ(TwoDigits(12), "12");
    EXPECT_EQ(TwoDigits(123), "123");
}

TEST(TimeText, DurationsShowHoursMinutesSeconds) {
    const std::pair<int, const char*> cases[] = {
        {0, "00:00:00"},           {59, "00:00:59"},
        {3600, "01:00:00"},        {3725, "01:02:05"},
        {90000, "25:00:00"},       {99 * 3600 + 59 * 60 + 59, "99:59:59"},
        {100 * 3600, "100:00:00"}, {255 * 3600 + 59 * 60 + 59, "255:59:59"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(DurationText(seconds), text) << seconds;
    // Past the tester's 255 hours a long test's duration goes on counting.
    EXPECT_EQ(LongDurationText(3725), "01:02:05");
    EXPECT_EQ(LongDurationText(300 * 3600 + 61), "300:01:01");
}

}  // namespace
