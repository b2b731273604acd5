// The end of a test and its verdict, from recorded reading sequences.
#include "testrun/TestVerdict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/CivilTime.h"
#include "support/DateTime.h"
#include "support/Json.h"

namespace {

const double kBase = DateTimeOf({2026, 12, 8, 14, 0});
constexpr int16_t kCet = 60;  // min east of UTC

// A reading `s` seconds after kBase: 1 A set, 3 V cutoff, untimed, clock counting up, 25 °C.
TDeviceReading At(double s, int8_t status, float v, float a, float ah, float wh) {
    return {kBase + s / 86400, v, a, ah, v * a, wh, int32_t(s), 1.0f, 3.0f, 0, 25, status, kCet};
}

TLocalStamp StampAt(double s) {
    return {kBase + s / 86400, kCet};
}

// Seconds from kBase to `stamp`.
double SecondsOf(const TLocalStamp& stamp) {
    return SecondsBetween(StampAt(0), stamp);
}

std::vector<TTestSummary> Feed(TTestTracker& t, const std::vector<TDeviceReading>& readings) {
    std::vector<TTestSummary> ended;
    for (const auto& r : readings)
        if (auto s = t.Reading(r)) ended.push_back(*s);
    return ended;
}

TEST(TestVerdict, CutoffRunUsesCounterRiseTimeWeightedLoadedVoltagesAndTheSettledLoadStep) {
    TTestTracker t;
    t.ConnectionOpened("/dev/ttyUSB0", "Log_A.csv");
    TDeviceReading unknown = At(1, -1, 3.98f, 0.6f, 0.5f, 2.0f);
    unknown.TestTime = 0;  // the load is coming up, the tester's clock has not moved yet
    const auto ended =
        Feed(t, {At(0, 0, 4.10f, 0, 0.5f, 2.0f), unknown, At(2, 1, 3.95f, 0.95f, 0.5f, 2.0f),
                 At(3, 1, 3.90f, 1.0f, 0.6f, 2.4f), At(3600, 1, 3.08f, 1.0f, 1.5f, 5.6f),
                 At(3620, 0, 3.50f, 0, 1.5f, 5.6f)});  // recovered once the load is off
    ASSERT_EQ(ended.size(), 1u);
    const TTestSummary& s = ended[0];
    EXPECT_EQ(s.Reason, TEndReason::Cutoff);
    // When the load came on by the tester's clock, 2 s before the first running reading.
    EXPECT_NEAR(SecondsOf(s.Start), 0, 1e-3);
    EXPECT_EQ(s.JoinedAtS, 0);
    // By the tester's clock from the reading before the start (its 0) to the stopped one (3620
    // here: the clock of these readings runs with the console's).
    EXPECT_NEAR(s.DurationS, 3620, 1e-3);
    EXPECT_NEAR(SecondsBetween(s.Start, s.End), s.DurationS, 1e-3);
    EXPECT_NEAR(s.Ah, 1.0, 1e-6);
    EXPECT_NEAR(s.Wh, 3.6, 1e-5);
    // Over the running readings by their time stamps, not Wh over Ah.
    EXPECT_NEAR(s.MeanV.value_or(-1), ((3.95 + 3.90) / 2 + (3.90 + 3.08) / 2 * 3597) / 3598, 1e-5);
    EXPECT_NEAR(s.MeanA.value_or(-1), ((0.95 + 1.0) / 2 + 1.0 * 3597) / 3598, 1e-5);
    EXPECT_NEAR(s.MinV.value_or(-1), 3.08, 1e-6);
    EXPECT_NEAR(s.MaxV.value_or(-1), 3.95,
                1e-6);  // neither the idle 4.10 V nor the recovered 3.50 V
    // The rest voltage and the first reading at the settled current after it: not from the 0.95 A
    // reading, 5 % short.
    EXPECT_NEAR(s.InternalResistanceOhm.value_or(-1), 0.2, 1e-5);
    EXPECT_FALSE(t.TestRunning());
}

TEST(TestVerdict, EndReasonsFirstMatchWins) {
    struct Case {
        const char* fault;
        int32_t timeSetpoint, lastClock, stoppedClock;
        float lastV;
        bool stopSent;
        TEndReason expected;
    };
    const Case cases[] = {
        {"operator loses to cutoff", 0, 100, 101, 3.05f, true, TEndReason::Operator},
        {"panel stop taken for cutoff", 0, 100, 101, 3.50f, false, TEndReason::Tester},
        {"cutoff margin too tight", 0, 100, 101, 3.10f, false, TEndReason::Cutoff},
        {"countdown end missed", 60, 1, 0, 3.50f, false, TEndReason::Time},
        {"no slack for a missed poll", 60, 2, -1, 3.50f, false, TEndReason::Time},
        {"count-up end missed", 60, 58, -1, 3.50f, false, TEndReason::Time},
        {"countdown just begun taken for time", 31, 29, -1, 3.50f, false, TEndReason::Tester},
        {"early countdown stop taken for time", 60, 25, 24, 3.50f, false, TEndReason::Tester},
        {"count-up clock reset at stop taken for time", 60, 31, 0, 3.50f, false,
         TEndReason::Tester},
        {"time loses to cutoff", 60, 1, 0, 3.05f, false, TEndReason::Time},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "l");
        // The clock runs from 30 towards lastClock, in whichever direction that is.
        std::vector<TDeviceReading> rs = {At(0, 1, 3.9f, 1, 0, 0), At(1, 1, c.lastV, 1, 0.1f, 0.4f),
                                          At(2, 0, 3.9f, 0, 0.1f, 0.4f)};
        rs[0].TestTime = 30, rs[1].TestTime = c.lastClock, rs[2].TestTime = c.stoppedClock;
        for (auto& r : rs) r.TestTimeSetpoint = c.timeSetpoint;
        Feed(t, {rs[0], rs[1]});
        if (c.stopSent) t.OperatorStopped();
        const auto ended = Feed(t, {rs[2]});
        ASSERT_EQ(ended.size(), 1u) << c.fault;
        EXPECT_STREQ(ReasonName(ended[0].Reason), ReasonName(c.expected)) << c.fault;
    }
}

