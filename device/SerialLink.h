#pragma once
// The one serial port through which the console reaches the tester: open and configure it,
// close it, write a buffer, read an answer of known length that begins with a known start byte,
// and one request/answer transaction made of these. Opening and closing are told to the window's
// thread as UM_PORT_OPENED / UM_PORT_CLOSED. Failures are debug lines and false results; nothing
// is raised to the caller.
//
// Threads: everything runs on the worker thread, except ClosePort(), which the window's thread
// also calls when the selected port's device goes away. That close is safe at any moment: waits
// on the port wake at once and fail, and the worker's transaction ends as a failure.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/SerialPort.h"

// An optional event that ends a pending read early; null means none.
using TAbortEvent = platform::Event*;
inline constexpr TAbortEvent kNoAbortEvent = nullptr;

// The handle of the open port, or platform::kInvalidPort. Set only by OpenPort(), reset only by
// ClosePort().
extern std::atomic<platform::SerialHandle> PortHandle;

// How long a read waits for each pending request, in ms.
inline constexpr uint32_t kReadWaitMs = 500;

// Opens `devicePath` at `baud`, 8 data bits, no parity, one stop bit. A port still open is
// closed first, without a notice, so that each open is followed by exactly one notice.
bool OpenPort(const std::string& devicePath, uint32_t baud);
void ClosePort();
// True while a port is open.
bool PortOpen();
// Runs `post` (which posts to the window's thread) only while `port` is still the open port, and
// returns whether it ran. ClosePort() posts its notice under the same lock, so nothing posted
// here can reach the window after the notice of that port's close.
bool PostWhilePortOpen(platform::SerialHandle port, const std::function<void()>& post);
// Always true; gives up as soon as a pass writes nothing.
bool WritePort(const uint8_t* data, uint32_t count);
// True when `count` bytes beginning with `startByte` are in `buffer`.
bool ReadPort(TAbortEvent abortEvent, uint8_t* buffer, uint8_t count, uint8_t startByte);
// Sends a request and, when `answer` is given and `answerLength` is above 0, reads the answer.
bool PortTransaction(const uint8_t* request, uint32_t requestLength, uint8_t* answer,
                     uint8_t answerLength, uint8_t startByte, TAbortEvent abortEvent);

// T of the time-outs, in ms, for a baud rate: trunc((s / 2 + 1) / baud * 1000 * 2 + (d + 1)).
uint32_t IntervalTimeoutMs(uint32_t baud, uint8_t stopBitsCode, uint8_t dataBits);
