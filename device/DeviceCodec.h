#pragma once
// The tester's frames and encodings as plain functions: no port, no state.
//
// Request, console to tester: B1 B2 code p1 p2 B6. Answer to a read: CA CB d1 d2 d3 CE CF.
// Acknowledgement of a write: the single byte 6F. No checksums, no echo of the code.

#include <array>
#include <cstdint>

using TRequestFrame = std::array<uint8_t, 6>;
using TAnswerFrame = std::array<uint8_t, 7>;
using TAnswerData = std::array<uint8_t, 3>;  // d1, d2, d3

inline constexpr uint8_t kAnswerStart = 0xCA;
inline constexpr uint8_t kAcknowledge = 0x6F;

// Command codes.
enum TDeviceCode : uint8_t {
    codeSetTestRunning = 0x01,
    codeWriteCurrentSetpoint = 0x02,
    codeWriteCutoffVoltage = 0x03,
    codeWriteTestTime = 0x04,
    codeResetCounters = 0x05,
    codeReadStatus = 0x10,
    codeReadVoltage = 0x11,
    codeReadCurrent = 0x12,
    codeReadTestTime = 0x13,
    codeReadAmpHours = 0x14,
    codeReadWattHours = 0x15,
    codeReadTemperature = 0x16,
    codeReadCurrentSetpoint = 0x17,
    codeReadCutoffVoltage = 0x18,
    codeReadTestTimeSetpoint = 0x19,
};

TRequestFrame BuildRequest(uint8_t command, uint8_t param1 = 0, uint8_t param2 = 0);

// What is wrong with an answer frame, checked in stages.
enum class TAnswerCheck { Ok, BadStart, BadHeader, BadTrailer };
TAnswerCheck CheckAnswer(const TAnswerFrame& answer);
TAnswerData AnswerData(const TAnswerFrame& answer);

// d1 * 65536 + d2 * 256 + d3.
uint32_t DecodeCount(const TAnswerData& data);
// d1 hours, d2 minutes, d3 seconds, in seconds.
int32_t DecodeClock(const TAnswerData& data);
// d3; d1 and d2 are ignored.
uint8_t DecodeByte(const TAnswerData& data);

// A current or voltage setpoint as (integer part, hundredths), each the low 8 bits, with no
// carry and no range check: 4.5 gives 04 32, 4.996 gives 04 64, 300.5 gives 2C 32.
std::array<uint8_t, 2> EncodeSetpoint(double value);
// A test time given as a number of seconds, truncated toward zero, as the low 16 bits that the
// tester's field holds (65536 s and more wrap; not-a-number gives 0).
uint16_t TestTimeSeconds(double seconds);
// Seconds as (high byte, low byte).
std::array<uint8_t, 2> EncodeTestTime(uint16_t seconds);