TEST(TestVerdict, IdleReadingsAndNeverStartedTestsGiveNoSummary) {
    TTestTracker t;
    t.ConnectionOpened("p", "l");
    TDeviceReading unread = At(2, -1, 3.9f, 1, 0, 0);
    EXPECT_TRUE(Feed(t, {At(0, 0, 4.1f, 0, 0, 0), At(1, 0, 4.1f, 0, 0, 0), unread}).empty());
    EXPECT_FALSE(t.TestRunning());
    EXPECT_FALSE(t.ConnectionEnded(StampAt(3), false));
}

TEST(TestVerdict, HangUpEndsAtTheTestersLastClockElseAtTheTimeGiven) {
    struct Case {
        const char* fault;
        bool clockRead;
        double durationS;
    };
    for (const Case& c : {Case{"the wait for the notice counted", true, 10},
                          Case{"no clock: the loss not taken as the end", false, 59}}) {
        TTestTracker t;
        t.ConnectionOpened("p", "Log_A.csv");
        std::vector<TDeviceReading> rs = {At(0, 0, 4.1f, 0, 5.0f, 18.0f),
                                          At(1, 1, 3.9f, 1, 0.1f, 0.4f),
                                          At(10, 1, 3.05f, 1, 0.2f, 0.8f)};
        if (!c.clockRead) {
            for (auto& r : rs) r.TestTime = -1;
        }
        Feed(t, rs);
        const auto s = t.ConnectionEnded(StampAt(60), false);
        ASSERT_TRUE(s) << c.fault;
        // Not cutoff, though the voltage is near it.
        EXPECT_EQ(s->Reason, TEndReason::ConnectionLost) << c.fault;
        EXPECT_NEAR(s->DurationS, c.durationS, 1e-3) << c.fault;
        EXPECT_NEAR(SecondsBetween(s->Start, s->End), c.durationS, 1e-3) << c.fault;
        EXPECT_NEAR(s->Ah, 0.2, 1e-6) << c.fault;  // the counter restarted: its last value alone
        EXPECT_NEAR(s->Wh, 0.8, 1e-6) << c.fault;
        EXPECT_EQ(s->Logs, std::vector<std::string>{"Log_A.csv"}) << c.fault;
    }
}

