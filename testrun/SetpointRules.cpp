#include "testrun/SetpointRules.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>

#include "device/DeviceCodec.h"
#include "support/Format.h"
#include "support/LocaleText.h"
#include "support/Mystrutils.h"
#include "support/TimeText.h"
#include "testrun/ReaderCommand.h"

namespace {

constexpr double kLargestEncodableSetpoint = 256.0;  // exclusive: the integer part is one byte
constexpr double kLongestDurationText = 255 * 3600 + 59 * 60 + 59;  // s, what DurationText shows

// A token as a decimal integer with optional leading blanks and sign; 0 for anything else.
int TokenValue(const std::string& token) {
    size_t i = 0;
    while (i < token.size() && token[i] == ' ') ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
    if (i == token.size()) return 0;
    long value = 0;
    for (; i < token.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(token[i]))) return 0;
        value = value * 10 + (token[i] - '0');
        if (value > 1'000'000'000) return 0;  // does not fit: not a number
    }
    return static_cast<int>(negative ? -value : value);
}

}  // namespace

int TestTimeFromText(const std::string& text) {
    const TCharSet colon = CharSetOf(":");
    std::string rest = text;
    std::string token;
    const int limits[] = {24, 59, 59};
    const int weights[] = {3600, 60, 1};
    int seconds = 0;
    for (int part = 0; part < 3 && !rest.empty(); ++part) {
        CutToken(rest, colon, false, true, token);
        seconds += std::clamp(TokenValue(token), 0, limits[part]) * weights[part];
    }
    return seconds;
}

std::optional<std::string> SetpointRefusal(int kind, double value) {
    switch (kind) {
        case cmdSetCurrent:
        case cmdSetCutoffVoltage:
            if (!(value >= 0 && value < kLargestEncodableSetpoint)) {
                const char* what = kind == cmdSetCurrent ? "discharge current" : "minimum voltage";
                const char* unit = kind == cmdSetCurrent ? "A" : "V";
                return Format("The %s must be at least 0 and below 256 %s; %s %s was not sent.",
                              what, unit, FormatFixed(value, 2).c_str(), unit);
            }
            return std::nullopt;
        case cmdSetTestTime:
            if (!(value >= 0 && value <= kLargestTestTimeS)) {
                // A duration text holds 0 to 255:59:59; any other value (negative, huge, not a
                // number) is shown in seconds rather than converted to int and wrapped.
                const std::string shown = value >= 0 && value <= kLongestDurationText
                                              ? DurationText(static_cast<int>(value))
                                              : FormatFixed(value, 0) + " s";
                return Format("The test time must not exceed %s (%d s); %s was not sent.",
                              DurationText(kLargestTestTimeS).c_str(), kLargestTestTimeS,
                              shown.c_str());
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

bool SetpointIsZero(double value) {
    const std::array<uint8_t, 2> sent = EncodeSetpoint(value);
    return sent[0] == 0 && sent[1] == 0;
}

std::optional<std::string> CurrentMakesNoTest(double amperes) {
    if (!SetpointIsZero(amperes)) return std::nullopt;
    return Format(
        "A discharge current of %s A is below the tester's step of 0.01 A: the tester would draw "
        "nothing, and the test would never end.",
        FormatFixed(amperes, 3).c_str());
}

bool DrainsTheCell(double volts, int seconds) {
    return SetpointIsZero(volts) && seconds <= 0;
}

TNotStarted NotStartedCause(const TDeviceReading& r) {
    const bool voltages = r.Voltage >= 0 && r.CutoffVoltage >= 0;
    // In the units the tester counts them: the cutoff in hundredths, the voltage in thousandths.
    if (voltages && !SetpointIsZero(r.CutoffVoltage) &&
        std::lround(r.CutoffVoltage * 100.0) * 10 >= std::lround(r.Voltage * 1000.0)) {
        return {TNotStarted::TKind::CutoffAtOrAboveCell,
                Format("the cutoff of %s V is at or above the cell's %s V, so the tester ignores "
                       "Start.",
                       FormatFixed(r.CutoffVoltage, 2).c_str(), FormatFixed(r.Voltage, 3).c_str())};
    }
    // A timed test shows the time left: none left before it began is a time used up.
    if (r.TestTimeSetpoint > 0 && r.TestTime == 0) {
        return {TNotStarted::TKind::TestTimeUsedUp,
                Format("the test time of %s is used up by an earlier test, so the tester stays "
                       "stopped.",
                       DurationText(r.TestTimeSetpoint).c_str())};
    }
    std::string cause = "the tester shows the test stopped";
    if (r.Voltage >= 0) cause += " at " + FormatFixed(r.Voltage, 3) + " V";
    if (r.CutoffVoltage >= 0)
        cause += " with a cutoff of " + FormatFixed(r.CutoffVoltage, 2) + " V";
    return {TNotStarted::TKind::Other, cause + "."};
}

std::optional<TNotStarted> TStartWatch::Reading(const TDeviceReading& reading) {
    if (!FReadings) return std::nullopt;
    if (reading.Status == 1) {
        FReadings.reset();
        return std::nullopt;
    }
    if (++*FReadings < kReadingsToStart) return std::nullopt;
    FReadings.reset();
    return NotStartedCause(reading);
}
