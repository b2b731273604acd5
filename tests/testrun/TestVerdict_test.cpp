// The end of a test and its verdict, from recorded reading sequences.
#include "testrun/TestVerdict.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <clocale>
#include <cstdlib>
#include <ctime>

#include "support/DateTime.h"

namespace {

const double kBase = ToDateTime(QDateTime(QDate(2026, 12, 8), QTime(14, 0)));

// A reading `s` seconds after kBase: 1 A set, 3 V cutoff, untimed, clock counting up, 25 °C.
TDeviceReading At(double s, int8_t status, float v, float a, float ah, float wh) {
    return {kBase + s / 86400, v, a, ah, v * a, wh, int32_t(s), 1.0f, 3.0f, 0, 25, status};
}

std::vector<TTestSummary> Feed(TTestTracker& t, const std::vector<TDeviceReading>& readings) {
    std::vector<TTestSummary> ended;
    for (const auto& r : readings)
        if (auto s = t.Reading(r)) ended.push_back(*s);
    return ended;
}

TEST(TestVerdict, CutoffRunUsesCounterRiseLoadedVoltagesAndTheSettledLoadStep) {
    TTestTracker t;
    t.ConnectionOpened("/dev/ttyUSB0", "Log_A.csv");
    const auto ended =
        Feed(t, {At(0, 0, 4.10f, 0, 0.5f, 2.0f), At(5, -1, 3.7f, 1.0f, 0.5f, 2.0f),
                 At(10, 1, 3.95f, 0.95f, 0.5f, 2.0f), At(20, 1, 3.90f, 1.0f, 0.6f, 2.4f),
                 At(3610, 1, 3.08f, 1.0f, 1.5f, 5.6f),
                 At(3620, 0, 3.50f, 0, 1.5f, 5.6f)});  // recovered once the load is off
    ASSERT_EQ(ended.size(), 1u);
    const TTestSummary& s = ended[0];
    EXPECT_EQ(s.Reason, TEndReason::Cutoff);
    EXPECT_DOUBLE_EQ(s.Start, kBase + 10.0 / 86400);
    EXPECT_NEAR(s.DurationS, 3610, 1e-3);
    EXPECT_NEAR(s.Ah, 1.0, 1e-6);
    EXPECT_NEAR(s.Wh, 3.6, 1e-5);
    EXPECT_NEAR(s.MeanV.value_or(-1), 3.6, 1e-5);
    EXPECT_NEAR(s.MeanA.value_or(-1), 1.0, 1e-5);  // over the tester's clock: 3600 s running
    EXPECT_NEAR(s.MinV.value_or(-1), 3.08, 1e-6);
    EXPECT_NEAR(s.MaxV.value_or(-1), 3.95,
                1e-6);  // neither the idle 4.10 V nor the recovered 3.50 V
    EXPECT_NEAR(s.InternalResistanceOhm.value_or(-1), 0.2,
                1e-5);  // not from the 0.95 A reading, 5 % short
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
    EXPECT_FALSE(t.ConnectionEnded(kBase, false));
}

TEST(TestVerdict, HangUpWithoutReconnectionEndsAtTheTimeGiven) {
    TTestTracker t;
    t.ConnectionOpened("p", "Log_A.csv");
    Feed(t, {At(0, 0, 4.1f, 0, 5.0f, 18.0f), At(1, 1, 3.9f, 1, 0.1f, 0.4f),
             At(10, 1, 3.05f, 1, 0.2f, 0.8f)});
    const auto s = t.ConnectionEnded(kBase + 60.0 / 86400, false);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Reason, TEndReason::ConnectionLost);  // not cutoff, though the voltage is near it
    EXPECT_NEAR(s->DurationS, 59, 1e-3);
    EXPECT_NEAR(s->Ah, 0.2, 1e-6);  // the counter restarted from zero: its last value alone
    EXPECT_NEAR(s->Wh, 0.8, 1e-6);
    EXPECT_EQ(s->Logs, std::vector<std::string>{"Log_A.csv"});
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
        {"reconnection starts a second test", 1, false, TEndReason::Cutoff, 1.5, 209, {"A", "B"}},
        {"stop sent while away counted", 0, false, TEndReason::Tester, 1.2, 129, {"A", "B"}},
        {"giving up leaves the test running", 0, true, TEndReason::ConnectionLost, 0.5, 109, {"A"}},
    };
    for (const Case& c : cases) {
        TTestTracker t;
        t.ConnectionOpened("p", "A");
        Feed(t,
             {At(0, 0, 4.1f, 0, 0, 0), At(1, 1, 4.0f, 1, 0, 0), At(100, 1, 3.5f, 1, 0.5f, 2.0f)});
        EXPECT_FALSE(t.ConnectionEnded(kBase + 110.0 / 86400, true)) << c.fault;
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

TEST(TestVerdict, JsonAndTextKeepDecimalPointsUnderACommaLocale) {
    ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8"));
    QLocale::setDefault(QLocale::German);
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    TTestSummary s;
    s.Start = kBase;                                                    // winter time
    s.End = ToDateTime(QDateTime(QDate(2026, 7, 1), QTime(12, 0, 5)));  // summer time
    s.DurationS = 300 * 3600 + 4.6, s.Ah = 1.23456, s.Wh = 2.5, s.MinV = 3.0049,
    s.InternalResistanceOhm = 0.12345;
    s.Port = "/dev/tty\"USB0\"", s.Logs = {"a.csv", "b.csv"};
    const std::string json = VerdictJson(s), text = VerdictText(s);
    EXPECT_NE(text.find("300:00:05"), std::string::npos) << text;  // past the tester's 255 h
    EXPECT_NE(text.find("1.235 Ah"), std::string::npos) << text;
    EXPECT_EQ(json.back(), '\n');
    EXPECT_NE(json.find("\"internal_resistance_ohm\":0.1235"), std::string::npos) << json;
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
    EXPECT_EQ(o.keys(), QStringList({"ah", "duration_s", "end", "internal_resistance_ohm", "log",
                                     "logs", "min_v", "port", "reason", "start", "wh"}));
    EXPECT_EQ(o["duration_s"].toDouble(), 300 * 3600 + 5);
    EXPECT_EQ(o["start"].toString(), "2026-12-08T14:00:00+01:00");
    EXPECT_EQ(o["end"].toString(), "2026-07-01T12:00:05+02:00");
    EXPECT_EQ(o["port"].toString(), "/dev/tty\"USB0\"");
    EXPECT_EQ(o["logs"].toArray().at(1).toString(), "b.csv");
}

}  // namespace