TEST(TestVerdict, SuspendedTestIsCarriedOnEndedWhileAwayOrGivenUp) {
    struct Case {
        const char* fault;
        int8_t firstStatusAfter;
        bool givenUp;
        TEndReason expected;
        double ah, durationS;
        std::vector<std::string> logs;
    };
    const Case cases[] = {
        {"reconnection starts a second test", 1, false, TEndReason::Cutoff, 1.5, 200, {"A", "B"}},
        {"stop sent while away counted", 0, false, TEndReason::Tester, 1.2, 130, {"A", "B"}},
        {"giving up leaves the test running", 0, true, TEndReason::ConnectionLost, 0.5, 100, {"A"}},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "A");
        Feed(t,
             {At(0, 0, 4.1f, 0, 0, 0), At(1, 1, 4.0f, 1, 0, 0), At(100, 1, 3.5f, 1, 0.5f, 2.0f)});
        EXPECT_FALSE(t.ConnectionEnded(StampAt(110), true)) << c.fault;
        EXPECT_TRUE(t.TestSuspended()) << c.fault;
        t.OperatorStopped();  // cannot reach the tester
        std::optional<TTestSummary> s;
        if (c.givenUp) s = t.ReconnectionGivenUp();
        t.ConnectionOpened("p", "B");
        std::vector<TDeviceReading> rs = {At(125, -1, 3.9f, 0, 0, 0),
                                          At(130, c.firstStatusAfter, 3.6f, 0, 1.2f, 4.3f)};
        if (c.firstStatusAfter == 1) {
            rs.push_back(At(200, 1, 3.02f, 1, 1.5f, 5.2f));
            rs.push_back(At(210, 0, 3.5f, 0, 1.5f, 5.2f));
            rs.back().TestTime = 200;  // the tester's clock stops with the test
        }
        const auto ended = Feed(t, rs);
        ASSERT_EQ(ended.size() + (s ? 1 : 0), 1u) << c.fault;
        if (!s) s = ended[0];
        EXPECT_EQ(s->Reason, c.expected) << c.fault;
        EXPECT_NEAR(s->Ah, c.ah, 1e-6) << c.fault;
        EXPECT_NEAR(s->DurationS, c.durationS, 1e-3) << c.fault;
        EXPECT_NEAR(s->InternalResistanceOhm.value_or(-1), 0.1, 1e-5) << c.fault;
        EXPECT_EQ(s->Logs, c.logs) << c.fault;
        EXPECT_EQ(s->Log, c.logs.back()) << c.fault;
    }
}

TEST(TestVerdict, UnreadValuesAreLeftOutOfEveryFigure) {
    TTestTracker t;
    auto unreadV = At(2, 1, -1, -1, -1, -1);
    unreadV.Temperature = -1;
    auto unreadStatus = At(3, -1, 3.05f, 1, 0.3f, 1.1f);
    unreadStatus.Temperature = 31;
    auto stopped = At(4, 0, 3.8f, 0, -1, -1);
    stopped.CutoffVoltage = -1;
    const auto ended = Feed(t, {At(0, -1, 1.0f, 1, 0.1f, 0.1f), At(1, 1, 3.9f, 1, 0.1f, 0.4f),
                                unreadV, unreadStatus, stopped});
    ASSERT_EQ(ended.size(), 1u);
    const TTestSummary& s = ended[0];
    EXPECT_EQ(s.Reason, TEndReason::Cutoff);  // the stopped reading's cutoff was not read
    EXPECT_NEAR(s.MinV.value_or(-1), 3.05, 1e-6);
    EXPECT_NEAR(s.MaxV.value_or(-1), 3.9, 1e-6);
    EXPECT_EQ(s.MaxTempC.value_or(-1), 31);
    EXPECT_NEAR(s.Ah, 0.3, 1e-6);  // the reading before any known status gives no baseline
    EXPECT_FALSE(s.InternalResistanceOhm);
}

