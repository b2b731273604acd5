#pragma once
// The serial back end: the few operations the serial link is written against, each with the
// behaviour of the system call it is named after, over termios, poll(2) and eventfd.
//
// Handles name ports in a registry rather than raw descriptors. CloseHandle() may be called from
// any thread while another thread is inside a transfer on the same port: the port is marked
// closed, every wait on it wakes at once and fails, and its descriptor is released only when the
// last operation in flight has let go of it, so a descriptor is never used after it was closed or
// reused. Error codes are errno values (GetLastError()).
//
// All waits also end, with platform::ThreadStopRequested, when the calling thread is asked to
// stop (ThreadStop.h).

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The number of an open port; kInvalidPort when none. Numbers are never reused.
using SerialHandle = int;
inline constexpr SerialHandle kInvalidPort = -1;

// The values of Windows' own names. Where windows.h came first (through Qt's headers on
// Windows), its macros of the same names and values stand in for these.
#ifndef EV_RXCHAR
// Port events that SetCommMask() accepts (only the success of the call matters).
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
// PurgeComm() flags.
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;
// Results of WaitForTransfer().
inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_TIMEOUT = 258;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;
#endif

// The line settings that the link changes; every other setting of the terminal stays as the
// driver reported it.
struct LineSettings {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8;  // data bits
    uint8_t Parity = 0;    // 0 none, 1 odd, 2 even
    uint8_t StopBits = 0;  // 0 one, 2 two
};

// Time-outs in milliseconds. A read completes when the requested count has arrived, or when more
// than ReadIntervalTimeout passes between two bytes once at least one byte arrived; it does not
// complete while no byte has arrived. A write completes when all bytes are out, or after
// WriteTotalTimeoutMultiplier per byte plus WriteTotalTimeoutConstant with fewer bytes written.
// The two read totals are accepted and not used (the link sets them to 0).
struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// An auto-reset event, not signalled at creation: a successful wait on it resets it. Set() may be
// called from any thread.
class Event {
  public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    // Back to not signalled.
    void Reset();
    bool Valid() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }

  private:
    int fd_;
};

// One transfer in flight, bound to its own event. A transfer started as pending makes progress
// inside WaitForTransfer() and GetOverlappedResult(wait = true); CancelIo() abandons it.
struct Overlapped {
    explicit Overlapped(Event& completion) : event(completion) {}
    Event& event;  // must outlive the transfer

    // State of the back end; the link does not look at it.
    enum class Kind { None, Read, Write } kind = Kind::None;
    bool complete = false;
    int error = 0;  // errno of a transfer that completed with a failure
    uint8_t* readInto = nullptr;
    const uint8_t* writeFrom = nullptr;
    uint32_t requested = 0;
    uint32_t transferred = 0;
    int64_t lastByteAtMs = 0;  // steady clock, ms; for the read interval time-out
};

enum class IoStart {
    Done,     // completed at once; GetOverlappedResult() gives the count
    Pending,  // in progress
    Failed,   // failed at once; GetLastError() tells why
};

// Opens an existing device for reading and writing, exclusively: while it is open no other open
// of the path through this function succeeds (an advisory lock, plus the terminal's exclusive
// mode). Returns kInvalidPort on failure.
SerialHandle CreateFile(const std::string& path);
// Releases the port from any thread; waits in progress on it wake and fail at once.
bool CloseHandle(SerialHandle port);

bool SetCommMask(SerialHandle port, uint32_t mask);
bool SetupComm(SerialHandle port, uint32_t inQueue, uint32_t outQueue);
bool PurgeComm(SerialHandle port, uint32_t flags);
bool GetCommState(SerialHandle port, LineSettings& settings);
// Writes the settings back and puts the terminal in raw mode: the byte-transparent behaviour that
// a serial driver has by default (no echo, no line editing, no character translation, no
// software flow control), which binary frames need.
bool SetCommState(SerialHandle port, const LineSettings& settings);
bool SetCommTimeouts(SerialHandle port, const CommTimeouts& timeouts);
// Waits until pending output has been transmitted.
bool FlushFileBuffers(SerialHandle port);

IoStart WriteFile(SerialHandle port, const uint8_t* data, uint32_t count, Overlapped& transfer);
IoStart ReadFile(SerialHandle port, uint8_t* buffer, uint32_t count, Overlapped& transfer);
// The byte count of a transfer; with `wait`, waits for its completion first. False when the
// transfer failed (GetLastError() tells why) or, without `wait`, is still in progress.
bool GetOverlappedResult(SerialHandle port, Overlapped& transfer, uint32_t& transferred, bool wait);
// Waits until the transfer completes (WAIT_OBJECT_0), `abort` is signalled (WAIT_OBJECT_0 + 1;
// `abort` may be null), or `timeoutMs` passes (WAIT_TIMEOUT). WAIT_FAILED on failure.
uint32_t WaitForTransfer(SerialHandle port, Overlapped& transfer, Event* abort, uint32_t timeoutMs);
// Abandons the transfers of this thread on the port.
bool CancelIo(SerialHandle port, Overlapped& transfer);

// The error that showed the device behind an open port gone (a hang-up, an unplugged adapter, the
// far end of a pseudo-terminal closed: EIO, ENXIO or ENODEV), or 0 while the device answers or
// the handle is not open. Once set it stays: the port is of no more use and must be closed.
int DeviceGoneError(SerialHandle port);

// The error code (errno) of the calling thread's last failed operation.
int GetLastError();
// The code for an operation that failed without the system saying why: EIO here, and
// ERROR_GEN_FAILURE on Windows, where the codes are the system's own.
extern const int kUnexplainedPortError;

}  // namespace platform
