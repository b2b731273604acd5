#pragma once
// The simulated tester's behaviour: a cell discharged at the set current, counting Ah and Wh,
// warming with power, stopping at the cutoff voltage or at the end of a timed test. Pure state,
// no clock and no lock: the owner advances it and guards it.

#include <cstdint>

#include "sim/CellModel.h"
#include "sim/Registers.h"

namespace sim {

class DischargeModel {
  public:
    explicit DischargeModel(const CellModel& cell = {});

    // The registers as they would be answered now.
    const Registers& State() const { return registers_; }

    // Puts exact values in place. With the test off (status other than 1) they then stay exactly
    // as set, apart from what later write commands change, until a test is started; with the
    // test on, the model goes on from them.
    void Set(const Registers& registers);

    // Lets `seconds` of model time pass, in steps of at most one second.
    void Advance(double seconds);

    // The write commands of the protocol.
    void SetRunning(bool run);
    void SetCurrentSetpoint(uint32_t centiAmperes);
    void SetCutoffVoltage(uint32_t centiVolts);
    void SetTestTimeSetpoint(uint32_t seconds);
    void ResetCounters();  // Ah, Wh and the test clock; the cell keeps its charge

  private:
    bool Running() const { return registers_.status == 1; }
    double SetCurrent() const { return registers_.currentSetpoint_cA / 100.0; }  // A
    double LoadedVoltage(double amperes) const;
    bool TimedTestOver() const;
    void Step(double seconds);  // one step of a running test
    void Relax(double seconds);
    uint32_t ClockRegister() const;
    void Publish();  // registers from the state below; skipped while pinned

    CellModel cell_;
    Registers registers_;  // what is answered; setpoints and status live only here
    bool pinned_ = false;  // registers were set from outside and the test has not started since
    double chargeTakenAh_ = 0;  // drawn from the cell since it was full; a reset keeps it
    double ampHours_ = 0;       // counters since the last reset
    double wattHours_ = 0;
    double elapsedS_ = 0;  // test clock, seconds of test run since the last reset
    double temperatureC_ = 0;
};

}  // namespace sim
