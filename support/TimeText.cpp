#include "support/TimeText.h"

#include <cstdint>

#include "support/Format.h"

std::string TwoDigits(int n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

std::string LongDurationText(long long seconds) {
    return TwoDigits(static_cast<int>(seconds / 3600)) + ":" +
           TwoDigits(static_cast<int>(seconds / 60 % 60)) + ":" +
           TwoDigits(static_cast<int>(seconds % 60));
}

std::string DurationText(int seconds) {
    const int h = seconds / 3600;
    const int m = (seconds - 3600 * h) / 60;
    const int s = seconds - 3600 * h - 60 * m;
    return Format("%s:%s:%s", TwoDigits(static_cast<uint8_t>(h)).c_str(),
                  TwoDigits(static_cast<uint8_t>(m)).c_str(),
                  TwoDigits(static_cast<uint8_t>(s)).c_str());
}
