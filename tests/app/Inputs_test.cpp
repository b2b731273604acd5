// What the window makes of a reading and of what the operator types, without the window.
#include <gtest/gtest.h>

#include <cmath>

#include "app/ReadingDisplay.h"
#include "app/SetpointInputs.h"
#include "testrun/ReaderCommand.h"
#include "testrun/SetpointRules.h"

namespace {

TDeviceReading AllFailed() {
    TDeviceReading r{};
    r.Voltage = r.Current = r.AmpHours = r.Power = r.WattHours = -1.0f;
    r.CurrentSetpoint = r.CutoffVoltage = -1.0f;
    r.TestTime = r.TestTimeSetpoint = -1;
    r.Temperature = r.Status = -1;
    return r;
}

TEST(ReadingTexts, FieldsWithoutAValueLeaveTheirBoxesAlone) {
    const TReadingTexts t = ReadingTexts(AllFailed());
    EXPECT_FALSE(t.Voltage || t.Current || t.Time || t.Power || t.WattHours || t.AmpHours);
    EXPECT_FALSE(t.CurrentSetpoint || t.CutoffVoltage || t.TestTimeSetpoint || t.Temperature);
    EXPECT_FALSE(t.TestRunning);
}

TEST(ReadingTexts, NotANumberIsSkippedLikeMinusOne) {
    TDeviceReading r = AllFailed();
    r.Voltage = std::nanf("");
    r.Status = 0;
    const TReadingTexts t = ReadingTexts(r);
    EXPECT_FALSE(t.Voltage);
    ASSERT_TRUE(t.TestRunning);
    EXPECT_FALSE(*t.TestRunning);
}

TEST(ReadingTexts, ValuesShowWithTheirDecimalsAndUnits) {
    TDeviceReading r = AllFailed();
    r.Voltage = 12.34567f;
    r.CurrentSetpoint = 2.5f;
    r.Temperature = -5;
    r.TestTime = 59;
    r.TestTimeSetpoint = 0;
    r.Status = 1;
    const TReadingTexts t = ReadingTexts(r);
    const QString sep = QString(t.Voltage->at(2));
    EXPECT_EQ(*t.Voltage, "12" + sep + "346");
    EXPECT_EQ(*t.CurrentSetpoint, "2" + sep + "50");
    EXPECT_EQ(*t.Temperature, QString("-5°C"));
    EXPECT_EQ(*t.Time, QString("00:00:59"));
    EXPECT_EQ(*t.TestTimeSetpoint, QString("00:00:00"));
    EXPECT_TRUE(*t.TestRunning);
}

TEST(ReadingTexts, StatusOtherThanZeroOrOneSaysNothing) {
    TDeviceReading r = AllFailed();
    for (int8_t status : {int8_t{2}, int8_t{-1}, int8_t{-128}}) {
        r.Status = status;
        EXPECT_FALSE(ReadingTexts(r).TestRunning) << int{status};
    }
}

TEST(TestTimeFromText, PartsAreClampedAndEmptyPartsSkipped) {
    const std::pair<const char*, int> cases[] = {
        {"01:30:00", 5400}, {"1:30", 5400},         {"90", 86400},   {"0:90:0", 3540},
        {"-1:30:00", 1800}, {"24:59:59", 89999},    {"1::30", 5400}, {":30", 86400},
        {"  :  :  ", 0},    {"1:2:3:4", 3723},      {"", 0},         {"abc", 0},
        {" 2:x:5", 7205},   {"99999999999:0:0", 0},
    };
    for (const auto& [text, seconds] : cases) EXPECT_EQ(TestTimeFromText(text), seconds) << text;
}

TEST(SetpointRefusal, ValuesTheEncodingWouldWrapAreRefused) {
    EXPECT_FALSE(SetpointRefusal(cmdSetCurrent, 0.0));
    EXPECT_FALSE(SetpointRefusal(cmdSetCurrent, 255.99));
    EXPECT_TRUE(SetpointRefusal(cmdSetCurrent, 256.0));
    EXPECT_TRUE(SetpointRefusal(cmdSetCurrent, 300.5));
    EXPECT_TRUE(SetpointRefusal(cmdSetCurrent, -1.5));
    EXPECT_TRUE(SetpointRefusal(cmdSetCutoffVoltage, -0.01));
    EXPECT_TRUE(SetpointRefusal(cmdSetCutoffVoltage, std::nan("")));
    EXPECT_FALSE(SetpointRefusal(cmdSetTestTime, 65535));
    EXPECT_TRUE(SetpointRefusal(cmdSetTestTime, 65536));
    EXPECT_TRUE(SetpointRefusal(cmdSetTestTime, 86400));
    EXPECT_TRUE(SetpointRefusal(cmdSetTestTime, 1e40));  // shown in seconds, not wrapped
    EXPECT_TRUE(SetpointRefusal(cmdSetTestTime, INFINITY));
    EXPECT_TRUE(SetpointRefusal(cmdSetTestTime, -1));
    EXPECT_TRUE(SetpointRefusal(cmdSetTestTime, std::nan("")));
    EXPECT_FALSE(SetpointRefusal(cmdStartStop, 1e9));
}

// The operator sets 1.5 A and presses Start before any reading has reported it: Start must meet
// 1.5 A, not the 0 A of the last reading, until a reading after the command's notice says so.
TEST(SetpointsAhead, AValueQueuedWinsUntilAReadingAfterItsNoticeReportsIt) {
    TSetpointsAhead ahead;
    TDeviceReading r = AllFailed();
    EXPECT_FALSE(ahead.Value(cmdSetCurrent));
    r.CurrentSetpoint = 0;
    ahead.Reading(r);
    EXPECT_EQ(ahead.Value(cmdSetCurrent), 0.0);
    ahead.Queued(cmdSetCurrent, 1.5);
    ahead.Reading(r);  // requested before the command reached the tester
    EXPECT_EQ(ahead.Value(cmdSetCurrent), 1.5);
    ahead.Done(cmdSetCurrent);
    ahead.Reading(AllFailed());  // a reading that read no setpoint tells nothing
    EXPECT_EQ(ahead.Value(cmdSetCurrent), 1.5);
    r.CurrentSetpoint = 1.5f;
    ahead.Reading(r);
    EXPECT_EQ(ahead.Value(cmdSetCurrent), 1.5);
    r.CurrentSetpoint = 2.0f;  // set at the tester's own keys
    ahead.Reading(r);
    EXPECT_EQ(ahead.Value(cmdSetCurrent), 2.0);
    ahead.Queued(cmdSetCurrent, 0.5);
    ahead.Clear();  // the connection ended: what was queued may never have been carried out
    EXPECT_FALSE(ahead.Value(cmdSetCurrent));
    EXPECT_FALSE(ahead.Value(cmdStartStop));
}

}  // namespace
