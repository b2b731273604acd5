#pragma once
// What the tester answers to one request frame, and what a write does to it. No I/O.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/DischargeModel.h"
#include "sim/Registers.h"
#include "sim/RequestParser.h"

namespace sim {

inline constexpr uint8_t kAcknowledge = 0x6F;
inline constexpr std::array<uint8_t, 2> kAnswerHeader = {0xCA, 0xCB};
inline constexpr std::array<uint8_t, 2> kAnswerTrailer = {0xCE, 0xCF};
inline constexpr size_t kAnswerLength = 7;

using AnswerData = std::array<uint8_t, 3>;  // d1 d2 d3

// The longest time a clock answer carries, 255:59:59, in seconds.
inline constexpr uint32_t kLongestClockTime_s = 255 * 3600 + 59 * 60 + 59;
// The largest current or voltage setpoint the console writes: 255 and 99 hundredths, in
// hundredths.
inline constexpr uint32_t kLargestSetpoint_c = 255 * 100 + 99;

// The three encodings of answer data.
AnswerData EncodeCount(uint32_t count);        // 24-bit big-endian, saturating at 0xFFFFFF
AnswerData EncodeClockTime(uint32_t seconds);  // hours, minutes, seconds; at most 255:59:59
AnswerData EncodeSingleByte(uint8_t value);    // d1 = d2 = 0, d3 = value

// The data that read `code` (0x10 to 0x19) answers; nothing for any other code.
std::optional<AnswerData> ReadData(uint8_t code, const Registers& registers);

// CA CB d1 d2 d3 CE CF.
std::array<uint8_t, kAnswerLength> ReadAnswer(const AnswerData& data);

// Carries out one request on `model`: a read is answered from its registers (a status read is
// counted, for a Start shown late), a write (0x01 to 0x05) changes it and is acknowledged.
// Returns the answer's bytes; empty for an unknown code, which gets no answer.
std::vector<uint8_t> CarryOut(const RequestFrame& request, DischargeModel& model);

}  // namespace sim
