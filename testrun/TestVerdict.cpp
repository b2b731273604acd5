#include "testrun/TestVerdict.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "support/CivilTime.h"
#include "support/DateTime.h"
#include "support/Format.h"
#include "support/Json.h"
#include "support/TimeText.h"
#include "testrun/VerdictFields.h"

namespace {

// The tester may stop above the cutoff by this much: it ends the test when the voltage under
// load reaches the cutoff, and the last poll may come a little before that.
constexpr double kCutoffMarginV = 0.1;
// Float values of millivolt readings must not be pushed across the margin by their rounding.
constexpr double kFloatSlackV = 0.0005;
// The last running reading may be this short of the set time: polls miss the last seconds.
constexpr int kClockSlackS = 2;
// The load has settled when the current is within this fraction of its setpoint.
constexpr double kSettledCurrent = 0.02;
// A stopped tester draws no more than this: its voltage is the cell's at rest.
constexpr float kNoLoadA = 0.005f;
// Running readings wait at most this long (console time) for the tester's clock to show which way
// it counts.
constexpr double kLongestHoldS = 3;

bool Read(float value) {
    return value != -1.0f && !std::isnan(value);
}
bool Read(double value) {
    return value != -1.0 && !std::isnan(value);
}
bool Read(int32_t value) {
    return value != -1;
}
bool Read(int8_t value) {
    return value != -1;
}

void KeepMin(std::optional<double>& kept, double value) {
    kept = kept ? std::min(*kept, value) : value;
}
void KeepMax(std::optional<double>& kept, double value) {
    kept = kept ? std::max(*kept, value) : value;
}

TLocalStamp StampOf(const TDeviceReading& r) {
    return {r.TimeStamp, r.UtcOffset};
}

// The rise of a counter from `before` (read before the test) to `last` (read during it). A
// counter that restarted from zero, or one without a value before, rose by its last value.
double Rise(std::optional<double> before, std::optional<double> last) {
    if (!last) return 0;
    if (!before || *last < *before) return *last;
    return *last - *before;
}

}  // namespace

namespace {

struct TReasonWords {
    TEndReason Reason;
    const char* Name;  // in the JSON
    const char* Text;  // for people
};
constexpr TReasonWords kReasons[] = {
    {TEndReason::Cutoff, "cutoff", "Test ended at the cutoff voltage."},
    {TEndReason::Time, "time", "Test ended at the set test time."},
    {TEndReason::Operator, "operator", "Test stopped by the operator."},
    {TEndReason::ConnectionLost, "connection-lost", "Test ended: connection lost."},
    {TEndReason::Tester, "tester", "Test stopped at the tester."},
};

const TReasonWords& WordsOf(TEndReason reason) {
    for (const TReasonWords& words : kReasons) {
        if (words.Reason == reason) return words;
    }
    return kReasons[std::size(kReasons) - 1];
}

}  // namespace

const char* ReasonName(TEndReason reason) {
    return WordsOf(reason).Name;
}

std::optional<TEndReason> ReasonNamed(std::string_view name) {
    for (const TReasonWords& words : kReasons) {
        if (name == words.Name) return words.Reason;
    }
    return std::nullopt;
}

void TTestTracker::ConnectionOpened(const std::string& port, const std::string& log) {
    FPlaced.clear();
    // A test still running here lost its connection without being told: it waits like any other.
    if (FRun && !FRun->Suspended) {
        FRun->Suspended = true;
        FRun->LostAt = FRun->LastTime ? FRun->LastTime : FRun->Start;
    }
    FConnection = TConnection{};
    FConnection.Port = port;
    FConnection.Log = log;
}

std::optional<TTestSummary> TTestTracker::Reading(const TDeviceReading& reading) {
    FPlaced.clear();
    if (reading.Status != 0 && reading.Status != 1) {
        // The reading belongs to the state the connection is known to be in, if any.
        if (FConnection.Running == true && FRun) AddRunning(reading);
        if (FConnection.Running == false) NoteStopped(reading);
        return std::nullopt;
    }
    const bool running = reading.Status == 1;
    const bool firstWord = !FConnection.Running.has_value();
    FConnection.Running = running;
    bool endedAway = false;
    if (FRun && FRun->Suspended) {
        // The tester's first word since the reconnection: the test goes on, or it ended meanwhile.
        FRun->Suspended = false;
        endedAway = !running;
        JoinConnection();
    }
    if (running) {
        if (!FRun) StartRun(firstWord);
        AddRunning(reading);
        return std::nullopt;
    }
    if (FRun) return EndAtReading(reading, endedAway);
    NoteStopped(reading);
    return std::nullopt;
}