// The tester switches its load off at the cutoff before it shows the test stopped: the readings
// between show no current and the cell's voltage risen by I·R (an aged cell of 0.18 Ω at 1 A).
TEST(TestVerdict, CutoffWithLoadOffBeforeStopIsCutoff) {
    struct Case {
        const char* fault;
        float restV;
        std::vector<float> loadedV;  // of the running readings that drew current
        TEndReason expected;
    };
    const Case cases[] = {
        {"rebounded voltage taken for a stop at the tester",
         3.34f,
         {3.16f, 3.08f, 3.00f},
         TEndReason::Cutoff},
        {"panel stop with the load off first taken for cutoff",
         3.80f,
         {3.62f, 3.50f, 3.40f},
         TEndReason::Tester},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "l");
        std::vector<TDeviceReading> rs = {At(0, 0, c.restV, 0, 0, 0)};
        double at = 0;
        for (const float v : c.loadedV) {
            at += 60;
            rs.push_back(At(at, 1, v, 1, float(at / 3600), float(at / 3600 * 3.2)));
        }
        const float rebound = c.loadedV.back() + 0.18f;
        for (const int8_t status : {1, 1, 0}) {
            at += 1;
            rs.push_back(At(at, status, rebound, 0, rs.back().AmpHours, rs.back().WattHours));
        }
        const auto ended = Feed(t, rs);
        ASSERT_EQ(ended.size(), 1u) << c.fault;
        const TTestSummary& s = ended[0];
        EXPECT_EQ(s.Reason, c.expected) << c.fault;
        // The readings without current show the cell at rest: in no voltage figure.
        EXPECT_NEAR(s.MaxV.value_or(-1), c.loadedV.front(), 1e-6) << c.fault;
        EXPECT_NEAR(s.MinV.value_or(-1), c.loadedV.back(), 1e-6) << c.fault;
        ASSERT_TRUE(s.MeanV && s.MinV && s.MaxV) << c.fault;
        EXPECT_LE(*s.MeanV, *s.MaxV) << c.fault;
        EXPECT_GE(*s.MeanV, *s.MinV) << c.fault;
        EXPECT_NEAR(s.MeanA.value_or(-1), 1.0, 1e-6) << c.fault;
    }
}

// Polled seldom at a cell's steep end, the last loaded reading lies above the cutoff's margin:
// where the fall seen last had got to when the tester's clock stopped tells whether it met it.
TEST(TestVerdict, SteepFallBetweenSparsePollsIsFollowedToTheTestersStop) {
    struct Case {
        const char* fault;
        int stoppedAtS;  // by the tester's clock, which stops with the test
        TEndReason expected;
    };
    const Case cases[] = {
        {"a cutoff met between polls taken for a stop at the tester", 160, TEndReason::Cutoff},
        {"a stop right after a reading taken for a cutoff", 131, TEndReason::Tester},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "l");
        std::vector<TDeviceReading> rs = {At(0, 0, 4.0f, 0, 0, 0), At(100, 1, 3.50f, 1, 0.028f, 0.1f),
                                          At(130, 1, 3.25f, 1, 0.036f, 0.13f)};
        TDeviceReading stopped = At(200, 0, 3.30f, 0, 0.044f, 0.16f);
        stopped.TestTime = c.stoppedAtS;
        rs.push_back(stopped);
        const auto ended = Feed(t, rs);
        ASSERT_EQ(ended.size(), 1u) << c.fault;
        EXPECT_EQ(ended[0].Reason, c.expected) << c.fault;
    }
}

// The connection was lost at 1000 s of a test and the tester had stopped when it came back. The
// stopped voltage less I·R only estimates the loaded one at the end.
TEST(TestVerdict, AwayTheResistanceAloneNeitherMakesNorHidesACutoff) {
    struct Case {
        const char* fault;
        float stepV;          // under 1 A right after 4.20 V at rest: 4.20 - stepV ohm
        float lastV, lastAh;  // the last loaded reading seen
        float stoppedV, stoppedAh;
        TEndReason expected;
    };
    const Case cases[] = {
        {"stop as the connection went taken for cutoff by the resistance", 3.95f, 3.20f, 0.3f,
         3.30f, 0.3f, TEndReason::Tester},
        {"cutoff the last loaded reading foretold hidden by a small resistance", 4.15f, 3.07f, 0.3f,
         3.30f, 0.301f, TEndReason::Cutoff},
        {"test that ran on to the cutoff while away", 3.95f, 3.60f, 0.3f, 3.24f, 0.7f,
         TEndReason::Cutoff},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "A");
        Feed(t, {At(0, 0, 4.20f, 0, 0, 0), At(1, 1, c.stepV, 1, 0, 0),
                 At(1000, 1, c.lastV, 1, c.lastAh, c.lastAh * 3.7f)});
        t.ConnectionEnded(StampAt(1001), true);
        t.ConnectionOpened("p", "B");
        const auto ended = Feed(t, {At(20000, 0, c.stoppedV, 0, c.stoppedAh, c.stoppedAh * 3.7f)});
        ASSERT_EQ(ended.size(), 1u) << c.fault;
        EXPECT_STREQ(ReasonName(ended[0].Reason), ReasonName(c.expected)) << c.fault;
    }
}

