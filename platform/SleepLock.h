#pragma once
// The system's side of SleepInhibitor: taking and giving back the lock that keeps the machine
// awake. One file per system.

#include <string>

namespace platform {

// The lock, as a non-negative number that GiveSleepLockBack takes; -1 with `failure` said when
// the system refuses or cannot be asked.
int TakeSleepLock(const std::string& why, std::string& failure);
void GiveSleepLockBack(int lock);

}  // namespace platform