void TTestTracker::OperatorStopped() {
    if (FRun && !FRun->Suspended) FRun->OperatorStop = true;
}

std::optional<TTestSummary> TTestTracker::ConnectionEnded(const TLocalStamp& now,
                                                          bool mayReconnect) {
    FPlaced.clear();
    FConnection = TConnection{};
    if (!FRun) return std::nullopt;
    if (!FRun->Suspended) {
        FRun->Suspended = true;
        FRun->LostAt = now;
    }
    if (mayReconnect) return std::nullopt;
    return EndWithConnection();
}

std::optional<TTestSummary> TTestTracker::ReconnectionGivenUp() {
    FPlaced.clear();
    if (!FRun || !FRun->Suspended) return std::nullopt;
    return EndWithConnection();
}

void TTestTracker::StartRun(bool joined) {
    FRun = TRun{};
    FRun->Joined = joined;
    FRun->AhBefore = FConnection.AhBefore;
    FRun->WhBefore = FConnection.WhBefore;
    FRun->NoLoadV = FConnection.NoLoadV;
    FRun->ClockBefore = FConnection.ClockBefore;
    JoinConnection();
}

void TTestTracker::JoinConnection() {
    FRun->Port = FConnection.Port;
    FRun->Log = FConnection.Log;
    if (!FRun->Log.empty() && (FRun->Logs.empty() || FRun->Logs.back() != FRun->Log)) {
        FRun->Logs.push_back(FRun->Log);
    }
}

void TTestTracker::AddCountersAndSetpoints(const TDeviceReading& r) {
    if (Read(r.TimeStamp)) FRun->LastTime = StampOf(r);
    if (Read(r.AmpHours)) FRun->AhLast = r.AmpHours;
    if (Read(r.WattHours)) FRun->WhLast = r.WattHours;
    if (Read(r.CutoffVoltage)) FRun->CutoffV = r.CutoffVoltage;
    if (Read(r.CurrentSetpoint)) FRun->CurrentSetpointA = r.CurrentSetpoint;
    if (Read(r.TestTimeSetpoint)) FRun->TimeSetpointS = r.TestTimeSetpoint;
}

void TTestTracker::AddRunning(const TDeviceReading& r) {
    TRun& run = *FRun;
    if (Read(r.TimeStamp) && !run.Start) run.Start = StampOf(r);
    AddCountersAndSetpoints(r);
    if (Read(r.Voltage)) {
        KeepMin(run.MinV, r.Voltage);
        KeepMax(run.MaxV, r.Voltage);
        run.LastRunningV = r.Voltage;
    }
    if (Read(r.Temperature)) KeepMax(run.MaxTempC, r.Temperature);
    if (Read(r.TestTime)) {
        const TClockValue clock{r.TestTime, run.TimeSetpointS.value_or(-1)};
        if (run.FirstClock.Time < 0 && Read(r.TimeStamp)) {
            run.FirstClock = clock;
            run.FirstClockTime = StampOf(r);
        }
        run.LastRunningClock = clock;
    }
    run.Clock.Running(r.TestTime, r.TestTimeSetpoint);
    if (!run.LoadedA && Read(r.Voltage) && Read(r.Current) && Read(r.CurrentSetpoint) &&
        r.CurrentSetpoint > 0 &&
        std::fabs(double{r.Current} - r.CurrentSetpoint) <= kSettledCurrent * r.CurrentSetpoint) {
        run.LoadedV = r.Voltage;
        run.LoadedA = r.Current;
    }
    if (r.Status == 1) Place(r);
}

void TTestTracker::Place(const TDeviceReading& r) {
    TRun& run = *FRun;
    // A clock that does not move says nothing about its direction; after a while of that it is
    // taken as counting up, so that nothing is held back for long.
    if (!run.Clock.Settled() && !run.Held.empty() &&
        SecondsBetween(StampOf(run.Held.front()), StampOf(r)) > kLongestHoldS) {
        run.Clock.SettleAsUp();
    }
    run.Held.push_back(r);
    if (run.Clock.Settled()) PlaceHeld();
}

void TTestTracker::PlaceHeld() {
    for (TDeviceReading placed : FRun->Held) {
        placed.TestTime =
            FRun->Clock.Elapsed(placed.TestTime, placed.TestTimeSetpoint).value_or(-1);
        FPlaced.push_back(placed);
    }
    FRun->Held.clear();
}

