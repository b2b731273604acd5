#pragma once
// The end of a discharge test and its verdict: when a test ended, why, and what the battery
// delivered, worked out from the readings alone. No I/O, no threads, no clock of its own: the
// window and the command-line runner each own one TTestTracker and call it on one thread (their
// own); nothing here locks.
//
// Values that were not read (-1, -1.0, or not a number in the float fields) are left out of every
// figure; a Status other than 0 or 1 says nothing about the test.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/DeviceReading.h"
#include "support/DateTime.h"
#include "testrun/TestClock.h"

enum class TEndReason { Cutoff, Time, Operator, ConnectionLost, Tester };

// "cutoff", "time", "operator", "connection-lost", "tester".
const char* ReasonName(TEndReason reason);
// The reason of one of those words; nothing for any other text. The one reading of a reason for
// verdict files and the register.
std::optional<TEndReason> ReasonNamed(std::string_view name);

struct TTestSummary {
    TEndReason Reason = TEndReason::Tester;
    TLocalStamp Start;      // when the test began
    TLocalStamp End;        // Start + DurationS
    double DurationS = 0;   // whole seconds, never below 0
    int JoinedAtS = 0;      // the tester's elapsed test time when the console first saw the test
    double Ah = 0, Wh = 0;  // the rise of the tester's counters over the test (their values when
                            // the console joined a running test)
    std::optional<double> MeanV, MinV, MaxV, MeanA, MaxTempC, InternalResistanceOhm;
    std::string Port;                 // of the connection the test ended in
    std::string Log;                  // the log of that connection (empty when it had none)
    std::vector<std::string> Logs;    // every log the test spans, in order; no empty names
    std::optional<std::string> Cell;  // the cell under test, when the operator named one
    std::string Station;              // the machine it ran on (StationName)
};

// Follows the readings of the console's connections and tells when a test ended and how.
//
// A test begins at a reading with Status 1 that follows one with Status 0, or at the first reading
// of a connection when it shows Status 1 (the console joined a test already running); readings
// before the first one with a known Status in a connection are not used at all, since nothing
// tells whether a test ran then. It ends at a reading with Status 0, or with the connection. A
// connection lost with reconnection to come suspends the test instead: the first reading with a
// known Status on the next connection either carries it on or ends it (it ended while the console
// was away).
//
// Times: the duration is the tester's own (TTestClock: elapsed, whichever way it counts) from the
// last reading before the test that drew no current (a tester that shows Start late draws, and
// counts, while it still shows the test off) to its end, or the whole test time on its clock for
// a test joined running; it is the console's, by UTC, only when the tester's test time was never
// read. The test began at its first running reading that read the clock, less the test time it had
// run by then (since the reading before the test; all of it when joined); it ended its duration
// later. Ah and Wh are the rise of the tester's counters over the same span.
//
// Voltages: a tester switches its load off at the cutoff before it shows the test stopped, so a
// running reading may show no current and the cell's voltage at rest. Only running readings that
// drew current (more than 5 mA read) count for the minimum, the maximum and the means. For a test
// watched from its start the means are time-weighted over those readings by the tester's clock
// (TTestClock, once its direction is known; trapezoids between neighbours that both drew current,
// on one connection, under one test-time setpoint; the plain mean of those readings when the
// clock placed none). The tester's clock is the one its counters and the duration go by: the
// console's polls come unevenly (a busy or sleeping machine, a simulator running fast), and two
// consoles reading one test must agree. For a joined test they are the tester's: Wh over Ah
// and Ah over the duration, and only when each of those counts at least 100 of its unit (mAh, mWh,
// s), since the counters are whole mAh and mWh. A mean voltage outside [minimum, maximum] is left
// out.
//
// The internal resistance comes from the step of the load at the test's start: a reading at rest
// (Status 0 and at most 5 mA read) and the first one after it at a settled current (within 2 % of
// its setpoint), whatever Status that one shows (a tester may show Start late while its load is
// already on), with at most two readings between, of the load still coming up, and the tester's
// clock showing at most 5 s of load by then. Readings further apart would count the discharge
// between them as resistance.
//
// The reason, first match wins: Stop sent by this console during the test; the connection lost;
// the tester's clock at the test-time setpoint, read from the stopped reading, else from the last
// running one with 2 s to spare for the polls missed; the voltage at the cutoff: the last loaded
// voltage seen no more than 0.1 V above it (for a test that ended while the console was away, the
// lower of that and the stopped voltage, which lies above the loaded one whatever the cell's
// resistance), or, away, the stopped voltage less the set current through the internal
// resistance no more than 0.1 V above it, when the counters also rose after the last loaded
// reading seen (the test ran on while away); otherwise stopped at the tester.
class TTestTracker {
  public:
    // A connection opened on `port`; its log is `log` (empty when the log could not be made).
    // The previous connection has ended (a test still running in it is taken as suspended).
    void ConnectionOpened(const std::string& port, const std::string& log);

    // One reading of the open connection, in order. Returns the summary of the test it ended.
    std::optional<TTestSummary> Reading(const TDeviceReading& reading);

    // This console sent Stop to the tester. Counts only while a test runs on an open connection.
    void OperatorStopped();

    // The connection ended at `now`. With `mayReconnect` a running test is suspended and nothing
    // is returned; otherwise a running or suspended test ends with connection-lost (operator when
    // Stop was sent): at the tester's last clock shown, or without one at the moment the
    // connection that last showed the test ended.
    std::optional<TTestSummary> ConnectionEnded(const TLocalStamp& now, bool mayReconnect);

