#pragma once
// What one reading shows in the window: the text of each box, or nothing where the field holds
// no value (-1, or not a number) and the box keeps its text; and the test state when the reading
// reports one.

#include <QString>
#include <optional>

#include "device/DeviceReading.h"

struct TReadingTexts {
    std::optional<QString> Voltage, Current, Time, Power, WattHours, AmpHours;  // measured
    std::optional<QString> CurrentSetpoint, CutoffVoltage, TestTimeSetpoint;    // setpoints
    std::optional<QString> Temperature;
    std::optional<bool> TestRunning;  // from Status 1 or 0; other values say nothing
};

TReadingTexts ReadingTexts(const TDeviceReading& reading);

// `later`'s texts over `earlier`'s: what the boxes show after both readings.
void MergeTexts(TReadingTexts& earlier, const TReadingTexts& later);

// A temperature as shown: "25°C", "-5°C".
QString TemperatureText(int celsius);
