#include "app/ReadingDisplay.h"

#include <cmath>

#include "support/LocaleText.h"
#include "support/TimeText.h"

namespace {

constexpr int kMeasuredDecimals = 3;
constexpr int kSetpointDecimals = 2;

// A float field's text, or nothing when the field holds no reading.
std::optional<QString> Fixed(float value, int decimals) {
    if (value == -1.0f || std::isnan(value)) return std::nullopt;
    return QString::fromStdString(FormatFixed(value, decimals));
}

std::optional<QString> Duration(int32_t seconds) {
    if (seconds == -1) return std::nullopt;
    return QString::fromStdString(DurationText(seconds));
}

}  // namespace

QString TemperatureText(int celsius) {
    return QString::number(celsius) + QStringLiteral("°C");
}

TReadingTexts ReadingTexts(const TDeviceReading& r) {
    TReadingTexts t;
    t.Voltage = Fixed(r.Voltage, kMeasuredDecimals);
    t.Current = Fixed(r.Current, kMeasuredDecimals);
    t.Time = Duration(r.TestTime);
    if (r.Status == 1) t.TestRunning = true;
    if (r.Status == 0) t.TestRunning = false;
    t.Power = Fixed(r.Power, kMeasuredDecimals);
    t.WattHours = Fixed(r.WattHours, kMeasuredDecimals);
    t.AmpHours = Fixed(r.AmpHours, kMeasuredDecimals);
    t.CurrentSetpoint = Fixed(r.CurrentSetpoint, kSetpointDecimals);
    t.CutoffVoltage = Fixed(r.CutoffVoltage, kSetpointDecimals);
    if (r.Temperature != -1) t.Temperature = TemperatureText(r.Temperature);
    t.TestTimeSetpoint = Duration(r.TestTimeSetpoint);
    return t;
}

void MergeTexts(TReadingTexts& earlier, const TReadingTexts& later) {
    const auto over = [](std::optional<QString>& kept, const std::optional<QString>& newer) {
        if (newer) kept = newer;
    };
    over(earlier.Voltage, later.Voltage);
    over(earlier.Current, later.Current);
    over(earlier.Time, later.Time);
    over(earlier.Power, later.Power);
    over(earlier.WattHours, later.WattHours);
    over(earlier.AmpHours, later.AmpHours);
    over(earlier.CurrentSetpoint, later.CurrentSetpoint);
    over(earlier.CutoffVoltage, later.CutoffVoltage);
    over(earlier.TestTimeSetpoint, later.TestTimeSetpoint);
    over(earlier.Temperature, later.Temperature);
    if (later.TestRunning) earlier.TestRunning = later.TestRunning;
}
