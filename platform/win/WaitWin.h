#pragma once
// Internal to the Windows back end: the one blocking wait that every wait of this layer goes
// through, and the handle behind an Event or a StopSignal.

#include <windows.h>

#include <cstdint>

namespace platform {

// Kernel handles fit in 32 bits by the system's own guarantee (they are shared with 32-bit
// processes), so the int that the portable headers keep is the handle, sign-extended back here.
inline HANDLE HandleFromInt(int value) {
    return LongToHandle(value);
}
inline int IntFromHandle(HANDLE handle) {
    return handle == nullptr ? -1 : static_cast<int>(HandleToLong(handle));
}

// WaitForMultipleObjects over `handles` plus the calling thread's stop signal (ThreadStop.h).
// Returns WAIT_OBJECT_0 + i for handles[i], WAIT_TIMEOUT, or WAIT_FAILED with the system's last
// error; throws ThreadStopRequested when the thread is asked to stop. INFINITE waits without
// limit. At most MAXIMUM_WAIT_OBJECTS - 1 handles.
DWORD WaitStoppable(const HANDLE* handles, DWORD count, DWORD timeoutMs);

}  // namespace platform
