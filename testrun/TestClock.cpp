#include "testrun/TestClock.h"

#include <cstdlib>

namespace {

// A first reading this close to the setpoint, or to 0, shows a test that has just begun.
constexpr int32_t kJustStartedS = 2;

}  // namespace

int32_t TTestClock::SetpointOr(int32_t setpoint) const {
    return setpoint >= 0 ? setpoint : FSetpoint;
}

void TTestClock::Running(int32_t testTime, int32_t setpoint) {
    if (setpoint >= 0) FSetpoint = setpoint;
    if (testTime < 0) return;
    if (!FLastTime) {
        if (FSetpoint > 0 && std::abs(FSetpoint - testTime) <= kJustStartedS) {
            FDirection = TDirection::Down;
        } else if (FSetpoint == 0 || testTime <= kJustStartedS) {
            FDirection = TDirection::Up;
        }
    } else if (testTime < *FLastTime && FSetpoint > 0) {
        FDirection = TDirection::Down;
    } else if (testTime > *FLastTime && FDirection == TDirection::Open) {
        FDirection = TDirection::Up;
    }
    FLastTime = testTime;
}

void TTestClock::SettleAsUp() {
    if (FDirection == TDirection::Open) FDirection = TDirection::Up;
}

std::optional<int32_t> TTestClock::Elapsed(int32_t testTime, int32_t setpoint) const {
    if (testTime < 0) return std::nullopt;
    const int32_t set = SetpointOr(setpoint);
    if (FDirection == TDirection::Down && set > 0) return set > testTime ? set - testTime : 0;
    return testTime;
}
