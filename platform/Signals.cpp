#include "platform/Signals.h"

#include <pthread.h>
#include <signal.h>

namespace platform {
namespace {

sigset_t EndSignalSet() {
    sigset_t set;
    ::sigemptyset(&set);
    ::sigaddset(&set, SIGINT);
    ::sigaddset(&set, SIGTERM);
    return set;
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
    return taken == SIGINT ? EndSignal::Interrupt : EndSignal::Terminate;
}

bool SendEndSignal(int64_t processId, EndSignal signal) {
    if (processId <= 0) return false;  // 0 and negatives would reach process groups
    return ::kill(static_cast<pid_t>(processId),
                  signal == EndSignal::Interrupt ? SIGINT : SIGTERM) == 0;
}

}  // namespace platform