    // Reconnection was given up (the operator connected or disconnected by hand, or turned it
    // off): a suspended test ends as in ConnectionEnded without reconnection. Call it before
    // the first reading of a connection made by hand.
    std::optional<TTestSummary> ReconnectionGivenUp();

    // The running readings (Status 1) that the last call of Reading, ConnectionEnded or
    // ReconnectionGivenUp placed on the elapsed time of their test: each a copy with TestTime
    // replaced by the seconds the test had run by the tester's clock (TTestClock), so that a test
    // whose tester counts down runs forward on a chart. Readings of a test whose clock direction is
    // still open are held back and placed, in order, once it is known (or the test ends); a
    // TestTime that was not read stays -1. Each call forgets what the one before placed.
    const std::vector<TDeviceReading>& Placed() const { return FPlaced; }

    // A test is running or suspended.
    bool TestRunning() const { return FRun.has_value(); }
    // A test waits for the console to reconnect.
    bool TestSuspended() const { return FRun && FRun->Suspended; }

  private:
    // A clock value as read: the test time and the setpoint it counts against.
    struct TClockValue {
        int32_t Time = -1, Setpoint = -1;
    };

    // What a connection knows from its readings before a test begins.
    struct TConnection {
        std::string Port, Log;
        std::optional<bool> Running;  // from the last reading with a known Status
        std::optional<double> AhBefore, WhBefore;
        std::optional<double> RestV;    // of the last reading at rest, while a step may follow
        int32_t RestClock = -1;         // the test time that reading showed
        int RampReadings = 0;           // since then, with the load coming up to its setpoint
        std::optional<double> StepOhm;  // of the last load step, until a test takes it
        TClockValue ClockBefore;
    };

    // A time-weighted mean of a value sampled at readings: trapezoids between neighbouring
    // samples that time moved forward between, the plain mean of the samples when there were none.
    struct TTimeMean {
        // `at`: s of the test; nothing for a sample that cannot be placed in time.
        void Add(double value, std::optional<double> at);
        void Break();  // the next sample has no neighbour before it
        std::optional<double> Mean() const;

        double Weighted = 0, Seconds = 0;  // value × s and s of the trapezoids
        double Sum = 0;                    // of the samples
        int Count = 0;
        double LastValue = 0;
        std::optional<double> LastAt;  // of the sample before, while the chain holds
    };

    // One test, from its first running reading on.
    struct TRun {
        bool Joined = false;  // already running at the first reading of its connection
        std::optional<TLocalStamp> Start, LastTime, LostAt;  // of the test's readings
        std::optional<TLocalStamp> FirstClockTime;           // of the first that read the clock
        std::optional<double> AhBefore, WhBefore;
        std::optional<double> AhLast, WhLast;
        // Of the running readings that drew current.
        std::optional<double> MinV, MaxV, LastLoadedV, AhAtLastLoaded;
        // The last two of them with the test's elapsed time by the tester's clock: the voltage's
        // way down, to follow up to the moment the tester stopped.
        struct TLoaded {
            double Volts = 0;
            int32_t ElapsedS = 0;
        };
        std::optional<TLoaded> LoadedBefore, LoadedLast;
        TTimeMean MeanV, MeanA;
        int32_t MeansSetpoint = -1;  // the test-time setpoint of the last sample of the means
        std::optional<double> MaxTempC;
        std::optional<double> StepOhm;  // from the load step that began the test
        std::optional<double> CutoffV, CurrentSetpointA;
        std::optional<int> TimeSetpointS;
        TClockValue ClockBefore, FirstClock, LastRunningClock;
        TTestClock Clock;
        std::vector<TDeviceReading> Held;  // running readings waiting for the clock's direction
        bool OperatorStop = false;
        bool Suspended = false;
        std::string Port, Log;
        std::vector<std::string> Logs;
    };

    void StartRun(bool joined);
    void JoinConnection();
    void AddRunning(const TDeviceReading& reading);
    void Place(const TDeviceReading& reading);
    void PlaceHeld();
    void AddCountersAndSetpoints(const TDeviceReading& reading);
    void NoteStopped(const TDeviceReading& reading);
    void NoteLoadStep(const TDeviceReading& reading);
    void AddToMeans(const TDeviceReading& reading);
    std::optional<int32_t> Elapsed(const TClockValue& value) const;
    bool EndedAtSetTime(const TClockValue& stopped) const;
    bool EndedAtCutoff(const TClockValue& stopped, const TDeviceReading* stoppedWhileAway) const;
    void SetMeans(TTestSummary& summary, bool countersSpanTheDuration) const;
    TTestSummary Finish(TEndReason reason, const TLocalStamp& end, const TClockValue& endClock,
                        bool endedAway);
    std::optional<TTestSummary> EndAtReading(const TDeviceReading& reading, bool endedAway);
    std::optional<TTestSummary> EndWithConnection();

    TConnection FConnection;
    std::optional<TRun> FRun;
    std::vector<TDeviceReading> FPlaced;
};

// The summary as one JSON object, ending with a newline, with exactly the keys reason, start,
// end (ISO 8601 local time with its UTC offset), duration_s, joined_at_s, ah, wh, mean_v, min_v,
// max_v, mean_a, max_temp_c, internal_resistance_ohm (each of the optional ones absent when
// unknown), port, log, logs (an array), cell (null when none was named) and station: the fields of
// VerdictFields.h, in order. Numbers are written with a decimal point whatever the locale.
std::string VerdictJson(const TTestSummary& summary);

// The same for people: a few lines of English, numbers with a decimal point, ending with a
// newline. Shown in the window's summary and printed by the command-line runner. A test joined
// running says so: "Joined at 0:30:00 of the test; the figures are the tester's for the whole
// test."
std::string VerdictText(const TTestSummary& summary);
