#include "platform/SocketWait.h"

#include <poll.h>

#include <algorithm>

#include "platform/PollWait.h"

namespace platform {

TSocketWait WaitForSocket(int socket, bool writable,
                          std::chrono::steady_clock::time_point deadline) {
    pollfd watched{socket, static_cast<short>(POLLIN | (writable ? POLLOUT : 0)), 0};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return TSocketWait::TimedOut;
        // A hang-up or an error is readiness too: the library reads it and says what happened.
        const int ready = PollStoppable(
            &watched, 1,
            static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 1 << 30)));
        if (ready < 0) return TSocketWait::Failed;
        if (ready > 0) return TSocketWait::Ready;
    }
}

}  // namespace platform
