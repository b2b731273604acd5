#pragma once
// One serial port through which a program reaches one tester: open and configure it, close it,
// write a buffer, read an answer of known length that begins with a known start byte, and one
// request/answer transaction made of these. A program makes one link per tester it talks to;
// links share nothing. Opening and closing are told to the link's receiver as TPortOpened /
// TPortClosed (device/LinkEvent.h), through the sink the link was given, each message naming the
// link it is from.
// Failures are debug lines and false results; nothing is raised to the caller.
//
// Threads: everything runs on the link's worker thread, except Close(), which the receiver's
// thread also calls when the connected port's device goes away. That close is safe at any moment:
// waits on the port wake at once and fail, and the worker's transaction ends as a failure.
//
// A line that shows its device gone (a hang-up, an unplugged adapter, a simulator that was
// killed) is closed by the link itself at the end of the transaction that saw it, through the
// same path as any close: the receiver hears TPortClosed with the error, and every later
// transaction fails at once instead of spinning on a dead descriptor.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "device/LinkEvent.h"
#include "platform/SerialPort.h"
#include "threads/InterThreadMsg.h"

// An optional event that ends a pending read early; null means none.
using TAbortEvent = platform::Event*;
inline constexpr TAbortEvent kNoAbortEvent = nullptr;

// How long a read waits for each pending request, in ms.
inline constexpr uint32_t kReadWaitMs = 500;

class TSerialLink {
  public:
    // Messages go to `sink`, which must outlive every post that may still reach it (null: they
    // are dropped).
    explicit TSerialLink(TMessageSink* sink = nullptr);
    TSerialLink(const TSerialLink&) = delete;
    TSerialLink& operator=(const TSerialLink&) = delete;
    // Closes a port still open, without a notice.
    ~TSerialLink();

    // Opens `devicePath` at `baud`, 8 data bits, no parity, one stop bit. A port still open is
    // closed first, without a notice, so that each open is followed by exactly one notice:
    // TPortOpened, or TPortClosed carrying the errno value of the failed step. When a Close() from
    // another thread overtakes the open, its notice is the one.
    bool Open(const std::string& devicePath, uint32_t baud);
    // Closes the port if one is open and posts TPortClosed with `error`: 0 for a close that was
    // asked for, else the errno value that ended the connection.
    void Close(int error = 0);
    // Closes `port` with `error`, as Close() does, if it is still the open port; false otherwise.
    bool CloseIfOpen(platform::SerialHandle port, int error);
    // Closes `port` when its line has shown the device gone, with that error; true when it did.
    bool CloseIfDeviceGone(platform::SerialHandle port);
    // True while a port is open.
    bool IsOpen() const { return Port() != platform::kInvalidPort; }
    // The handle of the open port, or platform::kInvalidPort.
    platform::SerialHandle Port() const { return FPort.load(); }

    // Runs `post` (which posts through this link) only while `port` is still the open port, and
    // returns whether it ran. Close() posts its notice under the same lock, so nothing posted here
    // can reach the receiver after the notice of that port's close.
    bool PostWhileOpen(platform::SerialHandle port, const std::function<void()>& post);
    // Tells the receiver `event`, from this link; false when there is no sink to take it.
    bool Post(const TLinkEvent& event);
    // How many messages the sink has taken from this link (a diagnostic: each one must reach the
    // receiver exactly once).
    std::uint64_t PostedCount() const { return FPosted.load(std::memory_order_relaxed); }

    // Always true; gives up as soon as a pass writes nothing.
    bool Write(const uint8_t* data, uint32_t count);
    // True when `count` bytes beginning with `startByte` are in `buffer`.
    bool Read(TAbortEvent abortEvent, uint8_t* buffer, uint8_t count, uint8_t startByte);
    // Sends a request and, when `answer` is given and `answerLength` is above 0, reads the
    // answer. Ends with CloseIfDeviceGone().
    bool Transaction(const uint8_t* request, uint32_t requestLength, uint8_t* answer,
                     uint8_t answerLength, uint8_t startByte, TAbortEvent abortEvent);

    // Read requests on the open port that got no answer in time and may still be answered late
    // (see QueryDevice). Worker thread only; every open starts from 0.
    int AnswersOwed = 0;

  private:
    bool Deliver(TThreadMessage&& message);
    // Called with FNoticeLock held.
    void CloseLocked(platform::SerialHandle port, int error);

    TMessageSink* const FSink;
    // Set only by Open(), reset only by the closes.
    std::atomic<platform::SerialHandle> FPort{platform::kInvalidPort};
    // Held while a notice about the port is posted, and while a message is posted that must come
    // before the notice of that port's close, so the receiver hears them in the order they
    // happened.
    std::mutex FNoticeLock;
    std::atomic<std::uint64_t> FPosted{0};
};

// T of the time-outs, in ms, for a baud rate: trunc((s / 2 + 1) / baud * 1000 * 2 + (d + 1)).
uint32_t IntervalTimeoutMs(uint32_t baud, uint8_t stopBitsCode, uint8_t dataBits);
