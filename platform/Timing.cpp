#include "platform/Timing.h"

#include <sys/prctl.h>

namespace platform {

void KeepPreciseTime() {
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);  // 1 ns: the smallest slack there is
}

}  // namespace platform
