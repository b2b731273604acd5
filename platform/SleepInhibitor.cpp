#include "platform/SleepInhibitor.h"

#include <utility>

#include "platform/DebugOutput.h"
#include "platform/SleepLock.h"

namespace platform {

std::string DischargeTestSleepReason(const std::string& portName) {
    return "Discharge test running on " + portName;
}

SleepInhibitor::~SleepInhibitor() {
    Release();
}

SleepInhibitor::SleepInhibitor(SleepInhibitor&& other) noexcept
    : lock_(std::exchange(other.lock_, -1)) {}

SleepInhibitor& SleepInhibitor::operator=(SleepInhibitor&& other) noexcept {
    if (this != &other) {
        Release();
        lock_ = std::exchange(other.lock_, -1);
    }
    return *this;
}

bool SleepInhibitor::Acquire(const std::string& why) {
    if (Held()) return true;
    std::string failure;
    lock_ = TakeSleepLock(why, failure);
    if (!Held()) {
        DebugOutput("sleep lock: not taken: " + failure);
        return false;
    }
    DebugOutput([&] { return "sleep lock: taken: " + why; });
    return true;
}

void SleepInhibitor::Release() {
    if (!Held()) return;
    GiveSleepLockBack(std::exchange(lock_, -1));
    DebugOutput("sleep lock: released");
}

}  // namespace platform