void TTestTracker::NoteStopped(const TDeviceReading& r) {
    if (Read(r.AmpHours)) FConnection.AhBefore = r.AmpHours;
    if (Read(r.WattHours)) FConnection.WhBefore = r.WattHours;
    if (Read(r.TestTime)) FConnection.ClockBefore = {r.TestTime, r.TestTimeSetpoint};
    // Only a reading that shows the test off and no current drawn is known to be at no load (a
    // tester may show Start late while the load is already on).
    if (r.Status == 0 && Read(r.Voltage) && (!Read(r.Current) || r.Current <= kNoLoadA)) {
        FConnection.NoLoadV = r.Voltage;
    }
}

std::optional<int32_t> TTestTracker::Elapsed(const TClockValue& value) const {
    if (value.Time < 0) return std::nullopt;
    return FRun->Clock.Elapsed(
        value.Time, value.Setpoint >= 0 ? value.Setpoint : FRun->TimeSetpointS.value_or(-1));
}

bool TTestTracker::EndedAtSetTime(const TClockValue& stopped) const {
    const TRun& run = *FRun;
    if (!run.TimeSetpointS || *run.TimeSetpointS <= 0) return false;
    if (const auto elapsed = Elapsed(stopped)) return *elapsed >= *run.TimeSetpointS;
    const auto last = Elapsed(run.LastRunningClock);
    return last && *last >= *run.TimeSetpointS - kClockSlackS;
}

bool TTestTracker::EndedAtCutoff(const TDeviceReading* stoppedWhileAway) const {
    const TRun& run = *FRun;
    if (!run.CutoffV) return false;
    if (stoppedWhileAway == nullptr) {
        return run.LastRunningV &&
               *run.LastRunningV - *run.CutoffV <= kCutoffMarginV + kFloatSlackV;
    }
    // Stopped while away: only the stopped reading is left, and the voltage has recovered since
    // the load went off, by the set current through the cell's resistance.
    if (!Read(stoppedWhileAway->Voltage)) return false;
    const double resistance = InternalResistance().value_or(0);
    const double underLoad =
        stoppedWhileAway->Voltage - run.CurrentSetpointA.value_or(0) * resistance;
    return underLoad - *run.CutoffV <= kCutoffMarginV + kFloatSlackV;
}

std::optional<double> TTestTracker::InternalResistance() const {
    const TRun& run = *FRun;
    if (!run.NoLoadV || !run.LoadedV || !run.LoadedA || *run.LoadedA <= 0) return std::nullopt;
    return (*run.NoLoadV - *run.LoadedV) / *run.LoadedA;
}

std::optional<TTestSummary> TTestTracker::EndAtReading(const TDeviceReading& r, bool endedAway) {
    AddCountersAndSetpoints(r);
    PlaceHeld();
    const TRun& run = *FRun;
    const TClockValue stopped{r.TestTime, Read(r.TestTimeSetpoint) ? r.TestTimeSetpoint : -1};
    TEndReason reason = TEndReason::Tester;
    if (run.OperatorStop) {
        reason = TEndReason::Operator;
    } else if (EndedAtSetTime(stopped)) {
        reason = TEndReason::Time;
    } else if (EndedAtCutoff(endedAway ? &r : nullptr)) {
        reason = TEndReason::Cutoff;
    }
    // Away, the console does not know when the test ended: not later than it last saw it running,
    // as far as its own clock goes; the tester's clock tells the rest.
    const TLocalStamp end = endedAway ? run.LostAt.value_or(StampOf(r)) : StampOf(r);
    TTestSummary summary = Finish(reason, end, stopped, endedAway);
    // The stopped reading is the no-load reading before the next test.
    NoteStopped(r);
    return summary;
}

std::optional<TTestSummary> TTestTracker::EndWithConnection() {
    PlaceHeld();
    const TEndReason reason =
        FRun->OperatorStop ? TEndReason::Operator : TEndReason::ConnectionLost;
    const TLocalStamp end = FRun->LostAt.value_or(FRun->LastTime.value_or(TLocalStamp{}));
    return Finish(reason, end, {}, false);
}

