#include "testrun/TestVerdict.h"

#include <QDateTime>
#include <QString>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "support/DateTime.h"
#include "support/Format.h"
#include "support/TimeText.h"

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

void TTestTracker::ConnectionOpened(const std::string& port, const std::string& log) {
    // A test still running here lost its connection without being told: it waits like any other.
    if (FRun && !FRun->Suspended) {
        FRun->Suspended = true;
        FRun->LostAt = FRun->LastTime.value_or(FRun->Start.value_or(0));
    }
    FConnection = TConnection{};
    FConnection.Port = port;
    FConnection.Log = log;
}

std::optional<TTestSummary> TTestTracker::Reading(const TDeviceReading& reading) {
    if (reading.Status != 0 && reading.Status != 1) {
        // The reading belongs to the state the connection is known to be in, if any.
        if (FConnection.Running == true && FRun) AddRunning(reading);
        if (FConnection.Running == false) NoteStopped(reading);
        return std::nullopt;
    }
    const bool running = reading.Status == 1;
    FConnection.Running = running;
    if (FRun && FRun->Suspended) {
        // The tester's first word since the reconnection: the test goes on, or it ended meanwhile.
        FRun->Suspended = false;
        JoinConnection();
    }
    if (running) {
        if (!FRun) StartRun();
        AddRunning(reading);
        return std::nullopt;
    }
    if (FRun) return EndAtReading(reading);
    NoteStopped(reading);
    return std::nullopt;
}

void TTestTracker::OperatorStopped() {
    if (FRun && !FRun->Suspended) FRun->OperatorStop = true;
}

std::optional<TTestSummary> TTestTracker::ConnectionEnded(double now, bool mayReconnect) {
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
    if (!FRun || !FRun->Suspended) return std::nullopt;
    return EndWithConnection();
}

void TTestTracker::StartRun() {
    FRun = TRun{};
    FRun->AhBefore = FConnection.AhBefore;
    FRun->WhBefore = FConnection.WhBefore;
    FRun->NoLoadV = FConnection.NoLoadV;
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
    if (Read(r.TimeStamp)) FRun->LastTime = r.TimeStamp;
    if (Read(r.AmpHours)) FRun->AhLast = r.AmpHours;
    if (Read(r.WattHours)) FRun->WhLast = r.WattHours;
    if (Read(r.CutoffVoltage)) FRun->CutoffV = r.CutoffVoltage;
    if (Read(r.TestTimeSetpoint)) FRun->TimeSetpointS = r.TestTimeSetpoint;
}

void TTestTracker::AddRunning(const TDeviceReading& r) {
    TRun& run = *FRun;
    if (Read(r.TimeStamp) && !run.Start) run.Start = r.TimeStamp;
    AddCountersAndSetpoints(r);
    if (Read(r.Voltage)) {
        KeepMin(run.MinV, r.Voltage);
        KeepMax(run.MaxV, r.Voltage);
        run.LastRunningV = r.Voltage;
    }
    if (Read(r.Temperature)) KeepMax(run.MaxTempC, r.Temperature);
    if (Read(r.TestTime)) {
        if (!run.FirstClock) run.FirstClock = r.TestTime;
        run.LastRunningClock = r.TestTime;
    }
    if (!run.LoadedA && Read(r.Voltage) && Read(r.Current) && Read(r.CurrentSetpoint) &&
        r.CurrentSetpoint > 0 &&
        std::fabs(double{r.Current} - r.CurrentSetpoint) <= kSettledCurrent * r.CurrentSetpoint) {
        run.LoadedV = r.Voltage;
        run.LoadedA = r.Current;
    }
}

void TTestTracker::NoteStopped(const TDeviceReading& r) {
    if (Read(r.AmpHours)) FConnection.AhBefore = r.AmpHours;
    if (Read(r.WattHours)) FConnection.WhBefore = r.WattHours;
    // Only a reading that shows the test off is known to be at no load.
    if (r.Status == 0 && Read(r.Voltage)) FConnection.NoLoadV = r.Voltage;
}

bool TTestTracker::EndedAtSetTime(std::optional<int> stoppedClock) const {
    const TRun& run = *FRun;
    if (!run.TimeSetpointS || *run.TimeSetpointS <= 0) return false;
    const int setpoint = *run.TimeSetpointS;
    int clock = 0;
    int slack = 0;
    if (stoppedClock) {
        clock = *stoppedClock;
    } else if (run.LastRunningClock) {
        clock = *run.LastRunningClock;
        slack = kClockSlackS;
    } else {
        return false;
    }
    // The direction the clock went during the test, when it moved at all.
    const int first = run.FirstClock.value_or(clock);
    const int last = run.LastRunningClock.value_or(clock);
    const bool mayCountUp = last >= first;
    const bool mayCountDown = last <= first;
    return (mayCountUp && clock >= setpoint - slack) || (mayCountDown && clock <= slack);
}

