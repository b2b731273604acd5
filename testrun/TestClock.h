#pragma once
// How long a test has run by the tester's own clock. The tester shows its test time counting up
// from its last reset, or, in a timed test, counting down the time left; the elapsed time always
// runs forward: the test-time setpoint minus the time left when the clock counts down.
//
// A test counts down when its test-time setpoint is above 0 and either its first running reading
// shows a test time within 2 s of the setpoint, or the time falls from one running reading to the
// next. It counts up without a setpoint, when its first running reading shows at most 2 s, or
// once the time rises. A first reading that shows neither (a timed test joined half-way) leaves
// the direction open until the next one. One object per test; no I/O, no lock: its owner's thread.

#include <cstdint>
#include <optional>

class TTestClock {
  public:
    enum class TDirection { Open, Up, Down };

    // The clock and setpoint of one running reading of the test, in order; -1 for a value that
    // was not read. A setpoint that was not read is taken as the last one read.
    void Running(int32_t testTime, int32_t setpoint);

    TDirection Direction() const { return FDirection; }
    // Whether the direction is known (an open one is taken as counting up).
    bool Settled() const { return FDirection != TDirection::Open; }
    // Ends an open direction as counting up: a clock that has not moved for a while.
    void SettleAsUp();

    // The elapsed seconds that the clock value `testTime` shows under `setpoint` (-1 for the last
    // one read), in the direction known now; nothing when the time was not read.
    std::optional<int32_t> Elapsed(int32_t testTime, int32_t setpoint = -1) const;

  private:
    int32_t SetpointOr(int32_t setpoint) const;

    TDirection FDirection = TDirection::Open;
    std::optional<int32_t> FLastTime;  // of the last running reading that read it
    int32_t FSetpoint = -1;            // the last one read, s
};
