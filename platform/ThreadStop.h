#pragma once
// Ending a worker thread from outside, at once, from wherever it blocks.
//
// A thread that may be stopped owns a StopSignal and installs it for itself with
// SetThreadStopSignal(). Every blocking wait of the platform layer (serial waits, Sleep) also
// watches that signal; once it is raised the wait throws ThreadStopRequested, which unwinds the
// thread's body through its destructors, so no lock stays held and nothing leaks. A body that
// never enters such a wait is not interrupted: it has to test StopRequested() itself.

#include <atomic>
#include <cstdint>

namespace platform {

// Thrown out of a blocking wait when the calling thread was asked to stop. Deliberately not a
// std::exception: handlers that catch errors must let it through (rethrow it).
struct ThreadStopRequested {};

class StopSignal {
  public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Asks the owning thread to stop; callable from any thread, any number of times.
    void Raise();
    bool Raised() const { return raised_.load(); }
    // A descriptor that polls readable once the signal is raised.
    int Descriptor() const { return fd_; }

  private:
    int fd_;
    std::atomic<bool> raised_{false};
};

// Installs `signal` (may be null) as the calling thread's stop signal. The signal must outlive
// the installation.
void SetThreadStopSignal(StopSignal* signal);
StopSignal* ThreadStopSignal();

// True when the calling thread has a raised stop signal.
bool StopRequested();
// Throws ThreadStopRequested when StopRequested().
void ThrowIfStopRequested();

// Pauses the calling thread for `ms` milliseconds; throws ThreadStopRequested as soon as the
// thread is asked to stop.
void Sleep(uint32_t ms);

}  // namespace platform
