#pragma once
// Waiting for a network client library's socket (the register's server connection) with a
// deadline of our own, for libraries whose blocking calls would wait as long as the peer stays
// silent. Linux only: what uses it is not built for Windows.

#include <chrono>

namespace platform {

enum class TSocketWait {
    Ready,     // readable (or writable, when asked for): the library has something to do
    TimedOut,  // the deadline came first
    Failed,    // the descriptor cannot be waited for (errno says why)
};

// Waits until `socket` is readable, or also writable when `writable`, or until `deadline`.
// Watches the calling thread's stop signal too (ThreadStop.h): throws ThreadStopRequested once
// the thread is asked to stop.
TSocketWait WaitForSocket(int socket, bool writable,
                          std::chrono::steady_clock::time_point deadline);

}  // namespace platform
