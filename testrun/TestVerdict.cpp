#include "testrun/TestVerdict.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "support/CivilTime.h"
#include "support/DateTime.h"
#include "support/Format.h"
#include "support/Json.h"
#include "support/TimeText.h"
#include "testrun/VerdictFields.h"

namespace {

// The tester may stop above the cutoff by this much: it ends the test when the voltage under
// load reaches the cutoff, and the last loaded reading may come a little before that.
constexpr double kCutoffMarginV = 0.1;
// Float values of millivolt readings must not be pushed across the margin by their rounding.
constexpr double kFloatSlackV = 0.0005;
// The last running reading may be this short of the set time: polls miss the last seconds.
constexpr int kClockSlackS = 2;
// The load has settled when the current is within this fraction of its setpoint.
constexpr double kSettledCurrent = 0.02;
// A stopped tester draws no more than this: its voltage is the cell's at rest. A running reading
// that shows no more was taken after the load went off.
constexpr float kNoLoadA = 0.005f;
// Counters rose when they moved by more than one count (whole mAh) and their rounding.
constexpr double kCounterRiseAh = 0.0015;
// A quotient of the tester's counters means something from this many counts of each of its parts
// (mAh, mWh, s) on: each then adds at most 0.5 % of rounding.
constexpr double kFewestCounts = 100;
// Sums of floating-point products may leave a mean of equal values this far outside them.
constexpr double kRoundingV = 1e-9;
// Readings of the load coming up that may stand between the two of a load step, and the test time
// the second one may show since the load came on.
constexpr int kLongestRamp = 2;
constexpr int32_t kLongestStepS = 5;
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

// The current is read, drawn, and within kSettledCurrent of a setpoint read with it.
bool AtSettledCurrent(const TDeviceReading& r) {
    return Read(r.Current) && Read(r.CurrentSetpoint) && r.CurrentSetpoint > 0 &&
           std::fabs(double{r.Current} - r.CurrentSetpoint) <= kSettledCurrent * r.CurrentSetpoint;
}

bool DrewCurrent(const TDeviceReading& r) {
    return Read(r.Current) && r.Current > kNoLoadA;
}

// The tester's clock shows the load on for at most kLongestStepS at `r`, after showing `restClock`
// at rest: it moved that little, or it restarted with the test (from 0, or from the setpoint when
// it counts down). A clock not read shows nothing against it.
bool ShortAfterTheStep(int32_t restClock, const TDeviceReading& r) {
    if (!Read(restClock) || !Read(r.TestTime)) return true;
    const auto within = [](int64_t seconds) { return std::abs(seconds) <= kLongestStepS; };
    return within(int64_t{r.TestTime} - restClock) || within(r.TestTime) ||
           (Read(r.TestTimeSetpoint) && r.TestTimeSetpoint > 0 &&
            within(int64_t{r.TestTimeSetpoint} - r.TestTime));
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
    NoteLoadStep(reading);
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
    FRun->StepOhm = std::exchange(FConnection.StepOhm, std::nullopt);
    FRun->ClockBefore = FConnection.ClockBefore;
    JoinConnection();
}

void TTestTracker::JoinConnection() {
    // The time between two connections was not watched.
    FRun->MeanV.Break();
    FRun->MeanA.Break();
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
    // Only a reading that drew current shows the voltage under load.
    const bool drew = DrewCurrent(r);
    if (drew) run.AhAtLastLoaded = run.AhLast;
    if (drew && Read(r.Voltage)) {
        KeepMin(run.MinV, r.Voltage);
        KeepMax(run.MaxV, r.Voltage);
        run.LastLoadedV = r.Voltage;
        if (const auto elapsed = Read(r.TestTime) ? Elapsed({r.TestTime, Read(r.TestTimeSetpoint) ? r.TestTimeSetpoint : -1})
                                                  : std::nullopt) {
            if (!run.LoadedLast || *elapsed > run.LoadedLast->ElapsedS) {
                run.LoadedBefore = run.LoadedLast;
                run.LoadedLast = TRun::TLoaded{r.Voltage, *elapsed};
            }
        }
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
    AddToMeans(r);
    if (r.Status == 1) Place(r);
}

void TTestTracker::AddToMeans(const TDeviceReading& r) {
    TRun& run = *FRun;
    // A new test time counts down from elsewhere: no span of the test lies between.
    if (Read(r.TestTimeSetpoint) && r.TestTimeSetpoint != run.MeansSetpoint) {
        if (run.MeansSetpoint >= 0) {
            run.MeanV.Break();
            run.MeanA.Break();
        }
        run.MeansSetpoint = r.TestTimeSetpoint;
    }
    if (!DrewCurrent(r)) {
        run.MeanV.Break();
        run.MeanA.Break();
        return;
    }
    std::optional<double> at;
    if (run.Clock.Settled()) {
        if (const auto elapsed = run.Clock.Elapsed(r.TestTime, r.TestTimeSetpoint)) at = *elapsed;
    }
    run.MeanA.Add(r.Current, at);
    if (Read(r.Voltage)) {
        run.MeanV.Add(r.Voltage, at);
    } else {
        run.MeanV.Break();
    }
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
    // A tester that shows Start late draws current, and counts, while it still shows the test
    // off: such a reading is part of the test, not the state before it.
    if (DrewCurrent(r)) return;
    if (Read(r.AmpHours)) FConnection.AhBefore = r.AmpHours;
    if (Read(r.WattHours)) FConnection.WhBefore = r.WattHours;
    if (Read(r.TestTime)) FConnection.ClockBefore = {r.TestTime, r.TestTimeSetpoint};
}

void TTestTracker::NoteLoadStep(const TDeviceReading& r) {
    // Only a reading that shows the test off and no current read as drawn is known to be at rest.
    if (r.Status == 0 && Read(r.Voltage) && Read(r.Current) && r.Current <= kNoLoadA) {
        FConnection.RestV = r.Voltage;
        FConnection.RestClock = r.TestTime;
        FConnection.RampReadings = 0;
        FConnection.StepOhm.reset();  // a step of its own may follow
        return;
    }
    if (!FConnection.RestV) return;
    if (Read(r.Voltage) && AtSettledCurrent(r) && ShortAfterTheStep(FConnection.RestClock, r)) {
        const double ohm = (*FConnection.RestV - r.Voltage) / r.Current;
        // A test running now began after the reading at rest (which would have ended it), as the
        // load came up; else the step waits for the test it begins.
        if (ohm > 0) (FRun ? FRun->StepOhm : FConnection.StepOhm) = ohm;
    } else if (DrewCurrent(r) && Read(r.CurrentSetpoint) && r.Current < r.CurrentSetpoint &&
               ++FConnection.RampReadings <= kLongestRamp) {
        return;  // the load is still coming up
    }
    FConnection.RestV.reset();
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

bool TTestTracker::EndedAtCutoff(const TClockValue& stopped,
                                 const TDeviceReading* stoppedWhileAway) const {
    const TRun& run = *FRun;
    if (!run.CutoffV) return false;
    const auto nearCutoff = [&run](double volts) {
        return volts - *run.CutoffV <= kCutoffMarginV + kFloatSlackV;
    };
    // Polled seldom against a cell's fall at its end, the last loaded reading may lie well above
    // the cutoff that the tester then met: the fall between the last two, kept up until the
    // tester's clock stopped, says where the voltage got to. A cell falls ever faster there, so
    // this stays above the voltage it reached. Only over the one poll that saw the stop: a gap
    // in the connection may hide anything.
    const auto stopS = Elapsed(stopped);
    if (!stoppedWhileAway && stopS && run.LoadedBefore && run.LoadedLast) {
        const TRun::TLoaded& before = *run.LoadedBefore;
        const TRun::TLoaded& last = *run.LoadedLast;
        const int32_t pollS = last.ElapsedS - before.ElapsedS;
        if (last.Volts < before.Volts && *stopS > last.ElapsedS) {
            const double perS = (before.Volts - last.Volts) / pollS;
            const int32_t spanS = std::min(*stopS - last.ElapsedS, pollS);
            if (nearCutoff(last.Volts - perS * spanS)) return true;
        }
    }
    // The voltage under load at the end was at most the last loaded one seen and, once the load
    // went off, rose: away, the stopped voltage bounds it too, whatever the cell's resistance.
    const std::optional<double> stoppedV = stoppedWhileAway && Read(stoppedWhileAway->Voltage)
                                               ? std::optional<double>(stoppedWhileAway->Voltage)
                                               : std::nullopt;
    std::optional<double> bound = run.LastLoadedV;
    if (stoppedV) bound = bound ? std::min(*bound, *stoppedV) : *stoppedV;
    if (bound && nearCutoff(*bound)) return true;
    if (!stoppedV || !run.StepOhm) return false;
    // Away, the stopped voltage less the set current through the cell's resistance estimates the
    // voltage under load at the end. An estimate alone says nothing of when the test stopped: the
    // counters must show that it ran on after the last loaded reading seen.
    const bool ranOn = Read(stoppedWhileAway->AmpHours) && run.AhAtLastLoaded &&
                       stoppedWhileAway->AmpHours - *run.AhAtLastLoaded > kCounterRiseAh;
    return ranOn && nearCutoff(*stoppedV - run.CurrentSetpointA.value_or(0) * *run.StepOhm);
}

void TTestTracker::TTimeMean::Add(double value, std::optional<double> at) {
    // A clock that went back was reset: nothing lies between.
    if (at && LastAt && *at > *LastAt) {
        Weighted += (LastValue + value) / 2 * (*at - *LastAt);
        Seconds += *at - *LastAt;
    }
    Sum += value;
    ++Count;
    LastValue = value;
    LastAt = at;
}

void TTestTracker::TTimeMean::Break() {
    LastAt.reset();
}

std::optional<double> TTestTracker::TTimeMean::Mean() const {
    if (Seconds > 0) return Weighted / Seconds;
    if (Count > 0) return Sum / Count;
    return std::nullopt;
}

void TTestTracker::SetMeans(TTestSummary& s, bool countersSpanTheDuration) const {
    const TRun& run = *FRun;
    if (run.Joined) {
        // The readings seen cover only the end of the test: the tester's counters cover it all.
        if (s.Ah * 1000 >= kFewestCounts && s.Wh * 1000 >= kFewestCounts) s.MeanV = s.Wh / s.Ah;
        if (s.Ah * 1000 >= kFewestCounts && s.DurationS >= kFewestCounts &&
            countersSpanTheDuration) {
            s.MeanA = s.Ah / (s.DurationS / 3600.0);
        }
    } else {
        s.MeanV = run.MeanV.Mean();
        s.MeanA = run.MeanA.Mean();
    }
    if (!s.MeanV || !s.MinV || !s.MaxV) return;
    // A mean of the readings lies within them up to the rounding of its sums; one of the
    // counters may not (the part of the test before the console joined).
    if (*s.MeanV < *s.MinV - kRoundingV || *s.MeanV > *s.MaxV + kRoundingV) {
        s.MeanV.reset();
    } else {
        s.MeanV = std::clamp(*s.MeanV, *s.MinV, *s.MaxV);
    }
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
    } else if (EndedAtCutoff(stopped, endedAway ? &r : nullptr)) {
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
        // When the load came on by the tester's clock: a tester may show Start polls late, and a
        // joined test had run for a while.
        const std::optional<int32_t> first = Elapsed(run.FirstClock);
        s.Start = run.FirstClockTime && first
                      ? AddSeconds(*run.FirstClockTime, -Rise(before, *first))
                      : firstSeen;
        s.End = AddSeconds(s.Start, s.DurationS, end.UtcOffsetMin);
    } else {
        s.Start = firstSeen;
        s.DurationS = std::max(0.0, std::round(SecondsBetween(s.Start, end)));
        s.End = AddSeconds(s.Start, s.DurationS, end.UtcOffsetMin);
    }
    s.Ah = Rise(run.Joined ? std::nullopt : run.AhBefore, run.AhLast);
    s.Wh = Rise(run.Joined ? std::nullopt : run.WhBefore, run.WhLast);
    s.MinV = run.MinV;
    s.MaxV = run.MaxV;
    // Without the tester's clock, a test that ended away has counters that ran on past the
    // duration the console can vouch for.
    SetMeans(s, elapsedEnd || !endedAway);
    s.MaxTempC = run.MaxTempC;
    s.InternalResistanceOhm = run.StepOhm;
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