// A tester that shows Start late draws current, and counts, in polls that still show the test
// off; a dropped answer or a load coming up may stand beside the step of the load.
TEST(TestVerdict, LateShownStartCountsFromTheLoadStepAndTakesItsResistanceThere) {
    struct Case {
        const char* fault;
        std::vector<float> voltages, currents;  // at 1 s, 2 s (shown off), 3 s (shown on)
        std::optional<double> ohm;
        double ah, durationS;
        int32_t firstLoadedClock = 1;  // the tester's test time at the first loaded reading
    };
    const Case cases[] = {
        {"resistance from a reading polls after the step",
         {4.10f, 4.08f, 4.06f},
         {1, 1, 1},
         0.10,
         1.0,
         3600},
        // Nothing tells whether that reading drew current: it stays the one before the test.
        {"reading with its current unread taken for one at rest",
         {4.10f, 4.08f, 4.06f},
         {-1, 1, 1},
         std::nullopt,
         1.0 - 0.001,
         3599},
        {"load coming up over two polls", {4.16f, 4.12f, 4.10f}, {0.4f, 0.9f, 1}, 0.10, 1.0, 3600},
        // The discharge of that minute would be taken for resistance.
        {"first loaded reading a minute into the test by the tester's clock",
         {4.10f, 4.08f, 4.06f},
         {1, 1, 1},
         std::nullopt,
         1.0,
         3600,
         66},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "l");
        // The counters were not reset: they rise from 0.1 Ah.
        std::vector<TDeviceReading> rs = {At(0, 0, 4.20f, 0, 0.100f, 0.40f)};
        for (size_t i = 0; i < c.voltages.size(); ++i) {
            const float ah = 0.100f + 0.001f * (i + 1);
            rs.push_back(
                At(1.0 * (i + 1), i < 2 ? 0 : 1, c.voltages[i], c.currents[i], ah, ah * 4.1f));
        }
        rs[1].TestTime = c.firstLoadedClock;
        rs.push_back(At(3600, 1, 3.05f, 1, 1.100f, 4.0f));
        rs.push_back(At(3601, 0, 3.25f, 0, 1.100f, 4.0f));
        rs.back().TestTime = 3600;
        const auto ended = Feed(t, rs);
        ASSERT_EQ(ended.size(), 1u) << c.fault;
        const TTestSummary& s = ended[0];
        EXPECT_EQ(s.InternalResistanceOhm.has_value(), c.ohm.has_value()) << c.fault;
        if (c.ohm) {
            EXPECT_NEAR(s.InternalResistanceOhm.value_or(-1), *c.ohm, 1e-5) << c.fault;
        }
        // From the reading at rest before the load, not from one with the load already on.
        EXPECT_NEAR(s.Ah, c.ah, 1e-6) << c.fault;
        EXPECT_NEAR(s.DurationS, c.durationS, 1e-3) << c.fault;
        // When the tester's clock stopped, not the late polls after it.
        EXPECT_NEAR(SecondsOf(s.End), 3600, 1e-3) << c.fault;
    }
}

// The tester's counters count whole mAh and mWh: over a short test their quotient is no mean.
TEST(TestVerdict, ShortWatchedTestsMeansAreThoseOfItsReadings) {
    TTestTracker t;
    t.ConnectionOpened("p", "l");
    std::vector<TDeviceReading> rs = {At(0, 0, 4.20f, 0, 0, 0), At(1, 1, 4.15f, 1.2f, 0, 0),
                                      At(2, 1, 4.15f, 1.2f, 0.001f, 0.003f),
                                      At(3, 0, 4.20f, 0, 0.001f, 0.003f)};
    for (auto& r : rs) r.CurrentSetpoint = 1.2f;
    const auto ended = Feed(t, rs);
    ASSERT_EQ(ended.size(), 1u);
    const TTestSummary& s = ended[0];
    EXPECT_NEAR(s.MeanV.value_or(-1), 4.15, 1e-6);  // not 3.000 V
    EXPECT_NEAR(s.MeanA.value_or(-1), 1.2, 1e-6);
    EXPECT_NEAR(s.MinV.value_or(-1), 4.15, 1e-6);
    EXPECT_NEAR(s.MaxV.value_or(-1), 4.15, 1e-6);
    EXPECT_NEAR(s.Ah, 0.001, 1e-6);  // still the counters' rise
    EXPECT_NEAR(s.Wh, 0.003, 1e-6);
}

