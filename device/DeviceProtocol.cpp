#include "device/DeviceProtocol.h"

#include <algorithm>

#include "platform/DebugOutput.h"
#include "platform/ThreadStop.h"
#include "support/CommonTools.h"
#include "support/Format.h"

namespace {

constexpr int kMostOwed = 10 * kQueryAttempts;  // a whole poll cycle's attempts

// Takes in and drops the answers still owed (SerialLink.AnswersOwed), until one whole wait passes
// without an answer.
void DiscardOwedAnswers(TAbortEvent abortEvent) {
    int& owed = SerialLink.AnswersOwed;
    for (; owed > 0; --owed) {
        TAnswerFrame stray{};
        if (!ReadPort(abortEvent, stray.data(), stray.size(), kAnswerStart)) break;
        platform::DebugOutput([&] {
            return Format("Late answer discarded: %s",
                          Buff2HexString(stray.data(), stray.size(), ' ').c_str());
        });
    }
    owed = 0;
}

}  // namespace

bool QueryDevice(uint8_t command, TAnswerData& data, TAbortEvent abortEvent) {
    const TRequestFrame request = BuildRequest(command);
    // Attempts end early once the port is closed: its device went away, or the connection was
    // ended; they could only fail.
    for (int attempt = 0; attempt < kQueryAttempts && PortOpen(); ++attempt) {
        TAnswerFrame answer{};
        const bool received = PortTransaction(request.data(), request.size(), answer.data(),
                                              answer.size(), kAnswerStart, abortEvent);
        if (received && CheckAnswer(answer) == TAnswerCheck::Ok) {
            data = AnswerData(answer);
            DiscardOwedAnswers(abortEvent);
            return true;
        }
        // A whole frame that was wrong is an answer, not one owed.
        if (!received) SerialLink.AnswersOwed = std::min(SerialLink.AnswersOwed + 1, kMostOwed);
    }
    return false;
}

void SendDeviceCommand(uint8_t command, uint8_t param1, uint8_t param2, TAbortEvent abortEvent) {
    const TRequestFrame request = BuildRequest(command, param1, param2);
    uint8_t acknowledge = 0;
    PortTransaction(request.data(), request.size(), &acknowledge, 1, kAcknowledge, abortEvent);
    platform::Sleep(kCommandPauseMs);
}

namespace {

// One read: the decoded answer, or `failure` when all attempts failed.
template <typename T, typename Decode>
T ReadValue(uint8_t command, T failure, Decode decode, TAbortEvent abortEvent) {
    TAnswerData data{};
    if (!QueryDevice(command, data, abortEvent)) return failure;
    return static_cast<T>(decode(data));
}

// A read whose answer is a 24-bit count over `divisor`, or -1.0.
double ReadScaled(uint8_t command, double divisor, TAbortEvent abortEvent) {
    return ReadValue(
        command, -1.0, [divisor](const TAnswerData& d) { return DecodeCount(d) / divisor; },
        abortEvent);
}

}  // namespace

int32_t ReadStatus(TAbortEvent a) {
    return ReadValue<int32_t>(codeReadStatus, -1, DecodeByte, a);
}
double ReadVoltage(TAbortEvent a) {
    return ReadScaled(codeReadVoltage, 1000.0, a);
}
double ReadCurrent(TAbortEvent a) {
    return ReadScaled(codeReadCurrent, 1000.0, a);
}
int32_t ReadTestTime(TAbortEvent a) {
    return ReadValue(codeReadTestTime, -1, DecodeClock, a);
}
double ReadAmpHours(TAbortEvent a) {
    return ReadScaled(codeReadAmpHours, 1000.0, a);
}
double ReadWattHours(TAbortEvent a) {
    return ReadScaled(codeReadWattHours, 1000.0, a);
}
uint8_t ReadTemperature(TAbortEvent a) {
    return ReadValue<uint8_t>(codeReadTemperature, 255, DecodeByte, a);
}
double ReadCurrentSetpoint(TAbortEvent a) {
    return ReadScaled(codeReadCurrentSetpoint, 100.0, a);
}
double ReadCutoffVoltage(TAbortEvent a) {
    return ReadScaled(codeReadCutoffVoltage, 100.0, a);
}
int32_t ReadTestTimeSetpoint(TAbortEvent a) {
    return ReadValue(codeReadTestTimeSetpoint, -1, DecodeClock, a);
}

void SetTestRunning(bool run, TAbortEvent abortEvent) {
    SendDeviceCommand(codeSetTestRunning, run ? 1 : 0, 0, abortEvent);
    platform::Sleep(kStartStopExtraPauseMs);
}

void WriteStopRequest() {
    const TRequestFrame request = BuildRequest(codeSetTestRunning, 0, 0);
    WritePort(request.data(), static_cast<uint32_t>(request.size()));
}

void WriteCurrentSetpoint(double amperes, TAbortEvent abortEvent) {
    const auto p = EncodeSetpoint(amperes);
    SendDeviceCommand(codeWriteCurrentSetpoint, p[0], p[1], abortEvent);
}

void WriteCutoffVoltage(double volts, TAbortEvent abortEvent) {
    const auto p = EncodeSetpoint(volts);
    SendDeviceCommand(codeWriteCutoffVoltage, p[0], p[1], abortEvent);
}

void WriteTestTime(uint16_t seconds, TAbortEvent abortEvent) {
    const auto p = EncodeTestTime(seconds);
    SendDeviceCommand(codeWriteTestTime, p[0], p[1], abortEvent);
}

void ResetCounters(TAbortEvent abortEvent) {
    SendDeviceCommand(codeResetCounters, 0, 0, abortEvent);
}
