#include "device/SerialLink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>

#include "platform/DebugOutput.h"
#include "platform/ThreadStop.h"
#include "support/CommonTools.h"
#include "support/Format.h"
#include "support/iifTools.h"

using platform::CloseHandle;
using platform::kInvalidPort;
using platform::SerialHandle;
using namespace platform;

namespace {

constexpr uint32_t kInputQueue = 30;
constexpr uint32_t kOutputQueue = 250;
constexpr uint32_t kWriteMsPerByte = 2;

// The completion event of the calling thread's transfers: one transfer is in flight at a time on
// a thread, and an event made and released for each would cost two system calls a transfer.
Event& TransferEvent() {
    thread_local Event event;
    event.Reset();
    return event;
}

std::string ErrorText(int code) {
    std::string text;
    GetSysErrorText(static_cast<uint32_t>(code), false, text);
    return text;
}

// The steps of an open after the device was opened; false at the first that fails.
bool ConfigurePort(SerialHandle port, uint32_t baud) {
    if (!SetCommMask(port, EV_RXCHAR | EV_TXEMPTY)) return false;
    if (!SetupComm(port, kInputQueue, kOutputQueue)) return false;
    if (!PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR)) return false;
    LineSettings line{};
    if (!GetCommState(port, line)) return false;
    line.BaudRate = baud;
    line.ByteSize = 8;
    line.Parity = 0;
    line.StopBits = 0;
    if (!SetCommState(port, line)) return false;
    const uint32_t t = IntervalTimeoutMs(baud, line.StopBits, line.ByteSize);
    CommTimeouts timeouts{};
    timeouts.ReadIntervalTimeout = t;
    timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
    timeouts.WriteTotalTimeoutConstant = t;
    return SetCommTimeouts(port, timeouts);
}

}  // namespace

uint32_t IntervalTimeoutMs(uint32_t baud, uint8_t stopBitsCode, uint8_t dataBits) {
    if (baud == 0) return 0;
    const double t = (stopBitsCode / 2.0 + 1.0) / baud * 1000.0 * 2.0 + (dataBits + 1);
    return static_cast<uint32_t>(t);
}

TSerialLink::TSerialLink(TMessageSink* sink) : FSink(sink) {}

TSerialLink::~TSerialLink() {
    const SerialHandle port = FPort.exchange(kInvalidPort);
    if (port != kInvalidPort) CloseHandle(port);
}