// The tester's clock and its counters go by the discharge; the console's polls may come unevenly
// (here two in its first second, then one a hundred seconds later).
TEST(TestVerdict, MeansGoByTheTestersClockNotByThePaceOfThePolls) {
    TTestTracker t;
    t.ConnectionOpened("p", "l");
    std::vector<TDeviceReading> rs = {
        At(0, 0, 4.2f, 0, 0, 0), At(1, 1, 4.0f, 1, 0, 0), At(1.5, 1, 3.6f, 1, 0.014f, 0.053f),
        At(101, 1, 3.2f, 1, 0.028f, 0.1f), At(102, 0, 3.5f, 0, 0.028f, 0.1f)};
    const int32_t clocks[] = {0, 1, 51, 101, 101};
    for (size_t i = 0; i < rs.size(); ++i) rs[i].TestTime = clocks[i];
    const auto ended = Feed(t, rs);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_NEAR(ended[0].MeanV.value_or(-1), 3.6, 1e-5);
}

// A joined test's means are the tester's counters over the whole test; the voltages seen are
// those since the console joined at 30 minutes.
TEST(TestVerdict, JoinedTestsCounterMeansNeedCountsAndMustLieWithinTheVoltagesSeen) {
    struct Case {
        const char* fault;
        float ah, wh;  // the counters at the end of the 60-minute test
        std::optional<double> meanV, meanA;
    };
    const Case cases[] = {
        {"quotient of a few counts taken for a mean", 0.011f, 0.041f, std::nullopt, std::nullopt},
        {"whole test's mean above every voltage seen", 1.0f, 3.9f, std::nullopt, 1.0},
        {"mean within the voltages seen left out", 1.0f, 3.65f, 3.65, 1.0},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "l");
        std::vector<TDeviceReading> rs = {At(0, 1, 3.70f, 1, c.ah / 2, c.wh / 2),
                                          At(1800, 1, 3.60f, 1, c.ah, c.wh),
                                          At(1801, 0, 3.80f, 0, c.ah, c.wh)};
        const int32_t clocks[] = {1800, 3600, 3600};
        for (size_t i = 0; i < rs.size(); ++i) rs[i].TestTime = clocks[i];
        const auto ended = Feed(t, rs);
        ASSERT_EQ(ended.size(), 1u) << c.fault;
        const TTestSummary& s = ended[0];
        EXPECT_EQ(s.MeanV.has_value(), c.meanV.has_value()) << c.fault;
        if (c.meanV) {
            EXPECT_NEAR(s.MeanV.value_or(-1), *c.meanV, 1e-5) << c.fault;
        }
        EXPECT_EQ(s.MeanA.has_value(), c.meanA.has_value()) << c.fault;
        if (c.meanA) {
            EXPECT_NEAR(s.MeanA.value_or(-1), *c.meanA, 1e-5) << c.fault;
        }
    }
}

// The console connected half-way through a 1 A test that has run for 30 minutes, whichever way
// the tester's clock counts.
TEST(TestVerdict, JoinedTestTakesTheTestersFiguresForTheWholeTest) {
    for (const int32_t setpoint : {0, 7200}) {
        TTestTracker t;
        t.ConnectionOpened("p", "l");
        std::vector<TDeviceReading> rs = {
            At(0, 1, 3.7f, 1, 0.5f, 1.9f), At(1, 1, 3.7f, 1, 0.5f, 1.9f),
            At(1800, 1, 3.3f, 1, 1.0f, 3.7f), At(1801, 0, 3.6f, 0, 1.0f, 3.7f)};
        const int32_t clocks[] = {1800, 1801, 3600, 3600};
        for (size_t i = 0; i < rs.size(); ++i) {
            rs[i].TestTimeSetpoint = setpoint;
            rs[i].TestTime = setpoint > 0 ? setpoint - clocks[i] : clocks[i];
        }
        const auto ended = Feed(t, rs);
        ASSERT_EQ(ended.size(), 1u) << setpoint;
        const TTestSummary& s = ended[0];
        EXPECT_EQ(s.JoinedAtS, 1800) << setpoint;
        EXPECT_NEAR(s.DurationS, 3600, 1e-3) << setpoint;
        EXPECT_NEAR(s.Ah, 1.0, 1e-6) << setpoint;  // not the 0.5 Ah the console saw drawn
        EXPECT_NEAR(s.Wh, 3.7, 1e-5) << setpoint;
        EXPECT_NEAR(s.MeanA.value_or(-1), 1.0, 1e-6) << setpoint;
        EXPECT_NEAR(SecondsOf(s.Start), -1800, 1e-3) << setpoint;
        EXPECT_NEAR(SecondsBetween(s.Start, s.End), s.DurationS, 1e-3) << setpoint;
        EXPECT_FALSE(s.InternalResistanceOhm) << setpoint;  // no rest voltage before the load
    }
}

