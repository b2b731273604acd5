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
#include <vector>

#include "device/DeviceReading.h"

enum class TEndReason { Cutoff, Time, Operator, ConnectionLost, Tester };

// "cutoff", "time", "operator", "connection-lost", "tester".
const char* ReasonName(TEndReason reason);

struct TTestSummary {
    TEndReason Reason = TEndReason::Tester;
    double Start = 0;       // local time, days since 1899-12-30 (as TDeviceReading::TimeStamp)
    double End = 0;         // the same
    double DurationS = 0;   // End - Start in seconds, never below 0
    double Ah = 0, Wh = 0;  // the rise of the tester's counters over the test
    std::optional<double> MeanV, MinV, MaxV, MeanA, MaxTempC, InternalResistanceOhm;
    std::string Port;               // of the connection the test ended in
    std::string Log;                // the log of that connection (empty when it had none)
    std::vector<std::string> Logs;  // every log the test spans, in order; no empty names
};

// Follows the readings of the console's connections and tells when a test ended and how.
//
// A test begins at a reading with Status 1 that follows one with Status 0, or at the first reading
// of a connection when it shows Status 1; readings before the first one with a known Status in a
// connection are not used at all, since nothing tells whether a test ran then. It ends at a
// reading with Status 0, or with the connection. A connection lost with reconnection to come
// suspends the test instead: the first reading with a known Status on the next connection either
// carries it on or ends it (it ended while the console was away).
//
// The reason, first match wins: Stop sent by this console during the test; the connection lost;
// the tester's clock at the test-time setpoint (counting up) or at 0 (counting down), read from
// the stopped reading, else from the last running one with 2 s to spare for the polls missed;
// the last running voltage no more than 0.1 V above the cutoff; otherwise stopped at the tester.
class TTestTracker {
  public:
    // A connection opened on `port`; its log is `log` (empty when the log could not be made).
    // The previous connection has ended (a test still running in it is taken as suspended).
    void ConnectionOpened(const std::string& port, const std::string& log);

    // One reading of the open connection, in order. Returns the summary of the test it ended.
    std::optional<TTestSummary> Reading(const TDeviceReading& reading);

    // This console sent Stop to the tester. Counts only while a test runs on an open connection.
    void OperatorStopped();

    // The connection ended at `now` (local time, days since 1899-12-30). With `mayReconnect` a
    // running test is suspended and nothing is returned; otherwise a running or suspended test
    // ends with connection-lost (operator when Stop was sent), at the time the connection that
    // last showed it was lost.
    std::optional<TTestSummary> ConnectionEnded(double now, bool mayReconnect);

    // Reconnection was given up (the operator connected or disconnected by hand, or turned it
    // off): a suspended test ends as in ConnectionEnded without reconnection. Call it before
    // the first reading of a connection made by hand.
    std::optional<TTestSummary> ReconnectionGivenUp();

    // A test is running or suspended.
    bool TestRunning() const { return FRun.has_value(); }
    // A test waits for the console to reconnect.
    bool TestSuspended() const { return FRun && FRun->Suspended; }

  private:
    // What a connection knows from its readings before a test begins.
    struct TConnection {
        std::string Port, Log;
        std::optional<bool> Running;  // from the last reading with a known Status
        std::optional<double> AhBefore, WhBefore, NoLoadV;
    };

    // One test, from its first running reading on.
    struct TRun {
        std::optional<double> Start, LastTime;  // read time stamps of the test's readings
        std::optional<double> AhBefore, WhBefore, NoLoadV;
        std::optional<double> AhLast, WhLast;
        std::optional<double> MinV, MaxV, MaxTempC;
        std::optional<double> LastRunningV, LoadedV, LoadedA;
        std::optional<int> FirstClock, LastRunningClock;
        std::optional<double> CutoffV;
        std::optional<int> TimeSetpointS;
        bool OperatorStop = false;
        bool Suspended = false;
        double LostAt = 0;
        std::string Port, Log;
        std::vector<std::string> Logs;
    };

    void StartRun();
    void JoinConnection();
    void AddRunning(const TDeviceReading& reading);
    void AddCountersAndSetpoints(const TDeviceReading& reading);
    void NoteStopped(const TDeviceReading& reading);
    bool EndedAtSetTime(std::optional<int> stoppedClock) const;
    TTestSummary Finish(TEndReason reason, double end);
    std::optional<TTestSummary> EndAtReading(const TDeviceReading& reading);
    std::optional<TTestSummary> EndWithConnection();

    TConnection FConnection;
    std::optional<TRun> FRun;
};

// The summary as one JSON object, ending with a newline, with exactly the keys reason, start,
// end (ISO 8601 local time with its UTC offset), duration_s, ah, wh, mean_v, min_v, max_v,
// mean_a, max_temp_c, internal_resistance_ohm (each of the optional ones absent when unknown),
// port, log and logs (an array). Numbers are written with a decimal point whatever the locale.
std::string VerdictJson(const TTestSummary& summary);

// The same for people: a few lines of English, numbers with a decimal point, ending with a
// newline. Shown in the window's summary and printed by the command-line runner.
std::string VerdictText(const TTestSummary& summary);
