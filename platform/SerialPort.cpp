#include "platform/SerialPort.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>

#include "platform/HandleRegistry.h"
#include "platform/PollWait.h"
#include "platform/PortDiagnosis.h"

namespace platform {
namespace {

thread_local int lastError = 0;

bool Fail(int error) {
    lastError = error;
    return false;
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Drains an eventfd counter; true when it had been signalled.
bool ConsumeEvent(int fd) {
    uint64_t value = 0;
    return ::read(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

// One open port. The registry and every operation in flight share it; the descriptor is closed
// when the last of them lets go, so it is never reused under an operation.
struct Port {
    explicit Port(int descriptor) : fd(descriptor) {}
    ~Port() {
        // The terminal's exclusive mode outlives this descriptor while anything else holds the
        // device open (a simulator keeps its side open), so it is cleared before closing.
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);  // also releases the advisory lock
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    const int fd;
    Event closed;  // set once by CloseHandle(); wakes every wait on the port
    // The error that first showed the device gone (EIO for a hang-up), 0 while it answers.
    std::atomic<int> goneError{0};

    std::mutex lock;        // guards the settings below
    CommTimeouts timeouts;  // installed by SetCommTimeouts()
};

using Registry = HandleRegistry<SerialHandle, Port>;

Registry& Ports() {
    static Registry registry;
    return registry;
}

// The open port behind a handle, or null with EBADF as the last error.
std::shared_ptr<Port> Lookup(SerialHandle handle) {
    auto port = Ports().Find(handle);
    if (!port) lastError = EBADF;
    return port;
}

struct BaudCode {
    uint32_t baud;
    speed_t code;
};
constexpr BaudCode kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

bool BaudToCode(uint32_t baud, speed_t& code) {
    for (const auto& b : kBauds) {
        if (b.baud == baud) {
            code = b.code;
            return true;
        }
    }
    return false;
}

uint32_t CodeToBaud(speed_t code) {
    for (const auto& b : kBauds) {
        if (b.code == code) return b.baud;
    }
    return 0;
}

// Remembers `error` on the port when it means that the device went away.
void NoteError(Port& port, int error) {
    if (!IsDeviceGoneError(error)) return;
    int none = 0;
    port.goneError.compare_exchange_strong(none, error);
}

bool Fail(Port& port, int error) {
    NoteError(port, error);
    return Fail(error);
}

void Complete(Overlapped& transfer, int error) {
    transfer.complete = true;
    transfer.error = error;
    transfer.event.Set();
}

// Moves what the terminal takes or has now for a pending transfer. Completes the transfer on a
// full count, on an error, or on a hang-up (a read of 0 bytes: the device went away).
void Pump(Port& port, Overlapped& transfer) {
    const bool reading = transfer.kind == Overlapped::Kind::Read;
    while (!transfer.complete && transfer.transferred < transfer.requested) {
        const size_t left = transfer.requested - transfer.transferred;
        const ssize_t n = reading
                              ? ::read(port.fd, transfer.readInto + transfer.transferred, left)
                              : ::write(port.fd, transfer.writeFrom + transfer.transferred, left);
        if (n > 0) {
            transfer.transferred += static_cast<uint32_t>(n);
            if (reading) transfer.lastByteAtMs = NowMs();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        const int error = n == 0 ? EIO : errno;
        NoteError(port, error);
        Complete(transfer, error);
        return;
    }
    if (!transfer.complete) Complete(transfer, 0);
}

bool IsClosed(Port& port) {
    pollfd p{port.closed.Descriptor(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

// Drives a pending transfer until it completes, `abort` fires, or `timeoutMs` passes (negative:
// no limit). Returns the WAIT_* result.
uint32_t Drive(Port& port, Overlapped& transfer, Event* abort, int64_t timeoutMs) {
    const int64_t deadline = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
    const bool reading = transfer.kind == Overlapped::Kind::Read;
    for (;;) {
        if (transfer.complete) {
            ConsumeEvent(transfer.event.Descriptor());
            return WAIT_OBJECT_0;
        }
        const int64_t now = NowMs();
        int64_t wait = deadline < 0 ? -1 : std::max<int64_t>(0, deadline - now);
        uint32_t interval = 0;
        {
            std::lock_guard guard(port.lock);
            interval = port.timeouts.ReadIntervalTimeout;
        }
        bool intervalBound = false;
        if (reading && transfer.transferred > 0 && interval > 0) {
            const int64_t gapLeft = transfer.lastByteAtMs + interval - now;
            if (wait < 0 || gapLeft < wait) {
                wait = std::max<int64_t>(0, gapLeft);
                intervalBound = true;
            }
        }
        pollfd fds[3] = {
            {port.fd, static_cast<short>(reading ? POLLIN : POLLOUT), 0},
            {port.closed.Descriptor(), POLLIN, 0},
            {abort != nullptr ? abort->Descriptor() : -1, POLLIN, 0},
        };
        const int n = PollStoppable(fds, 3, static_cast<int>(wait));
        if (n < 0) {
            lastError = errno;
            return WAIT_FAILED;
        }
        if (fds[1].revents != 0) {
            Complete(transfer, ECANCELED);
            continue;
        }
        if (fds[0].revents != 0) {
            Pump(port, transfer);
            if (!transfer.complete && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                NoteError(port, EIO);
                Complete(transfer, EIO);
            }
            continue;
        }
        if (fds[2].revents != 0 && ConsumeEvent(abort->Descriptor())) return WAIT_OBJECT_0 + 1;
        if (n == 0) {
            if (intervalBound) {
                Complete(transfer, 0);  // a gap after the first bytes ends the read
                continue;
            }
            if (deadline >= 0 && NowMs() >= deadline) return WAIT_TIMEOUT;
        }
    }
}

}  // namespace

Event::Event() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Event::~Event() {
    if (fd_ >= 0) ::close(fd_);
}

void Event::Reset() {
    ConsumeEvent(fd_);
}

void Event::Set() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

SerialHandle CreateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastError = errno;
        return kInvalidPort;
    }
    // No sharing: a second open of the same device fails while this one lasts.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lastError = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return kInvalidPort;
    }
    if (::isatty(fd)) ::ioctl(fd, TIOCEXCL);
    return Ports().Add(std::make_shared<Port>(fd));
}

bool CloseHandle(SerialHandle handle) {
    auto port = Ports().Remove(handle);
    if (!port) return Fail(EBADF);
    port->closed.Set();
    return true;  // the descriptor closes when the last operation in flight lets go
}

bool SetCommMask(SerialHandle handle, uint32_t) {
    return Lookup(handle) != nullptr;
}

bool SetupComm(SerialHandle handle, uint32_t, uint32_t) {
    // Queue sizes are a recommendation that terminals do not take; the handle must be valid.
    return Lookup(handle) != nullptr;
}

bool PurgeComm(SerialHandle handle, uint32_t flags) {
    auto port = Lookup(handle);
    if (!port) return false;
    const bool rx = (flags & PURGE_RXCLEAR) != 0;
    const bool tx = (flags & PURGE_TXCLEAR) != 0;
    if (!rx && !tx) return true;
    const int which = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
    if (::tcflush(port->fd, which) != 0) return Fail(*port, errno);
    return true;
}

bool GetCommState(SerialHandle handle, LineSettings& settings) {
    auto port = Lookup(handle);
    if (!port) return false;
    termios tio{};
    if (::tcgetattr(port->fd, &tio) != 0) return Fail(errno);
    settings.BaudRate = CodeToBaud(::cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            settings.ByteSize = 5;
            break;
        case CS6:
            settings.ByteSize = 6;
            break;
        case CS7:
            settings.ByteSize = 7;
            break;
        default:
            settings.ByteSize = 8;
            break;
    }
    settings.Parity = (tio.c_cflag & PARENB) == 0 ? 0 : ((tio.c_cflag & PARODD) != 0 ? 1 : 2);
    settings.StopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 0;
    return true;
}

bool SetCommState(SerialHandle handle, const LineSettings& settings) {
    auto port = Lookup(handle);
    if (!port) return false;
    termios tio{};
    if (::tcgetattr(port->fd, &tio) != 0) return Fail(errno);
    speed_t speed{};
    if (!BaudToCode(settings.BaudRate, speed)) return Fail(EINVAL);
    tcflag_t size = CS8;
    switch (settings.ByteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return Fail(EINVAL);
    }
    const tcflag_t hardwareFlow = tio.c_cflag & CRTSCTS;  // flow control stays as reported
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= size | CLOCAL | CREAD | hardwareFlow;
    if (settings.Parity != 0) tio.c_cflag |= PARENB | (settings.Parity == 1 ? PARODD : 0);
    if (settings.StopBits == 2) tio.c_cflag |= CSTOPB;
    // With the descriptor non-blocking, VMIN 1 makes an empty input read as EAGAIN, so that a
    // read of 0 bytes means a hang-up; every wait is a poll with its own time-out.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) return Fail(errno);
    if (::tcsetattr(port->fd, TCSANOW, &tio) != 0) return Fail(errno);
    return true;
}

bool SetCommTimeouts(SerialHandle handle, const CommTimeouts& timeouts) {
    auto port = Lookup(handle);
    if (!port) return false;
    std::lock_guard guard(port->lock);
    port->timeouts = timeouts;
    return true;
}

bool FlushFileBuffers(SerialHandle handle) {
    auto port = Lookup(handle);
    if (!port) return false;
    // Wait for the output queue to empty, a millisecond at a time, so that a close or a stop
    // request ends the wait. A queue that does not drain within a second is given up on: a
    // device that stopped taking data must not hold the worker for ever.
    const int64_t giveUpAt = NowMs() + 1000;
    for (;;) {
        int queued = 0;
        if (::ioctl(port->fd, TIOCOUTQ, &queued) != 0) return Fail(*port, errno);
        if (queued <= 0) return true;
        if (NowMs() >= giveUpAt) return Fail(ETIMEDOUT);
        pollfd closed{port->closed.Descriptor(), POLLIN, 0};
        if (PollStoppable(&closed, 1, 1) > 0) return Fail(ECANCELED);
    }
}

IoStart WriteFile(SerialHandle handle, const uint8_t* data, uint32_t count, Overlapped& transfer) {
    auto port = Lookup(handle);
    if (!port) return IoStart::Failed;
    transfer.kind = Overlapped::Kind::Write;
    transfer.complete = false;
    transfer.error = 0;
    transfer.writeFrom = data;
    transfer.requested = count;
    transfer.transferred = 0;
    if (IsClosed(*port)) {
        lastError = EBADF;
        return IoStart::Failed;
    }
    Pump(*port, transfer);
    if (!transfer.complete) return IoStart::Pending;
    ConsumeEvent(transfer.event.Descriptor());
    if (transfer.error != 0 && transfer.transferred == 0) {
        lastError = transfer.error;
        return IoStart::Failed;
    }
    return IoStart::Done;
}

IoStart ReadFile(SerialHandle handle, uint8_t* buffer, uint32_t count, Overlapped& transfer) {
    auto port = Lookup(handle);
    if (!port) return IoStart::Failed;
    if (IsClosed(*port)) {
        lastError = EBADF;
        return IoStart::Failed;
    }
    transfer.kind = Overlapped::Kind::Read;
    transfer.complete = false;
    transfer.error = 0;
    transfer.readInto = buffer;
    transfer.requested = count;
    transfer.transferred = 0;
    transfer.lastByteAtMs = 0;
    // Bytes are taken only while a wait drives the transfer, so that the interval time-out is
    // measured from the first byte seen there.
    return IoStart::Pending;
}

bool GetOverlappedResult(SerialHandle handle, Overlapped& transfer, uint32_t& transferred,
                         bool wait) {
    transferred = transfer.transferred;
    if (!transfer.complete && wait) {
        auto port = Lookup(handle);
        if (!port) return false;
        int64_t limit = -1;
        if (transfer.kind == Overlapped::Kind::Write) {
            std::lock_guard guard(port->lock);
            const auto& t = port->timeouts;
            if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
                limit = int64_t{t.WriteTotalTimeoutMultiplier} * transfer.requested +
                        t.WriteTotalTimeoutConstant;
            }
        }
        if (Drive(*port, transfer, nullptr, limit) == WAIT_TIMEOUT) {
            Complete(transfer, 0);  // the write time-out: what went out so far counts
            ConsumeEvent(transfer.event.Descriptor());
        }
        transferred = transfer.transferred;
    }
    if (!transfer.complete) return Fail(EINPROGRESS);
    if (transfer.error != 0) return Fail(transfer.error);
    return true;
}

uint32_t WaitForTransfer(SerialHandle handle, Overlapped& transfer, Event* abort,
                         uint32_t timeoutMs) {
    auto port = Lookup(handle);
    if (!port) return WAIT_FAILED;
    return Drive(*port, transfer, abort, timeoutMs);
}

bool CancelIo(SerialHandle handle, Overlapped& transfer) {
    // A pending transfer lives only in its record: forgetting it is cancelling it.
    transfer.kind = Overlapped::Kind::None;
    transfer.readInto = nullptr;
    transfer.writeFrom = nullptr;
    return Lookup(handle) != nullptr;
}

int DeviceGoneError(SerialHandle handle) {
    auto port = Ports().Find(handle);
    return port ? port->goneError.load() : 0;
}

int GetLastError() {
    return lastError;
}

const int kUnexplainedPortError = EIO;

}  // namespace platform
