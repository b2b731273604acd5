#pragma once
// Internal to platform/: the one blocking wait that every wait of this layer goes through.

#include <poll.h>

namespace platform {

// poll(2) over `fds` plus the calling thread's stop signal (ThreadStop.h), restarted on EINTR
// with the time that is left. Returns poll's result (0 on time-out, -1 with errno on failure);
// throws ThreadStopRequested when the thread is asked to stop. A negative timeout waits
// without limit.
int PollStoppable(pollfd* fds, nfds_t count, int timeoutMs);

}  // namespace platform
