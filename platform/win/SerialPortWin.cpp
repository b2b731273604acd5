// SerialPort.h over a Windows communications device: overlapped ReadFile/WriteFile, the comm
// settings and time-outs of the driver itself. Error codes are Windows error numbers.
//
// The portable header first: windows.h defines WAIT_*, EV_* and PURGE_* as macros with the same
// values as the constants declared there, and CreateFile as a macro that must not rename ours.
#include "platform/HandleRegistry.h"
#include "platform/SerialPort.h"

#include "platform/PortDiagnosis.h"
#include "platform/ThreadStop.h"
#include "platform/win/WaitWin.h"
#include "platform/win/WideText.h"
#undef CreateFile

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace platform {
namespace {

thread_local int lastError = 0;

bool Fail(int error) {
    lastError = error;
    return false;
}

int SystemError() {
    return static_cast<int>(::GetLastError());
}

HANDLE EventHandle(const Event& event) {
    return HandleFromInt(event.Descriptor());
}

// A read or write handed to the system. Its OVERLAPPED must keep its address until the system
// is done with it, so it lives in the port rather than in the caller's record, which a caller
// may drop early.
struct Request {
    OVERLAPPED ov{};
    bool inFlight = false;  // with the system, its result not yet taken
};

struct Port {
    Port(HANDLE device, HANDLE closedEvent) : file(device), closed(closedEvent) {}
    ~Port() {
        // Nothing may be left writing into memory that is about to go: cancel what is still
        // in flight and let the system finish with it. The caller's event may be gone by now,
        // so completion is watched on the OVERLAPPED itself.
        for (auto& [record, request] : requests) {
            if (!request->inFlight) continue;
            ::CancelIoEx(file, &request->ov);
            for (int i = 0; i < 1000 && !HasOverlappedIoCompleted(&request->ov); ++i) {
                ::SleepEx(1, FALSE);
            }
        }
        ::CloseHandle(file);
        ::CloseHandle(closed);
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    const HANDLE file;
    const HANDLE closed;  // manual-reset, set once by CloseHandle(); wakes every wait on the port
    std::atomic<int> goneError{0};

    std::mutex lock;  // guards the map, not the requests: each belongs to its caller's thread
    std::map<const Overlapped*, std::unique_ptr<Request>> requests;
};

using Registry = HandleRegistry<SerialHandle, Port>;

Registry& Ports() {
    static Registry registry;
    return registry;
}

std::shared_ptr<Port> Lookup(SerialHandle handle) {
    auto port = Ports().Find(handle);
    if (!port) lastError = ERROR_INVALID_HANDLE;
    return port;
}

bool IsClosed(const Port& port) {
    return ::WaitForSingleObject(port.closed, 0) == WAIT_OBJECT_0;
}

// Remembers `error` when it shows the device gone. On an open handle, access denied is what
// the USB serial drivers answer once their adapter was pulled.
void NoteError(Port& port, int error) {
    if (!IsDeviceGoneError(error) && error != ERROR_ACCESS_DENIED) return;
    int none = 0;
    port.goneError.compare_exchange_strong(none, error);
}

bool Fail(Port& port, int error) {
    NoteError(port, error);
    return Fail(error);
}

// The request of `transfer` on `port`, made on first use.
Request& RequestFor(Port& port, const Overlapped& transfer) {
    std::lock_guard guard(port.lock);
    auto& slot = port.requests[&transfer];
    if (!slot) slot = std::make_unique<Request>();
    return *slot;
}

Request* FindRequest(Port& port, const Overlapped& transfer) {
    std::lock_guard guard(port.lock);
    auto it = port.requests.find(&transfer);
    return it == port.requests.end() ? nullptr : it->second.get();
}

// Takes the result of a request the system has finished into the caller's record.
void Settle(Port& port, Request& request, Overlapped& transfer) {
    if (!request.inFlight || !HasOverlappedIoCompleted(&request.ov)) return;
    DWORD count = 0;
    const BOOL ok = ::GetOverlappedResult(port.file, &request.ov, &count, FALSE);
    request.inFlight = false;
    transfer.transferred = count;
    transfer.complete = true;
    transfer.error = ok ? 0 : SystemError();
    if (transfer.error != 0) NoteError(port, transfer.error);
}

// Cancels a request still in flight and waits until the system lets go of its buffer.
void Cancel(Port& port, Request& request, Overlapped& transfer) {
    if (!request.inFlight) return;
    ::CancelIoEx(port.file, &request.ov);
    DWORD count = 0;
    const BOOL ok = ::GetOverlappedResult(port.file, &request.ov, &count, TRUE);
    request.inFlight = false;
    transfer.transferred = count;
    transfer.complete = true;
    transfer.error = ok ? 0 : SystemError();
}

enum class Direction { Read, Write };

IoStart Start(SerialHandle handle, Direction direction, uint8_t* into, const uint8_t* from,
              uint32_t count, Overlapped& transfer) {
    auto port = Lookup(handle);
    if (!port) return IoStart::Failed;
    if (IsClosed(*port)) {
        lastError = ERROR_INVALID_HANDLE;
        return IoStart::Failed;
    }
    Request& request = RequestFor(*port, transfer);
    Cancel(*port, request, transfer);  // a record reused without CancelIo()
    transfer.kind = direction == Direction::Read ? Overlapped::Kind::Read : Overlapped::Kind::Write;
    transfer.complete = false;
    transfer.error = 0;
    transfer.readInto = into;
    transfer.writeFrom = from;
    transfer.requested = count;
    transfer.transferred = 0;
    request.ov = OVERLAPPED{};
    request.ov.hEvent = EventHandle(transfer.event);
    const BOOL done = direction == Direction::Read
                          ? ::ReadFile(port->file, into, count, nullptr, &request.ov)
                          : ::WriteFile(port->file, from, count, nullptr, &request.ov);
    const int error = done ? 0 : SystemError();
    if (done || error == ERROR_IO_PENDING) request.inFlight = true;
    if (error == ERROR_IO_PENDING) return IoStart::Pending;
    if (!done) {
        NoteError(*port, error);
        lastError = error;
        return IoStart::Failed;
    }
    Settle(*port, request, transfer);
    ::ResetEvent(request.ov.hEvent);  // taken here, as a wait would have taken it
    return IoStart::Done;
}

}  // namespace

Event::Event() : fd_(IntFromHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr))) {}

