#include "sim/TesterProtocol.h"

#include <algorithm>

namespace sim {
namespace {

enum Code : uint8_t {
    kSetTestRunning = 0x01,
    kWriteCurrentSetpoint = 0x02,
    kWriteCutoffVoltage = 0x03,
    kWriteTestTime = 0x04,
    kResetCounters = 0x05,
    kReadStatus = 0x10,
    kReadVoltage = 0x11,
    kReadCurrent = 0x12,
    kReadTestTime = 0x13,
    kReadAmpHours = 0x14,
    kReadWattHours = 0x15,
    kReadTemperature = 0x16,
    kReadCurrentSetpoint = 0x17,
    kReadCutoffVoltage = 0x18,
    kReadTestTimeSetpoint = 0x19,
};

// Setpoints arrive as integer part and hundredths; the console does not carry hundredths of
// 100 and more into the integer part, so they are kept as sent (4 and 255 is 6.55).
uint32_t Hundredths(uint8_t whole, uint8_t hundredths) {
    return whole * 100u + hundredths;
}

}  // namespace

AnswerData EncodeCount(uint32_t count) {
    count = std::min<uint32_t>(count, 0xFFFFFF);
    return {static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 8),
            static_cast<uint8_t>(count)};
}

AnswerData EncodeClockTime(uint32_t seconds) {
    seconds = std::min(seconds, kLongestClockTime_s);
    return {static_cast<uint8_t>(seconds / 3600), static_cast<uint8_t>(seconds / 60 % 60),
            static_cast<uint8_t>(seconds % 60)};
}

AnswerData EncodeSingleByte(uint8_t value) {
    return {0, 0, value};
}

std::optional<AnswerData> ReadData(uint8_t code, const Registers& registers) {
    switch (code) {
        case kReadStatus:
            return EncodeSingleByte(registers.status);
        case kReadVoltage:
            return EncodeCount(registers.voltage_mV);
        case kReadCurrent:
            return EncodeCount(registers.current_mA);
        case kReadTestTime:
            return EncodeClockTime(registers.testTime_s);
        case kReadAmpHours:
            return EncodeCount(registers.ampHours_mAh);
        case kReadWattHours:
            return EncodeCount(registers.wattHours_mWh);
        case kReadTemperature:
            return EncodeSingleByte(registers.temperature);
        case kReadCurrentSetpoint:
            return EncodeCount(registers.currentSetpoint_cA);
        case kReadCutoffVoltage:
            return EncodeCount(registers.cutoffVoltage_cV);
        case kReadTestTimeSetpoint:
            return EncodeClockTime(registers.testTimeSetpoint_s);
        default:
            return std::nullopt;
    }
}

std::array<uint8_t, kAnswerLength> ReadAnswer(const AnswerData& data) {
    return {kAnswerHeader[0], kAnswerHeader[1],  data[0],          data[1],
            data[2],          kAnswerTrailer[0], kAnswerTrailer[1]};
}

std::vector<uint8_t> CarryOut(const RequestFrame& request, DischargeModel& model) {
    const uint8_t code = request[2];
    const uint8_t p1 = request[3];
    const uint8_t p2 = request[4];
    switch (code) {
        case kSetTestRunning:
            // 1 starts and 0 stops; the console sends nothing else, which changes nothing.
            if (p1 <= 1) model.SetRunning(p1 == 1);
            return {kAcknowledge};
        case kWriteCurrentSetpoint:
            model.SetCurrentSetpoint(Hundredths(p1, p2));
            return {kAcknowledge};
        case kWriteCutoffVoltage:
            model.SetCutoffVoltage(Hundredths(p1, p2));
            return {kAcknowledge};
        case kWriteTestTime:
            model.SetTestTimeSetpoint(static_cast<uint32_t>(p1) << 8 | p2);
            return {kAcknowledge};
        case kResetCounters:
            model.ResetCounters();
            return {kAcknowledge};
        default:
            break;
    }
    const auto data = ReadData(code, model.State());
    if (!data) return {};
    if (code == kReadStatus) model.StatusRead();
    const auto answer = ReadAnswer(*data);
    return {answer.begin(), answer.end()};
}

}  // namespace sim
