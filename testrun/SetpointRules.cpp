#include "testrun/SetpointRules.h"

#include <algorithm>
#include <cctype>
#include <cmath>

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