Event::~Event() {
    if (fd_ >= 0) ::CloseHandle(HandleFromInt(fd_));
}

void Event::Set() {
    ::SetEvent(HandleFromInt(fd_));
}

void Event::Reset() {
    ::ResetEvent(HandleFromInt(fd_));
}

SerialHandle CreateFile(const std::string& path) {
    const std::wstring wide = WideText(path);
    // No sharing: the driver refuses a second open with access denied while this one lasts.
    const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        lastError = SystemError();
        return kInvalidPort;
    }
    const HANDLE closed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (closed == nullptr) {
        lastError = SystemError();
        ::CloseHandle(file);
        return kInvalidPort;
    }
    return Ports().Add(std::make_shared<Port>(file, closed));
}

bool CloseHandle(SerialHandle handle) {
    auto port = Ports().Remove(handle);
    if (!port) return Fail(ERROR_INVALID_HANDLE);
    ::SetEvent(port->closed);
    return true;  // the device closes when the last operation in flight lets go
}

bool SetCommMask(SerialHandle handle, uint32_t mask) {
    auto port = Lookup(handle);
    if (!port) return false;
    return ::SetCommMask(port->file, mask) ? true : Fail(*port, SystemError());
}

bool SetupComm(SerialHandle handle, uint32_t inQueue, uint32_t outQueue) {
    auto port = Lookup(handle);
    if (!port) return false;
    return ::SetupComm(port->file, inQueue, outQueue) ? true : Fail(*port, SystemError());
}

bool PurgeComm(SerialHandle handle, uint32_t flags) {
    auto port = Lookup(handle);
    if (!port) return false;
    return ::PurgeComm(port->file, flags) ? true : Fail(*port, SystemError());
}

bool GetCommState(SerialHandle handle, LineSettings& settings) {
    auto port = Lookup(handle);
    if (!port) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port->file, &dcb)) return Fail(*port, SystemError());
    settings.BaudRate = dcb.BaudRate;
    settings.ByteSize = dcb.ByteSize;
    settings.Parity = dcb.Parity;
    settings.StopBits = dcb.StopBits;
    return true;
}

bool SetCommState(SerialHandle handle, const LineSettings& settings) {
    auto port = Lookup(handle);
    if (!port) return false;
    if (settings.ByteSize < 5 || settings.ByteSize > 8) return Fail(ERROR_INVALID_PARAMETER);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port->file, &dcb)) return Fail(*port, SystemError());
    dcb.BaudRate = settings.BaudRate;
    dcb.ByteSize = settings.ByteSize;
    dcb.Parity = settings.Parity;
    dcb.StopBits = settings.StopBits;
    // Byte-transparent, as binary frames need; hardware flow control and the modem lines stay
    // as the driver reported them. An error must not stall the port until ClearCommError().
    dcb.fBinary = TRUE;
    dcb.fParity = settings.Parity != 0;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    return ::SetCommState(port->file, &dcb) ? true : Fail(*port, SystemError());
}

