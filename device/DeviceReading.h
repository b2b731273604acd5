#pragma once
// One poll cycle's values, carried from the worker to the window as a byte-for-byte copy. A value
// that the tester did not deliver is -1 (-1.0 in the float fields); every other value, 0
// included, is a reading.

#include <cstdint>
#include <type_traits>

struct TDeviceReading {
    double TimeStamp;          // local time at the start of the cycle, days since 1899-12-30
    float Voltage;             // V
    float Current;             // A
    float AmpHours;            // Ah
    float Power;               // W, Voltage * Current
    float WattHours;           // Wh
    int32_t TestTime;          // s
    float CurrentSetpoint;     // A
    float CutoffVoltage;       // V
    int32_t TestTimeSetpoint;  // s
    int8_t Temperature;        // °C; the tester's byte taken as signed (255 reads as -1)
    int8_t Status;             // 0 test off, 1 test on
    int16_t UtcOffset;         // min, local time minus UTC at TimeStamp (in what was padding)
};

static_assert(std::is_trivially_copyable_v<TDeviceReading>);
static_assert(std::is_standard_layout_v<TDeviceReading>);
static_assert(sizeof(TDeviceReading) == 48, "the block posted for a reading keeps its size");
