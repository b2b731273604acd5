#pragma once
// The one serial port through which the console reaches the tester: open and configure it,
// close it, write a buffer, read an answer of known length that begins with a known start byte,
// and one request/answer transaction made of these. Opening and closing are told to the window's
// thread as UM_PORT_OPENED / UM_PORT_CLOSED. Failures are debug lines and false results; nothing
// is raised to the caller.
//
// Threads: everything runs on the worker thread, except ClosePort(), which the window's thread
// also calls when the connected port's device goes away. That close is safe at any moment: waits
// on the port wake at once and fail, and the worker's transaction ends as a failure.
//
// A line that shows its device gone (a hang-up, an unplugged adapter, a simulator that was
// killed) is closed by the link itself at the end of the transaction that saw it, through the
// same path as any close: the window hears UM_PORT_CLOSED with the error, and every later
// transaction fails at once instead of spinning on a dead descriptor.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/SerialPort.h"

// An optional event that ends a pending read early; null means none.
using TAbortEvent = platform::Event*;
inline constexpr TAbortEvent kNoAbortEvent = nullptr;

// The state of the link, in one place.
struct TSerialLinkState {
    // The handle of the open port, or platform::kInvalidPort. Set only by OpenPort(), reset only
    // by ClosePort().
    std::atomic<platform::SerialHandle> PortHandle{platform::kInvalidPort};
    // Read requests on the open port that got no answer in time and may still be answered late
    // (see QueryDevice). Worker thread only; every open starts from 0.
    int AnswersOwed = 0;
    // Held while a notice about the port is posted, and while a reading is posted that must come
    // before the notice of that port's close, so the window hears them in the order they happened.
    std::mutex NoticeLock;
};
extern TSerialLinkState SerialLink;

// How long a read waits for each pending request, in ms.
inline constexpr uint32_t kReadWaitMs = 500;

// Opens `devicePath` at `baud`, 8 data bits, no parity, one stop bit. A port still open is
// closed first, without a notice, so that each open is followed by exactly one notice:
// UM_PORT_OPENED, or UM_PORT_CLOSED carrying the errno value of the failed step as its first
// parameter. When a ClosePort() from another thread overtakes the open, its notice is the one.
bool OpenPort(const std::string& devicePath, uint32_t baud);
// Closes the port if one is open and posts UM_PORT_CLOSED with `error` as its first parameter:
// 0 for a close that was asked for, else the errno value that ended the connection.
void ClosePort(int error = 0);
// True while a port is open.
bool PortOpen();
// Runs `post` (which posts to the window's thread) only while `port` is still the open port, and
// returns whether it ran. ClosePort() posts its notice under the same lock, so nothing posted
// here can reach the window after the notice of that port's close.
bool PostWhilePortOpen(platform::SerialHandle port, const std::function<void()>& post);
// Closes `port` with `error`, as ClosePort() does, if it is still the open port; false otherwise.
bool ClosePortIfOpen(platform::SerialHandle port, int error);
// Always true; gives up as soon as a pass writes nothing.
bool WritePort(const uint8_t* data, uint32_t count);
// True when `count` bytes beginning with `startByte` are in `buffer`.
bool ReadPort(TAbortEvent abortEvent, uint8_t* buffer, uint8_t count, uint8_t startByte);
// Closes `port` when its line has shown the device gone, with that error; true when it did.
bool CloseIfDeviceGone(platform::SerialHandle port);
// Sends a request and, when `answer` is given and `answerLength` is above 0, reads the answer.
// Ends with CloseIfDeviceGone().
bool PortTransaction(const uint8_t* request, uint32_t requestLength, uint8_t* answer,
                     uint8_t answerLength, uint8_t startByte, TAbortEvent abortEvent);

// T of the time-outs, in ms, for a baud rate: trunc((s / 2 + 1) / baud * 1000 * 2 + (d + 1)).
uint32_t IntervalTimeoutMs(uint32_t baud, uint8_t stopBitsCode, uint8_t dataBits);