std::optional<TTestSummary> TTestTracker::EndAtReading(const TDeviceReading& r) {
    AddCountersAndSetpoints(r);
    const TRun& run = *FRun;
    TEndReason reason = TEndReason::Tester;
    if (run.OperatorStop) {
        reason = TEndReason::Operator;
    } else if (EndedAtSetTime(Read(r.TestTime) ? std::optional<int>(r.TestTime) : std::nullopt)) {
        reason = TEndReason::Time;
    } else if (run.LastRunningV && run.CutoffV &&
               *run.LastRunningV - *run.CutoffV <= kCutoffMarginV + kFloatSlackV) {
        reason = TEndReason::Cutoff;
    }
    const double end = run.LastTime.value_or(run.Start.value_or(0));
    TTestSummary summary = Finish(reason, end);
    // The stopped reading is the no-load reading before the next test.
    NoteStopped(r);
    return summary;
}

std::optional<TTestSummary> TTestTracker::EndWithConnection() {
    const TEndReason reason =
        FRun->OperatorStop ? TEndReason::Operator : TEndReason::ConnectionLost;
    return Finish(reason, FRun->LostAt);
}

TTestSummary TTestTracker::Finish(TEndReason reason, double end) {
    const TRun run = std::move(*FRun);
    FRun.reset();
    TTestSummary s;
    s.Reason = reason;
    s.Start = run.Start.value_or(end);
    s.End = end;
    // Whole seconds, as the times are written.
    s.DurationS = std::max(0.0, std::round((s.End - s.Start) * kSecondsPerDay));
    s.Ah = Rise(run.AhBefore, run.AhLast);
    s.Wh = Rise(run.WhBefore, run.WhLast);
    if (s.Ah > 0) s.MeanV = s.Wh / s.Ah;
    s.MinV = run.MinV;
    s.MaxV = run.MaxV;
    // Over the tester's own clock when it ran: that is the time the charge was drawn in, also
    // when the console joined late or the tester runs fast (a simulator).
    const int clockRun = run.FirstClock && run.LastRunningClock
                             ? std::abs(*run.LastRunningClock - *run.FirstClock)
                             : 0;
    const double hours = (clockRun > 0 ? clockRun : s.DurationS) / 3600.0;
    if (hours > 0) s.MeanA = s.Ah / hours;
    s.MaxTempC = run.MaxTempC;
    if (run.NoLoadV && run.LoadedV && run.LoadedA && *run.LoadedA > 0) {
        s.InternalResistanceOhm = (*run.NoLoadV - *run.LoadedV) / *run.LoadedA;
    }
    s.Port = run.Port;
    s.Log = run.Log;
    s.Logs = run.Logs;
    return s;
}

namespace {

// A local date and time, cut to whole seconds as the log names are: "2026-12-08 14:03:12", or
// in ISO 8601 with the UTC offset in force then, "2026-12-08T14:03:12+01:00".
std::string LocalTimeText(double dateTime, bool iso) {
    const QDateTime t = FromDateTime(dateTime);
    const QDate d = t.date();
    const QTime c = t.time();
    std::string text = Format("%04d-%02d-%02d%c%02d:%02d:%02d", d.year(), d.month(), d.day(),
                              iso ? 'T' : ' ', c.hour(), c.minute(), c.second());
    if (iso) {
        const int offset = t.offsetFromUtc();
        const int minutes = std::abs(offset) / 60;
        text += Format("%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    }
    return text;
}

// A JSON string. Bytes that are not UTF-8 become U+FFFD, so the object always parses.
std::string JsonString(const std::string& text) {
    const std::string utf8 = QString::fromStdString(text).toStdString();
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            out += Format("\\u%04x", c);
        } else {
            out += ch;
        }
    }
    return out + '"';
}

const char* ReasonText(TEndReason reason) {
    return WordsOf(reason).Text;
}

}  // namespace

std::string VerdictJson(const TTestSummary& s) {
    std::string json = "{";
    const auto key = [&json](const char* name) {
        if (json.size() > 1) json += ',';
        json += Format("\"%s\":", name);
    };
    const auto number = [&](const char* name, std::optional<double> value, int decimals) {
        if (!value) return;
        key(name);
        json += FixedDecimals(*value, decimals);
    };
    key("reason");
    json += JsonString(ReasonName(s.Reason));
    key("start");
    json += JsonString(LocalTimeText(s.Start, true));
    key("end");
    json += JsonString(LocalTimeText(s.End, true));
    number("duration_s", s.DurationS, 0);
    number("ah", s.Ah, 3);
    number("wh", s.Wh, 3);
    number("mean_v", s.MeanV, 3);
    number("min_v", s.MinV, 3);
    number("max_v", s.MaxV, 3);
    number("mean_a", s.MeanA, 3);
    number("max_temp_c", s.MaxTempC, 0);
    number("internal_resistance_ohm", s.InternalResistanceOhm, 4);
    key("port");
    json += JsonString(s.Port);
    key("log");
    json += JsonString(s.Log);
    key("logs");
    json += '[';
    for (size_t i = 0; i < s.Logs.size(); ++i) json += (i ? "," : "") + JsonString(s.Logs[i]);
    return json + "]}\n";
}

std::string VerdictText(const TTestSummary& s) {
    std::string text = std::string(ReasonText(s.Reason)) + "\n";
    text += "Started " + LocalTimeText(s.Start, false) + ", ended " + LocalTimeText(s.End, false) +
            ", duration " + LongDurationText(std::max(0LL, std::llround(s.DurationS))) + ".\n";
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
