#include "platform/Signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace platform {
namespace {

sigset_t EndSignalSet() {
    sigset_t set;
    ::sigemptyset(&set);
    ::sigaddset(&set, SIGINT);
    ::sigaddset(&set, SIGTERM);
    ::sigaddset(&set, SIGHUP);
    return set;
}

EndSignal FromNumber(int number) {
    if (number == SIGINT) return EndSignal::Interrupt;
    return number == SIGHUP ? EndSignal::HangUp : EndSignal::Terminate;
}

}  // namespace

void BlockEndSignals() {
    const sigset_t set = EndSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

EndSignal WaitForEndSignal() {
    const sigset_t set = EndSignalSet();
    int taken = 0;
    while (::sigwait(&set, &taken) != 0) {
    }
    return FromNumber(taken);
}

int EndSignalDescriptor() {
    const sigset_t set = EndSignalSet();
    return ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

std::optional<EndSignal> TakeEndSignal(int descriptor) {
    signalfd_siginfo info{};
    if (::read(descriptor, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return {};
    return FromNumber(static_cast<int>(info.ssi_signo));
}

bool SendEndSignal(int64_t processId, EndSignal signal) {
    if (processId <= 0) return false;  // 0 and negatives would reach process groups
    const int number = signal == EndSignal::Interrupt ? SIGINT
                       : signal == EndSignal::HangUp  ? SIGHUP
                                                      : SIGTERM;
    return ::kill(static_cast<pid_t>(processId), number) == 0;
}

}  // namespace platform
