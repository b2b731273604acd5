// SleepLock.h on Windows: the execution state of the calling thread keeps the system from
// sleeping while it says so (the reason is not shown anywhere). It belongs to that thread, as
// SleepInhibitor's lock belongs to its owner.
#include "platform/SleepLock.h"

#include <windows.h>

namespace platform {

int TakeSleepLock(const std::string& /*why*/, std::string& failure) {
    if (::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0) return 1;
    failure = "SetThreadExecutionState refused";
    return -1;
}

void GiveSleepLockBack(int /*lock*/) {
    ::SetThreadExecutionState(ES_CONTINUOUS);
}

}  // namespace platform
