#pragma once
// The tester's command set over one serial link: ten reads with four attempts each, five writes
// with their pauses. Called only on the link's worker thread, one at a time. Nothing is raised: a
// read that fails returns its failure value, a write reports nothing.

#include <cstdint>

#include "device/DeviceCodec.h"
#include "device/SerialLink.h"

inline constexpr int kQueryAttempts = 4;
inline constexpr uint32_t kCommandPauseMs = 100;          // after every write
inline constexpr uint32_t kStartStopExtraPauseMs = 1000;  // after start and stop, besides

// One read command with up to four attempts; on success `data` holds d1, d2, d3, otherwise it is
// unchanged. An attempt that got no answer in time may still be answered late, and with no echo
// in the frames that answer is taken for a later request's; the tester's answer to that request
// would then be taken for the next one's, and so on, every later value one read off. So once an
// answer is taken after such an attempt, the answers still owed are waited for (each for as long
// as any answer) and discarded, before the next request goes out.
bool QueryDevice(TSerialLink& link, uint8_t command, TAnswerData& data, TAbortEvent abortEvent);
// One write command: a single transaction whose outcome is not examined, then the pause.
void SendDeviceCommand(TSerialLink& link, uint8_t command, uint8_t param1, uint8_t param2,
                       TAbortEvent abortEvent);

int32_t ReadStatus(TSerialLink& link, TAbortEvent abortEvent);       // 0 off, 1 on; -1 on failure
double ReadVoltage(TSerialLink& link, TAbortEvent abortEvent);       // V; -1.0 on failure
double ReadCurrent(TSerialLink& link, TAbortEvent abortEvent);       // A; -1.0 on failure
int32_t ReadTestTime(TSerialLink& link, TAbortEvent abortEvent);     // s; -1 on failure
double ReadAmpHours(TSerialLink& link, TAbortEvent abortEvent);      // Ah; -1.0 on failure
double ReadWattHours(TSerialLink& link, TAbortEvent abortEvent);     // Wh; -1.0 on failure
uint8_t ReadTemperature(TSerialLink& link, TAbortEvent abortEvent);  // °C; 255 on failure
double ReadCurrentSetpoint(TSerialLink& link, TAbortEvent abortEvent);    // A; -1.0 on failure
double ReadCutoffVoltage(TSerialLink& link, TAbortEvent abortEvent);      // V; -1.0 on failure
int32_t ReadTestTimeSetpoint(TSerialLink& link, TAbortEvent abortEvent);  // s; -1 on failure

void SetTestRunning(TSerialLink& link, bool run, TAbortEvent abortEvent);
// Writes the Stop request and returns: no acknowledgement waited for, no pause. The last word to a
// tester that a program leaves at once; the caller must be the only user of the port.
void WriteStopRequest(TSerialLink& link);
void WriteCurrentSetpoint(TSerialLink& link, double amperes, TAbortEvent abortEvent);
void WriteCutoffVoltage(TSerialLink& link, double volts, TAbortEvent abortEvent);
void WriteTestTime(TSerialLink& link, uint16_t seconds, TAbortEvent abortEvent);
void ResetCounters(TSerialLink& link, TAbortEvent abortEvent);