bool SetCommTimeouts(SerialHandle handle, const CommTimeouts& timeouts) {
    auto port = Lookup(handle);
    if (!port) return false;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(port->file, &t) ? true : Fail(*port, SystemError());
}

bool FlushFileBuffers(SerialHandle handle) {
    auto port = Lookup(handle);
    if (!port) return false;
    return ::FlushFileBuffers(port->file) ? true : Fail(*port, SystemError());
}

IoStart WriteFile(SerialHandle handle, const uint8_t* data, uint32_t count, Overlapped& transfer) {
    return Start(handle, Direction::Write, nullptr, data, count, transfer);
}

IoStart ReadFile(SerialHandle handle, uint8_t* buffer, uint32_t count, Overlapped& transfer) {
    return Start(handle, Direction::Read, buffer, nullptr, count, transfer);
}

bool GetOverlappedResult(SerialHandle handle, Overlapped& transfer, uint32_t& transferred,
                         bool wait) {
    auto port = Ports().Find(handle);
    Request* request = port ? FindRequest(*port, transfer) : nullptr;
    if (request != nullptr && request->inFlight) {
        Settle(*port, *request, transfer);
        while (wait && !transfer.complete) {
            const HANDLE waits[] = {EventHandle(transfer.event), port->closed};
            DWORD result = WAIT_FAILED;
            try {
                result = WaitStoppable(waits, 2, INFINITE);
            } catch (const ThreadStopRequested&) {
                Cancel(*port, *request, transfer);
                throw;
            }
            if (result == WAIT_OBJECT_0) {
                Settle(*port, *request, transfer);
            } else {
                Cancel(*port, *request, transfer);  // closed from another thread
                if (transfer.error == 0) transfer.error = ERROR_OPERATION_ABORTED;
            }
        }
    }
    transferred = transfer.transferred;
    if (!transfer.complete) return Fail(port ? ERROR_IO_INCOMPLETE : ERROR_INVALID_HANDLE);
    if (transfer.error != 0) return Fail(transfer.error);
    return true;
}

uint32_t WaitForTransfer(SerialHandle handle, Overlapped& transfer, Event* abort,
                         uint32_t timeoutMs) {
    auto port = Lookup(handle);
    if (!port) return WAIT_FAILED;
    Request* request = FindRequest(*port, transfer);
    if (request != nullptr) Settle(*port, *request, transfer);
    if (transfer.complete) {
        ::ResetEvent(EventHandle(transfer.event));
        return WAIT_OBJECT_0;
    }
    if (request == nullptr || !request->inFlight) {
        lastError = ERROR_INVALID_PARAMETER;
        return WAIT_FAILED;
    }
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        HANDLE waits[3] = {EventHandle(transfer.event), port->closed, nullptr};
        DWORD count = 2;
        if (abort != nullptr) waits[count++] = EventHandle(*abort);
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            const ULONGLONG now = ::GetTickCount64();
            left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        DWORD result = WAIT_FAILED;
        try {
            result = WaitStoppable(waits, count, left);
        } catch (const ThreadStopRequested&) {
            Cancel(*port, *request, transfer);
            throw;
        }
        switch (result) {
            case WAIT_OBJECT_0:
                Settle(*port, *request, transfer);
                if (transfer.complete) return WAIT_OBJECT_0;
                continue;  // set by someone else: the transfer goes on
            case WAIT_OBJECT_0 + 1:
                Cancel(*port, *request, transfer);
                if (transfer.error == 0) transfer.error = ERROR_OPERATION_ABORTED;
                return WAIT_OBJECT_0;
            case WAIT_OBJECT_0 + 2:
                return WAIT_OBJECT_0 + 1;
            case WAIT_TIMEOUT:
                return WAIT_TIMEOUT;
            default:
                lastError = SystemError();
                return WAIT_FAILED;
        }
    }
}

bool CancelIo(SerialHandle handle, Overlapped& transfer) {
    transfer.kind = Overlapped::Kind::None;
    transfer.readInto = nullptr;
    transfer.writeFrom = nullptr;
    auto port = Lookup(handle);
    if (!port) return false;
    if (Request* request = FindRequest(*port, transfer)) {
        Cancel(*port, *request, transfer);
        std::lock_guard guard(port->lock);
        port->requests.erase(&transfer);
    }
    return true;
}

int DeviceGoneError(SerialHandle handle) {
    auto port = Ports().Find(handle);
    return port ? port->goneError.load() : 0;
}

int GetLastError() {
    return lastError;
}

const int kUnexplainedPortError = ERROR_GEN_FAILURE;

}  // namespace platform
