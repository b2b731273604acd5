#pragma once
// The simulated tester's behaviour: a cell discharged at the set current, counting Ah and Wh,
// warming with power, stopping at the cutoff voltage or at the end of a timed test, and showing
// a Start, and an end of its own, on its status register as late as the tester is set to. Pure
// state, no clock and no lock: the owner advances it and guards it.

#include <cstdint>

#include "sim/CellModel.h"
#include "sim/Registers.h"

namespace sim {

class DischargeModel {
  public:
    // `startLateReads`: after a Start, the status register shows 0 for this many status reads
    // while the test already runs (0: shown at once). `stopLateReads`: when the test ends by
    // itself (at the cutoff, the cell flat, or on time) the load goes off at once, the current
    // reads 0 and the voltage is the cell's at rest (risen by I×R), but the status register shows
    // 1 for this many status reads more, as a real tester reports its own stop.
    explicit DischargeModel(const CellModel& cell = {}, uint32_t startLateReads = 0,
                            uint32_t stopLateReads = 0);

    // The registers as they would be answered now; the status as shown, which lags a Start.
    const Registers& State() const { return registers_; }

    // Puts exact values in place, the status too, which then shows at once (a lag still pending
    // ends). With the test off (status other than 1) they then stay exactly as set, apart from
    // what later write commands change, until a test is started; with the test on, the model
    // goes on from them.
    void Set(const Registers& registers);

    // Lets `seconds` of model time pass, in steps of at most one second.
    void Advance(double seconds);

    // A test at the current setpoint, started `seconds` of model time ago from the cell as it is
    // now: runs it for that long in the model's own steps (it may have ended by then, the cell
    // run flat). Its start is long shown: no lag.
    void StartedAgo(double seconds);

    // A status read was answered from State(): one read fewer still shows a Start, or an end of
    // the test's own, late.
    void StatusRead();

    // The write commands of the protocol. A Start that starts a test shows late; one while a
    // test runs changes nothing, not even a lag still pending. As a real tester, it ignores a
    // Start while the cell's shown voltage is at or below the cutoff, or while a test time that
    // an earlier test used up is set (a reset or a longer time lets it start); at a current of 0
    // it runs, drawing nothing, until it is stopped. A Stop shows at once and ends either lag.
    void SetRunning(bool run);
    void SetCurrentSetpoint(uint32_t centiAmperes);
    void SetCutoffVoltage(uint32_t centiVolts);
    void SetTestTimeSetpoint(uint32_t seconds);
    void ResetCounters();  // Ah, Wh and the test clock; the cell keeps its charge

  private:
    bool Running() const { return running_; }
    double SetCurrent() const { return registers_.currentSetpoint_cA / 100.0; }  // A
    double LoadedVoltage(double amperes) const;
    bool TimedTestOver() const;
    // Why a Start is left alone: a cell at or below the cutoff (as shown), a test time used up.
    bool StartIgnored() const;
    bool CellAtOrBelowCutoff() const;
    void Step(double seconds);  // one step of a running test
    void Relax(double seconds);
    void Stop();         // the test ends: by a Stop, at the cutoff, flat, or on time
    void EndByItself();  // Stop() at the cutoff, flat, or on time: shown stopped late
    void EndStopLag();   // a Stop write shows a stop of the test's own at once
    uint8_t ShownStatus() const;
    uint32_t ClockRegister() const;
    void Publish();  // registers from the state below; skipped while pinned

    CellModel cell_;
    Registers registers_;         // what is answered; setpoints live only here
    uint32_t startLateReads_;     // as constructed
    bool running_ = false;        // the load is on, whatever the status register shows
    uint32_t lateReadsLeft_ = 0;  // status reads that still show 0 for a running test
    uint32_t stopLateReads_;      // as constructed
    uint32_t stopReadsLeft_ = 0;  // status reads that still show 1 for a test ended by itself
    bool pinned_ = false;  // registers were set from outside and the test has not started since
    double chargeTakenAh_ = 0;  // drawn from the cell since it was full; a reset keeps it
    double ampHours_ = 0;       // counters since the last reset
    double wattHours_ = 0;
    double elapsedS_ = 0;  // test clock, seconds of test run since the last reset
    double temperatureC_ = 0;
};

}  // namespace sim
