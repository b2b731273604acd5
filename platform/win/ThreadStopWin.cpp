// ThreadStop.h over a manual-reset event: once raised it stays signalled, as the stop is final.
#include "platform/ThreadStop.h"

#include <system_error>

#include "platform/win/WaitWin.h"

namespace platform {
namespace {
thread_local StopSignal* currentSignal = nullptr;
}

StopSignal::StopSignal() : fd_(IntFromHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
    if (fd_ < 0) {
        throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                                "CreateEvent");
    }
}

StopSignal::~StopSignal() {
    ::CloseHandle(HandleFromInt(fd_));
}

void StopSignal::Raise() {
    raised_.store(true);
    ::SetEvent(HandleFromInt(fd_));
}

void SetThreadStopSignal(StopSignal* signal) {
    currentSignal = signal;
}
StopSignal* ThreadStopSignal() {
    return currentSignal;
}

bool StopRequested() {
    return currentSignal != nullptr && currentSignal->Raised();
}

void ThrowIfStopRequested() {
    if (StopRequested()) throw ThreadStopRequested{};
}

void Sleep(uint32_t ms) {
    WaitStoppable(nullptr, 0, ms);
}

DWORD WaitStoppable(const HANDLE* handles, DWORD count, DWORD timeoutMs) {
    ThrowIfStopRequested();
    HANDLE all[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    for (; n < count && n < MAXIMUM_WAIT_OBJECTS - 1; ++n) all[n] = handles[n];
    if (currentSignal != nullptr) all[n++] = HandleFromInt(currentSignal->Descriptor());
    DWORD result = WAIT_TIMEOUT;
    if (n == 0) {
        ::SleepEx(timeoutMs, FALSE);
    } else {
        result = ::WaitForMultipleObjects(n, all, FALSE, timeoutMs);
    }
    ThrowIfStopRequested();
    return result;
}

}  // namespace platform
