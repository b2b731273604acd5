#pragma once
// The tester's registers as it answers them, in wire units.

#include <cstdint>

namespace sim {

struct Registers {
    uint8_t status = 0;               // 0x10: 0 test off, 1 test on
    uint32_t voltage_mV = 0;          // 0x11, 24-bit count /1000
    uint32_t current_mA = 0;          // 0x12
    uint32_t testTime_s = 0;          // 0x13, answered as hours, minutes, seconds bytes
    uint32_t ampHours_mAh = 0;        // 0x14 (N/1000 Ah)
    uint32_t wattHours_mWh = 0;       // 0x15
    uint8_t temperature = 25;         // 0x16, single byte (°C; below 0 as two's complement)
    uint32_t currentSetpoint_cA = 0;  // 0x17 hundredths of an ampere
    uint32_t cutoffVoltage_cV = 0;    // 0x18 hundredths of a volt
    uint32_t testTimeSetpoint_s = 0;  // 0x19, answered as h, m, s

    bool operator==(const Registers&) const = default;
};

}  // namespace sim
