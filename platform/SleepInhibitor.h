#pragma once
// Keeps the machine awake while a discharge test runs: a "block" lock on "sleep" taken from the
// login manager (org.freedesktop.login1 on the system bus). The lock is the descriptor that the
// login manager hands back: it holds while that descriptor is open anywhere, so this object owns
// it, opens it close-on-exec (a child started later must not keep the machine awake) and closes
// it on Release() or destruction.
//
// Where there is no login manager (a container, a system without one, no system bus, a refusal)
// Acquire() returns false and writes one debug line; nothing else is said. It never holds the
// caller long: a bus that is not there fails at once, and connecting, authenticating and the
// call together end within kSleepLockCallBound.
//
// On Windows the lock is the execution state of the thread that takes it (SleepLock.h), which
// needs no bus and cannot fail in practice.
//
// Not thread-safe: one thread owns an inhibitor (the window's, or kelvo-run's main thread).
// Distinct inhibitors may be used on distinct threads; each call opens its own connection.

#include <chrono>
#include <string>

namespace platform {

// The longest Acquire() waits for the system bus and the login manager together.
inline constexpr std::chrono::milliseconds kSleepLockCallBound{1000};

// The reason shown for the lock (by `systemd-inhibit --list`, or a desktop's "why can't I
// suspend") while a test runs on the port `portName` (bare name, e.g. ttyUSB0).
std::string DischargeTestSleepReason(const std::string& portName);

class SleepInhibitor {
  public:
    SleepInhibitor() = default;
    ~SleepInhibitor();  // releases the lock when held
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;
    // The lock goes with the move; the moved-from inhibitor holds nothing.
    SleepInhibitor(SleepInhibitor&& other) noexcept;
    SleepInhibitor& operator=(SleepInhibitor&& other) noexcept;

    // Takes the lock, with `why` as its reason. Returns whether it is held on return. When one is
    // held already it is kept as it is (reason unchanged) and no call is made. Never throws.
    bool Acquire(const std::string& why);

    // Gives the lock back; does nothing when none is held.
    void Release();

    bool Held() const { return lock_ >= 0; }

  private:
    int lock_ = -1;  // the login manager's descriptor, owned; -1 when no lock is held
};

}  // namespace platform