// The connection was lost at 1000 s of a test and came back hours later, when the tester had
// long stopped: what the stopped reading shows tells when and why.
TEST(TestVerdict, EndedWhileAwayIsBoundedByTheTestersClockAndJudgedFromTheStoppedReading) {
    struct Case {
        const char* fault;
        int32_t setpoint, stoppedClock;  // elapsed, s; -1 not read
        float stoppedV;
        TEndReason expected;
        double durationS;
    };
    const Case cases[] = {
        {"time spent away added", 3600, 3600, 3.9f, TEndReason::Time, 3600},
        {"recovered voltage hides the cutoff", 0, 2500, 3.15f, TEndReason::Cutoff, 2500},
        {"panel stop taken for cutoff", 0, 2500, 3.25f, TEndReason::Tester, 2500},
        {"no clock: time away added", 0, -1, 3.15f, TEndReason::Cutoff, 1000},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "A");
        std::vector<TDeviceReading> rs = {At(0, 0, 4.1f, 0, 0, 0), At(1, 1, 4.0f, 1, 0, 0),
                                          At(1000, 1, 3.6f, 1, 0.3f, 1.1f)};
        for (auto& r : rs) {
            r.TestTimeSetpoint = c.setpoint;
            if (c.stoppedClock < 0) r.TestTime = -1;
            if (c.setpoint > 0 && r.TestTime >= 0) r.TestTime = c.setpoint - r.TestTime;
        }
        Feed(t, rs);
        t.ConnectionEnded(StampAt(1001), true);
        t.ConnectionOpened("p", "B");
        TDeviceReading stopped = At(20000, 0, c.stoppedV, 0, 0.7f, 2.5f);
        stopped.TestTimeSetpoint = c.setpoint;
        stopped.TestTime = c.stoppedClock < 0 ? -1 : c.setpoint > 0 ? 0 : c.stoppedClock;
        const auto ended = Feed(t, {stopped});
        ASSERT_EQ(ended.size(), 1u) << c.fault;
        const TTestSummary& s = ended[0];
        EXPECT_EQ(s.Reason, c.expected) << c.fault;
        EXPECT_NEAR(s.DurationS, c.durationS, 1e-3) << c.fault;
        EXPECT_NEAR(SecondsBetween(s.Start, s.End), s.DurationS, 1e-3) << c.fault;
        EXPECT_NEAR(s.Ah, 0.7, 1e-6) << c.fault;  // the whole discharge, also the part away
        // Of the readings seen: the counters' rise over a duration the console cannot always
        // vouch for would not be the current drawn.
        EXPECT_NEAR(s.MeanA.value_or(-1), 1.0, 1e-6) << c.fault;
    }
}

// Without the tester's clock the console's own decides, by UTC: across the night the clocks go
// back (02:30 summer time to 02:10 winter time is 40 minutes) or forward.
TEST(TestVerdict, DaylightSavingChangeNeverAltersADuration) {
    struct Case {
        const char* change;
        TCivilTime start, end;
        int16_t startOffset, endOffset;
        double durationS;
    };
    const Case cases[] = {
        {"back", {2026, 10, 25, 2, 30}, {2026, 10, 25, 2, 10}, 120, 60, 40 * 60},
        {"forward", {2026, 10, 25, 1, 50}, {2026, 10, 25, 3, 10}, 60, 120, 20 * 60},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "l");
        const auto reading = [&](const TCivilTime& time, int16_t offset, int8_t status) {
            TDeviceReading r = At(0, status, 3.8f, status == 1 ? 1 : 0, 0, 0);
            r.TimeStamp = DateTimeOf(time);
            r.UtcOffset = offset;
            r.TestTime = -1;
            return r;
        };
        const auto ended =
            Feed(t, {reading(c.start, c.startOffset, 0), reading(c.start, c.startOffset, 1),
                     reading(c.end, c.endOffset, 1), reading(c.end, c.endOffset, 0)});
        ASSERT_EQ(ended.size(), 1u) << c.change;
        EXPECT_NEAR(ended[0].DurationS, c.durationS, 1e-3) << c.change;
        EXPECT_EQ(ended[0].End.UtcOffsetMin, c.endOffset) << c.change;
    }
}