bool TSerialLink::Deliver(TThreadMessage&& message) {
    // A message nobody takes goes, and with it any block.
    if (FSink == nullptr || !FSink->Take(std::move(message))) return false;
    FPosted.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool TSerialLink::Post(const TLinkEvent& event) {
    return Deliver(LinkMessage(this, event));
}

void TSerialLink::CloseLocked(SerialHandle port, int error) {
    if (port != kInvalidPort) CloseHandle(port);
    Post(TPortClosed{error});
}

bool TSerialLink::Open(const std::string& devicePath, uint32_t baud) {
    // A port left open by an earlier connect is released first, without a notice: the receiver
    // hears once about this open.
    const SerialHandle previous = FPort.exchange(kInvalidPort);
    if (previous != kInvalidPort) CloseHandle(previous);
    AnswersOwed = 0;  // owed on the last connection, not on this one

    const SerialHandle port = CreateFile(devicePath);
    FPort.store(port);
    if (port != kInvalidPort && ConfigurePort(port, baud)) {
        // Only while it is still the open port: a close that overtook the open has told the
        // receiver already, and "opened" must not follow that "closed".
        if (!PostWhileOpen(port, [this] { Post(TPortOpened{}); })) {
            DebugOutput(
                [&] { return Format("Port closed while it opened: %s", devicePath.c_str()); });
            return false;
        }
        DebugOutput([&] { return Format("PortOpened: %d", port); });
        return true;
    }
    int error = GetLastError();
    // A failure must not read as a close that was asked for.
    if (error == 0) error = kUnexplainedPortError;
    Close(error);
    DebugOutput([&] {
        return Format("Error open file %s: %s", devicePath.c_str(), ErrorText(error).c_str());
    });
    return false;
}

void TSerialLink::Close(int error) {
    std::lock_guard lock(FNoticeLock);
    CloseLocked(FPort.exchange(kInvalidPort), error);
}

bool TSerialLink::CloseIfOpen(SerialHandle port, int error) {
    std::lock_guard lock(FNoticeLock);
    if (port == kInvalidPort) return false;
    SerialHandle open = port;
    if (!FPort.compare_exchange_strong(open, kInvalidPort)) return false;
    CloseLocked(port, error);
    return true;
}

bool TSerialLink::PostWhileOpen(SerialHandle port, const std::function<void()>& post) {
    std::lock_guard lock(FNoticeLock);
    if (port == kInvalidPort || FPort.load() != port) return false;
    post();
    return true;
}

bool TSerialLink::Write(const uint8_t* data, uint32_t count) {
    const SerialHandle port = FPort.load();
    Overlapped transfer(TransferEvent());
    uint32_t total = 0;
    while (total < count) {
        uint32_t written = 0;
        switch (WriteFile(port, data + total, count - total, transfer)) {
            case IoStart::Done:
                GetOverlappedResult(port, transfer, written, false);
                break;
            case IoStart::Pending:
                if (!GetOverlappedResult(port, transfer, written, true)) {
                    DebugOutput([] {
                        return Format("GetOverlappedResult failed: %s",
                                      ErrorText(GetLastError()).c_str());
                    });
                }
                break;
            case IoStart::Failed:
                DebugOutput([] {
                    return Format("Not written and error occured: %s",
                                  ErrorText(GetLastError()).c_str());
                });
                break;
        }
        // A pass that moves nothing (the port closed or gone) would be repeated for ever.
        if (written == 0) break;
        total += written;
    }
    CancelIo(port, transfer);
    return true;
}

bool TSerialLink::Read(TAbortEvent abortEvent, uint8_t* buffer, uint8_t count, uint8_t startByte) {
    bool result = false;
    SerialHandle port = kInvalidPort;
    Overlapped transfer(TransferEvent());
    // Chunks without the start byte are dropped and the read goes on; a far end that never stops
    // sending such bytes (another kind of device, a wrong baud rate) would keep it going for
    // ever, so the search gives up once it has run for a whole read wait.
    const auto searchEnds =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadWaitMs);
    try {
        uint32_t total = 0;
        while (total < count) {
            port = FPort.load();
            if (port == kInvalidPort) break;
            const IoStart start = ReadFile(port, buffer + total, count - total, transfer);
            if (start == IoStart::Failed) {
                DebugOutput([] {
                    return Format("Error on ReadFile: %s", ErrorText(GetLastError()).c_str());
                });
                break;
            }
            if (start == IoStart::Pending) {
                const uint32_t wait = WaitForTransfer(port, transfer, abortEvent, kReadWaitMs);
                if (wait == WAIT_FAILED) {
                    DebugOutput([] {
                        return Format("Wait failed: %s", ErrorText(GetLastError()).c_str());
                    });
                    break;
                }
                if (wait == WAIT_OBJECT_0 + 1 && abortEvent != nullptr) break;
                if (wait == WAIT_TIMEOUT) break;
                if (wait != WAIT_OBJECT_0) {
                    DebugOutput(
                        [&] { return Format("Strange wait result: %d", static_cast<int>(wait)); });
                    break;
                }
            }
            uint32_t n = 0;
            if (!GetOverlappedResult(port, transfer, n, false) || n == 0) break;
            uint32_t counted = n;
            if (total == 0) {
                uint8_t* first = buffer;
                uint8_t* found = std::find(first, first + n, startByte);
                if (found == first + n) {
                    DebugOutput([&] {
                        return Format("Start byte not found in %d read bytes", static_cast<int>(n));
                    });
                    counted = 0;
                    if (std::chrono::steady_clock::now() >= searchEnds) break;
                } else if (found != first) {
                    counted = static_cast<uint32_t>(first + n - found);
                    std::memmove(first, found, counted);
                }
            }
            total += counted;
            if (total >= count) {
                result = true;
                break;
            }
        }
    } catch (const ThreadStopRequested&) {
        throw;
    } catch (const std::exception& e) {
        DebugOutput([&] { return Format("%s", e.what()); });
        result = false;
    }
    CancelIo(port, transfer);
    return result;
}

bool TSerialLink::Transaction(const uint8_t* request, uint32_t requestLength, uint8_t* answer,
                              uint8_t answerLength, uint8_t startByte, TAbortEvent abortEvent) {
    const SerialHandle port = FPort.load();
    FlushFileBuffers(port);
    if (answer != nullptr) std::memset(answer, 0xFF, answerLength);
    // A late answer to an earlier request may still wait in the input; with no echo in the
    // frames it would be taken for this request's answer, so the input is discarded first.
    PurgeComm(port, PURGE_RXCLEAR);
    Write(request, requestLength);
    bool result = true;
    if (answerLength != 0 && answer != nullptr) {
        result = Read(abortEvent, answer, answerLength, startByte);
        DebugOutput([&] {
            return Format("Received: %s %s", IIFStr(result, "False", "True").c_str(),
                          Buff2HexString(answer, answerLength, ' ').c_str());
        });
    }
    CloseIfDeviceGone(port);
    return result;
}

bool TSerialLink::CloseIfDeviceGone(SerialHandle port) {
    const int error = DeviceGoneError(port);
    if (error == 0 || !CloseIfOpen(port, error)) return false;
    DebugOutput([&] { return Format("Port hung up: %s", ErrorText(error).c_str()); });
    return true;
}
