// Signals.h over the console's control events. The system runs the handler on a thread of its
// own; it only marks the signal pending and sets an event, and the program takes it from there
// in its own time. Ctrl+C and Ctrl+Break are Interrupt, closing the console window is HangUp,
// logging off and shutting down are Terminate.
//
// The "descriptor" is a handle, as int, of a manual-reset event that is set while a signal is
// pending: what a Windows event loop waits on (QWinEventNotifier, WaitForMultipleObjects). The
// caller closes it with CloseHandle.
#include "platform/Signals.h"

#include "platform/win/WaitWin.h"

#include <mutex>

namespace platform {
namespace {

// Pending signals, one bit each, as a signal pending twice is pending once on the other back
// end too. Taken lowest signal number first, as sigwait takes them: SIGHUP, SIGINT, SIGTERM.
constexpr EndSignal kTakeOrder[] = {EndSignal::HangUp, EndSignal::Interrupt, EndSignal::Terminate};

unsigned Bit(EndSignal signal) {
    return 1u << static_cast<unsigned>(signal);
}

struct PendingSignals {
    std::mutex lock;
    unsigned bits = 0;
    const HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

PendingSignals& Pending() {
    static PendingSignals pending;
    return pending;
}

void MarkPending(EndSignal signal) {
    PendingSignals& pending = Pending();
    std::lock_guard guard(pending.lock);
    pending.bits |= Bit(signal);
    ::SetEvent(pending.ready);
}

std::optional<EndSignal> Take() {
    PendingSignals& pending = Pending();
    std::lock_guard guard(pending.lock);
    for (const EndSignal signal : kTakeOrder) {
        if (!(pending.bits & Bit(signal))) continue;
        pending.bits &= ~Bit(signal);
        if (pending.bits == 0) ::ResetEvent(pending.ready);
        return signal;
    }
    return {};
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            MarkPending(EndSignal::Interrupt);
            return TRUE;
        case CTRL_CLOSE_EVENT:
            MarkPending(EndSignal::HangUp);
            break;
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            MarkPending(EndSignal::Terminate);
            break;
        default:
            return FALSE;
    }
    // For these the system ends the process as soon as the handler returns, or after its own
    // time-out of a few seconds: hold on, so that the program's cleanup runs as far as it can.
    // The process ends this thread when it exits.
    ::Sleep(INFINITE);
    return TRUE;
}

}  // namespace

// One handler for the whole process, whichever thread installs it: no thread of ours ever
// takes a console event, so there is nothing to block per thread. A process started with
// Ctrl+C ignored keeps ignoring it, as an ignored SIGINT stays ignored on the other back end.
void BlockEndSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        Pending();
        ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    });
}

EndSignal WaitForEndSignal() {
    for (;;) {
        if (const auto signal = Take()) return *signal;
        ::WaitForSingleObject(Pending().ready, INFINITE);
    }
}

int EndSignalDescriptor() {
    HANDLE copy = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, Pending().ready, self, &copy, SYNCHRONIZE, FALSE, 0)) return -1;
    return IntFromHandle(copy);
}

std::optional<EndSignal> TakeEndSignal(int descriptor) {
    if (descriptor < 0 || ::WaitForSingleObject(HandleFromInt(descriptor), 0) != WAIT_OBJECT_0) {
        return {};
    }
    return Take();
}

// Ctrl+Break is the one console event that can be aimed at a single process group rather than
// at every process of the console: the process must lead its own group (started with
// CREATE_NEW_PROCESS_GROUP) and share this console. It arrives as Interrupt. No console event
// asks another process to terminate or hang up.
bool SendEndSignal(int64_t processId, EndSignal signal) {
    if (processId <= 0 || processId > MAXDWORD) return false;  // 0 would reach the whole console
    if (signal != EndSignal::Interrupt) return false;
    return ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(processId)) != 0;
}

}  // namespace platform
