// Timing.h: timed waits here end on the system's timer tick, 15.6 ms unless a process asks for
// a finer one. The request is the process's, not the thread's, so it is made once and kept for
// the life of the process, as the other back end keeps its slack for the life of the thread.
#include "platform/Timing.h"

#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <algorithm>
#include <mutex>

namespace platform {

void KeepPreciseTime() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIMECAPS caps{};
        const UINT period = ::timeGetDevCaps(&caps, sizeof caps) == MMSYSERR_NOERROR
                                ? std::max<UINT>(caps.wPeriodMin, 1)
                                : 1;
        ::timeBeginPeriod(period);
        // Windows 11 drops the request of a process whose window is minimised or hidden unless
        // told otherwise; a console kept behind other windows still paces the wire. Older
        // systems refuse the class and keep the request anyway.
        PROCESS_POWER_THROTTLING_STATE state{};
        state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
        state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
        state.StateMask = 0;
        ::SetProcessInformation(::GetCurrentProcess(), ProcessPowerThrottling, &state,
                                sizeof state);
    });
}

}  // namespace platform
