#include "device/DeviceProtocol.h"

#include <algorithm>

#include "platform/DebugOutput.h"
#include "platform/ThreadStop.h"
#include "support/CommonTools.h"
#include "support/Format.h"

namespace {

constexpr int kMostOwed = 10 * kQueryAttempts;  // a whole poll cycle's attempts

// Takes in and drops the answers still owed (TSerialLink::AnswersOwed), until one whole wait passes
// without an answer.
void DiscardOwedAnswers(TSerialLink& link, TAbortEvent abortEvent) {
    int& owed = link.AnswersOwed;
    for (; owed > 0; --owed) {
        TAnswerFrame stray{};
        if (!link.Read(abortEvent, stray.data(), stray.size(), kAnswerStart)) break;
        platform::DebugOutput([&] {
            return Format("Late answer discarded: %s",
                          Buff2HexString(stray.data(), stray.size(), ' ').c_str());
        });
    }
    owed = 0;
}

}  // namespace

bool QueryDevice(TSerialLink& link, uint8_t command, TAnswerData& data, TAbortEvent abortEvent) {
    const TRequestFrame request = BuildRequest(command);
    // Attempts end early once the port is closed: its device went away, or the connection was
    // ended; they could only fail.
    for (int attempt = 0; attempt < kQueryAttempts && link.IsOpen(); ++attempt) {
        TAnswerFrame answer{};
        const bool received = link.Transaction(request.data(), request.size(), answer.data(),
                                               answer.size(), kAnswerStart, abortEvent);
        if (received && CheckAnswer(answer) == TAnswerCheck::Ok) {
            data = AnswerData(answer);
            DiscardOwedAnswers(link, abortEvent);
            return true;
        }
        // A whole frame that was wrong is an answer, not one owed.
        if (!received) link.AnswersOwed = std::min(link.AnswersOwed + 1, kMostOwed);
    }
    return false;
}

void SendDeviceCommand(TSerialLink& link, uint8_t command, uint8_t param1, uint8_t param2,
                       TAbortEvent abortEvent) {
    const TRequestFrame request = BuildRequest(command, param1, param2);
    uint8_t acknowledge = 0;
    link.Transaction(request.data(), request.size(), &acknowledge, 1, kAcknowledge, abortEvent);
    platform::Sleep(kCommandPauseMs);
}

namespace {

// One read: the decoded answer, or `failure` when all attempts failed.
template <typename T, typename Decode>
T ReadValue(TSerialLink& link, uint8_t command, T failure, Decode decode, TAbortEvent abortEvent) {
    TAnswerData data{};
    if (!QueryDevice(link, command, data, abortEvent)) return failure;
    return static_cast<T>(decode(data));
}

// A read whose answer is a 24-bit count over `divisor`, or -1.0.
double ReadScaled(TSerialLink& link, uint8_t command, double divisor, TAbortEvent abortEvent) {
    return ReadValue(
        link, command, -1.0, [divisor](const TAnswerData& d) { return DecodeCount(d) / divisor; },
        abortEvent);
}

}  // namespace

int32_t ReadStatus(TSerialLink& link, TAbortEvent a) {
    return ReadValue<int32_t>(link, codeReadStatus, -1, DecodeByte, a);
}
double ReadVoltage(TSerialLink& link, TAbortEvent a) {
    return ReadScaled(link, codeReadVoltage, 1000.0, a);
}
double ReadCurrent(TSerialLink& link, TAbortEvent a) {
    return ReadScaled(link, codeReadCurrent, 1000.0, a);
}
int32_t ReadTestTime(TSerialLink& link, TAbortEvent a) {
    return ReadValue(link, codeReadTestTime, -1, DecodeClock, a);
}
double ReadAmpHours(TSerialLink& link, TAbortEvent a) {
    return ReadScaled(link, codeReadAmpHours, 1000.0, a);
}
double ReadWattHours(TSerialLink& link, TAbortEvent a) {
    return ReadScaled(link, codeReadWattHours, 1000.0, a);
}
uint8_t ReadTemperature(TSerialLink& link, TAbortEvent a) {
    return ReadValue<uint8_t>(link, codeReadTemperature, 255, DecodeByte, a);
}
double ReadCurrentSetpoint(TSerialLink& link, TAbortEvent a) {
    return ReadScaled(link, codeReadCurrentSetpoint, 100.0, a);
}
double ReadCutoffVoltage(TSerialLink& link, TAbortEvent a) {
    return ReadScaled(link, codeReadCutoffVoltage, 100.0, a);
}
int32_t ReadTestTimeSetpoint(TSerialLink& link, TAbortEvent a) {
    return ReadValue(link, codeReadTestTimeSetpoint, -1, DecodeClock, a);
}

void SetTestRunning(TSerialLink& link, bool run, TAbortEvent abortEvent) {
    SendDeviceCommand(link, codeSetTestRunning, run ? 1 : 0, 0, abortEvent);
    platform::Sleep(kStartStopExtraPauseMs);
}

void WriteStopRequest(TSerialLink& link) {
    const TRequestFrame request = BuildRequest(codeSetTestRunning, 0, 0);
    link.Write(request.data(), static_cast<uint32_t>(request.size()));
}

void WriteCurrentSetpoint(TSerialLink& link, double amperes, TAbortEvent abortEvent) {
    const auto p = EncodeSetpoint(amperes);
    SendDeviceCommand(link, codeWriteCurrentSetpoint, p[0], p[1], abortEvent);
}

void WriteCutoffVoltage(TSerialLink& link, double volts, TAbortEvent abortEvent) {
    const auto p = EncodeSetpoint(volts);
    SendDeviceCommand(link, codeWriteCutoffVoltage, p[0], p[1], abortEvent);
}

void WriteTestTime(TSerialLink& link, uint16_t seconds, TAbortEvent abortEvent) {
    const auto p = EncodeTestTime(seconds);
    SendDeviceCommand(link, codeWriteTestTime, p[0], p[1], abortEvent);
}

void ResetCounters(TSerialLink& link, TAbortEvent abortEvent) {
    SendDeviceCommand(link, codeResetCounters, 0, 0, abortEvent);
}