TTestSummary TTestTracker::Finish(TEndReason reason, const TLocalStamp& end,
                                  const TClockValue& endClock, bool endedAway) {
    const TRun& run = *FRun;
    TTestSummary s;
    s.Reason = reason;
    // The tester's clock at the end: the stopped reading's, unless it was reset with the stop.
    std::optional<int32_t> elapsedEnd = Elapsed(run.LastRunningClock);
    if (const auto stopped = Elapsed(endClock);
        stopped && (!elapsedEnd || *stopped > *elapsedEnd)) {
        elapsedEnd = stopped;
    }
    const TLocalStamp firstSeen = run.Start.value_or(end);
    if (elapsedEnd) {
        const std::optional<int32_t> before =
            run.Joined ? std::optional<int32_t>(0) : Elapsed(run.ClockBefore);
        s.DurationS = Rise(before, *elapsedEnd);
        s.JoinedAtS = run.Joined ? Elapsed(run.FirstClock).value_or(0) : 0;
        s.Start = run.Joined && run.FirstClockTime ? AddSeconds(*run.FirstClockTime, -s.JoinedAtS)
                                                   : firstSeen;
        s.End = AddSeconds(s.Start, s.DurationS, end.UtcOffsetMin);
    } else {
        s.Start = firstSeen;
        s.DurationS = std::max(0.0, std::round(SecondsBetween(s.Start, end)));
        s.End = AddSeconds(s.Start, s.DurationS, end.UtcOffsetMin);
    }
    s.Ah = Rise(run.Joined ? std::nullopt : run.AhBefore, run.AhLast);
    s.Wh = Rise(run.Joined ? std::nullopt : run.WhBefore, run.WhLast);
    if (s.Ah > 0) s.MeanV = s.Wh / s.Ah;
    s.MinV = run.MinV;
    s.MaxV = run.MaxV;
    // Without the tester's clock, a test that ended away has counters that ran on past the
    // duration the console can vouch for.
    const bool sameSpan = elapsedEnd || !endedAway;
    if (s.DurationS > 0 && sameSpan) s.MeanA = s.Ah / (s.DurationS / 3600.0);
    s.MaxTempC = run.MaxTempC;
    s.InternalResistanceOhm = InternalResistance();
    s.Port = run.Port;
    s.Log = run.Log;
    s.Logs = run.Logs;
    FRun.reset();
    return s;
}

namespace {

// A local date and time, cut to whole seconds as the log names are: "2026-12-08 14:03:12".
std::string LocalTimeText(const TLocalStamp& stamp) {
    const TCivilTime c = CivilTimeOf(stamp.DateTime);
    return Format("%04d-%02d-%02d %02d:%02d:%02d", c.Year, c.Month, c.Day, c.Hour, c.Minute,
                  c.Second);
}

const char* ReasonText(TEndReason reason) {
    return WordsOf(reason).Text;
}

}  // namespace

std::string VerdictJson(const TTestSummary& s) {
    TJsonWriter json;
    json.Object();
    WriteVerdictFields(json, s);
    return json.End().Line();
}

std::string VerdictText(const TTestSummary& s) {
    std::string text = std::string(ReasonText(s.Reason)) + "\n";
    if (s.Cell) text += "Cell: " + *s.Cell + "\n";
    text += "Started " + LocalTimeText(s.Start) + ", ended " + LocalTimeText(s.End) +
            ", duration " + LongDurationText(std::max(0LL, std::llround(s.DurationS))) + ".\n";
    if (s.JoinedAtS > 0) {
        text += Format(
            "Joined at %d:%02d:%02d of the test; the figures are the tester's for the "
            "whole test.\n",
            s.JoinedAtS / 3600, s.JoinedAtS / 60 % 60, s.JoinedAtS % 60);
    }
    text += "Delivered " + FixedDecimals(s.Ah, 3) + " Ah, " + FixedDecimals(s.Wh, 3) + " Wh";
    if (s.MeanV) text += ", mean " + FixedDecimals(*s.MeanV, 3) + " V";
    if (s.MeanA) text += (s.MeanV ? ", " : ", mean ") + FixedDecimals(*s.MeanA, 3) + " A";
    text += ".\n";
    std::vector<std::string> seen;
    if (s.MinV && s.MaxV)
        seen.push_back("voltage " + FixedDecimals(*s.MinV, 3) + " to " + FixedDecimals(*s.MaxV, 3) +
                       " V");
    if (s.MaxTempC) seen.push_back("temperature up to " + FixedDecimals(*s.MaxTempC, 0) + " °C");
    if (s.InternalResistanceOhm) {
        seen.push_back("internal resistance " + FixedDecimals(*s.InternalResistanceOhm * 1000, 1) +
                       " mΩ");
    }
    for (size_t i = 0; i < seen.size(); ++i) {
        if (i == 0) seen[i][0] = static_cast<char>(std::toupper(seen[i][0]));
        text += seen[i] + (i + 1 < seen.size() ? ", " : ".\n");
    }
    if (s.Logs.empty()) {
        text += "No log.\n";
    } else {
        text += (s.Logs.size() == 1 ? "Log: " : "Logs: ") + s.Logs.front() + "\n";
        for (size_t i = 1; i < s.Logs.size(); ++i) text += "      " + s.Logs[i] + "\n";
    }
    return text;
}
