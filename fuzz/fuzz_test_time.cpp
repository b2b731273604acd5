// Fuzzes the reading of the typed test time and the refusal of setpoints.
//
// Input layout: the whole input is the test-time text; its first byte also picks the setpoint
// kind and its next 8 bytes, when there, are the setpoint value as a double.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "testrun/ReaderCommand.h"
#include "testrun/SetpointRules.h"

namespace {

constexpr int kLongestTestTime = 24 * 3600 + 59 * 60 + 59;  // s

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int seconds = TestTimeFromText(text);
    Require(seconds >= 0 && seconds <= kLongestTestTime);

    if (size < 9) return 0;
    const int kinds[] = {cmdSetCurrent, cmdSetCutoffVoltage, cmdSetTestTime, 0};
    const int kind = kinds[data[0] % 4];
    double value = 0;
    std::memcpy(&value, data + 1, sizeof value);
    const auto refusal = SetpointRefusal(kind, value);  // must not throw
    if (kind == cmdSetCurrent || kind == cmdSetCutoffVoltage) {
        Require(refusal.has_value() == !(value >= 0 && value < 256));
    }
    return 0;
}