// A chart of a timed test whose tester counts down runs forward; a first reading that cannot tell
// which way the clock runs waits for one that can, rather than standing far off the curve.
TEST(TestVerdict, RunningReadingsArePlacedOnTheElapsedTimeOfTheirTest) {
    struct Case {
        const char* fault;
        std::vector<int32_t> clocks;               // of running readings, then a stopped one
        std::vector<std::vector<int32_t>> placed;  // after each reading
    };
    const Case cases[] = {
        {"countdown drawn backwards", {59, 58, 57, 57}, {{1}, {2}, {3}, {}}},
        {"joined countdown's first point off the curve",
         {30, 30, 29, 29},
         {{}, {}, {30, 30, 31}, {}}},
        {"count-up turned around", {1, 2, 3, 3}, {{1}, {2}, {3}, {}}},
        {"a test ending undecided loses its points", {30, 30}, {{}, {30}}},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "l");
        for (size_t i = 0; i < c.clocks.size(); ++i) {
            const bool last = i + 1 == c.clocks.size();
            TDeviceReading r = At(double(i), last ? 0 : 1, 3.8f, 1, 0, 0);
            r.TestTime = c.clocks[i];
            r.TestTimeSetpoint = 60;
            t.Reading(r);
            std::vector<int32_t> placed;
            for (const TDeviceReading& p : t.Placed()) placed.push_back(p.TestTime);
            EXPECT_EQ(placed, c.placed[i]) << c.fault << ", reading " << i;
        }
    }
}

// The C library's locale set to a comma locale, restored afterwards.
class CommaLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* all = std::getenv("LC_ALL");
        if (all != nullptr) savedAll_ = all;
        // The name on Linux, then on Windows.
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
            std::setlocale(LC_ALL, "German_Germany") == nullptr) {
            GTEST_SKIP() << "no German locale is installed";
        }
    }
    void TearDown() override { std::setlocale(LC_ALL, savedAll_ ? savedAll_->c_str() : "C"); }
    std::optional<std::string> savedAll_;
};

TEST_F(CommaLocale, JsonAndTextKeepDecimalPointsAndTheOffsetsOfTheirMoments) {
    TTestSummary s;
    s.Start = {kBase, 60};                              // winter time
    s.End = {DateTimeOf({2026, 7, 1, 12, 0, 5}), 120};  // summer time
    s.DurationS = 300 * 3600 + 5, s.JoinedAtS = 1800, s.Ah = 1.23456, s.Wh = 2.5, s.MinV = 3.0049,
    s.InternalResistanceOhm = 0.12345, s.MeanA = -0.0001;
    s.Port = "/dev/tty\"USB0\"", s.Logs = {"a.csv", "b.csv"};
    const std::string json = VerdictJson(s), text = VerdictText(s);
    EXPECT_NE(text.find("300:00:05"), std::string::npos) << text;  // past the tester's 255 h
    EXPECT_NE(text.find("1.235 Ah"), std::string::npos) << text;
    EXPECT_NE(text.find("Joined at 0:30:00 of the test; the figures are the tester's for the "
                        "whole test."),
              std::string::npos)
        << text;
    EXPECT_EQ(json.back(), '\n');
    EXPECT_NE(json.find("\"internal_resistance_ohm\":0.1235"), std::string::npos) << json;
    EXPECT_NE(json.find("\"mean_a\":0.000"), std::string::npos) << json;  // never -0.000
    const TJsonParsed parsed = ParseJson(json);
    ASSERT_TRUE(parsed.Value) << parsed.Error << ": " << json;
    const TJsonValue& o = *parsed.Value;
    std::vector<std::string> keys;
    for (const TJsonValue::TMember& member : *o.Object()) keys.push_back(member.first);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys,
              (std::vector<std::string>{
                  "ah", "cell", "duration_s", "end", "internal_resistance_ohm", "joined_at_s",
                  "log", "logs", "mean_a", "min_v", "port", "reason", "start", "station", "wh"}));
    EXPECT_TRUE(o.Find("cell")->IsNull());
    EXPECT_EQ(o.Find("duration_s")->Number(), 300 * 3600 + 5);
    EXPECT_EQ(o.Find("joined_at_s")->Number(), 1800);
    EXPECT_EQ(*o.Find("start")->String(), "2026-12-08T14:00:00+01:00");
    EXPECT_EQ(*o.Find("end")->String(), "2026-07-01T12:00:05+02:00");
    EXPECT_EQ(*o.Find("port")->String(), "/dev/tty\"USB0\"");
    EXPECT_EQ(*o.Find("logs")->Array()->at(1).String(), "b.csv");
}

}  // namespace
