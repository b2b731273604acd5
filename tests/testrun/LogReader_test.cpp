// Logs read back from real files. CTest runs this program under LC_ALL=C, en_US.UTF-8 and
// de_DE.UTF-8, so the real writer's rows come in each locale's form; older consoles' forms, with
// the test time as a time of day, are written here by hand.
#include "testrun/LogReader.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "support/DateTime.h"
#include "testrun/TestLog.h"

namespace {

// A row as the writer gives it, with the decimal `mark` (DT and `time` hold no other point).
std::string Row(const std::string& time, int testOn, double volts, double amperes, double ampHours,
                char mark = '.') {
    char row[200];
    std::snprintf(row, sizeof row, "3 Feb 2027 10:00:00;%s;%d;%.2f;%.2f;%.2f;%.2f;%.2f;25\r\n",
                  time.c_str(), testOn, volts, amperes, volts * amperes, volts * ampHours,
                  ampHours);
    std::string text = row;
    std::replace(text.begin(), text.end(), '.', mark);
    return text;
}

// The points as "seconds volts amperes ampHours|" with 2 decimals, "nan" for not read.
std::string Text(const TLoggedTest& test) {
    std::string text;
    char point[100];
    for (const TLoggedPoint& p : test.Points) {
        std::snprintf(point, sizeof point, "%d %.2f %.2f %.2f|", p.Seconds, p.Volts, p.Amperes,
                      p.AmpHours);
        text += point;
    }
    return text;
}

std::string Hms(int32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

// A time of day on a 12-hour clock, "12:01:30 AM".
std::string TwelveHours(int32_t seconds, const char* am, const char* pm) {
    const int32_t hour = seconds % 86400 / 3600;
    return std::to_string((hour + 11) % 12 + 1) + Hms(seconds % 3600).substr(2) + " " +
           (hour < 12 ? am : pm);
}

std::string ErrorOf(const std::string& path) {
    try {
        ReadLoggedTests(path);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

class LogReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }
    std::string Path(const std::string& name) const {
        return folder_.path().toStdString() + "/" + name;
    }
    std::string Write(const std::string& content, const std::string& name = "Log_1.csv") const {
        std::ofstream(Path(name), std::ios::binary) << content;
        return Path(name);
    }
    QTemporaryDir folder_;
};

TEST_F(LogReaderTest, WritersRowsInThisLocaleReadBackToTheirReadings) {
    const double opened = ToDateTime(QDateTime(QDate(2027, 2, 3), QTime(9, 5, 7)));
    TTestLog log([&] { return opened; }, [this] { return Path("KelvoReader"); });
    log.OpenLog();
    const auto write = [&](int8_t status, int32_t time, float volts, float amperes, float ah) {
        log.WriteLogRow({opened, volts, amperes, ah, volts * amperes, 0, time, 0, 0, 0, 0, status});
    };
    write(0, 0, 12.8f, 0, 0);
    write(1, 0, 12.6f, 2, 0);
    write(1, 90, 12.35f, 1.5f, 0.05f);
    write(1, 95, -1, 1.5f, -1);
    write(-1, -1, -1, -1, -1);
    write(1, 30 * 3600, 11, 1.5f, 4.5f);
    write(0, 30 * 3600, 11.2f, 0, 4.5f);
    log.CloseLog();

    const TLoggedTests logged = ReadLoggedTests(log.Path());
    EXPECT_EQ(logged.Date, QDate(2027, 2, 3));
    ASSERT_EQ(logged.Tests.size(), 1u);
    EXPECT_EQ(logged.Tests[0].Number, 1);
    EXPECT_EQ(Text(logged.Tests[0]),
              "0 12.60 2.00 0.00|90 12.35 1.50 0.05|95 nan 1.50 nan|108000 11.00 1.50 4.50|");
}

// A 30-hour test, counting up or down, in the forms of this console and older ones: a time of
// day wraps at 24 h and may carry AM/PM.
TEST_F(LogReaderTest, TestLongerThanADayKeepsItsElapsedTimeInEveryForm) {
    const struct {
        const char* form;
        char mark;
        std::string (*time)(int32_t seconds);
    } forms[] = {
        {"duration", '.', Hms},
        {"time of day, de_DE", ',', [](int32_t s) { return Hms(s % 86400); }},
        {"time of day, en_US", '.', [](int32_t s) { return TwelveHours(s, "AM", "PM"); }},
        {"a.m. and a zone", '.', [](int32_t s) { return TwelveHours(s, "a.m. CET", "p.m. CET"); }},
    };
    constexpr int32_t kStep = 7201, kLast = 15 * kStep;  // 30 h 0 min 15 s
    for (const auto& f : forms) {
        for (const bool countsDown : {false, true}) {
            std::string log = std::string(kLogHeader) + "\r\n";
            TLoggedTest expected{1, {}};
            for (int k = 0; k <= 15; ++k) {
                const int32_t clock = countsDown ? kLast - k * kStep : k * kStep;
                log += Row(f.time(clock), 1, 12.6 - 0.1 * k, 1.5, 0.25 * k, f.mark);
                expected.Points.push_back({k * kStep, 12.6f - 0.1f * k, 1.5f, 0.25f * k});
            }
            const TLoggedTests logged = ReadLoggedTests(Write(log));
            ASSERT_EQ(logged.Tests.size(), 1u) << f.form;
            EXPECT_EQ(Text(logged.Tests[0]), Text(expected))
                << f.form << (countsDown ? ", down" : "");
        }
    }
}

// Also an LF-only file with a byte-order mark.
TEST_F(LogReaderTest, StoppedRowsSplitTestsAndUnreadRowsNeitherStartNorEndOne) {
    std::string log = "\xEF\xBB\xBF" + std::string(kLogHeader) + "\n";
    for (const std::string& row : {
             Row("00:00:00", 0, 12.8, 0, 2.5),
             Row("00:00:00", 1, 12.6, 2, 2.5),   // the last test's count
             Row("-1", -1, -1, -1, -1),          // not read: the test goes on
             Row("00:00:02", 1, 12.5, 2, 0.01),  // the counter restarted
             Row("-1", 1, 12.4, 2, 0.02),        // no time, no point
             Row("00:00:04", 1, -1, -1, 0.03),   // nothing to plot
             Row("00:00:05", 1, -1, 2, -1),
             Row("00:50:00", 1, 12.3, 2, 2.6),  // beyond the count it restarted from
             Row("00:50:01", 0, 12.7, 0, 2.6),
             Row("00:50:01", -1, -1, -1, -1),  // starts nothing
             Row("00:00:00", 1, 12.7, 1, 0),
             Row("00:00:10", 1, 12.6, 1, 0.01),
         }) {
        log += row.substr(0, row.size() - 2) + "\n";
    }

    const TLoggedTests logged = ReadLoggedTests(Write(log));
    EXPECT_FALSE(logged.Date.isValid());
    ASSERT_EQ(logged.Tests.size(), 2u);
    EXPECT_EQ(logged.Tests[0].Number, 1);
    EXPECT_EQ(Text(logged.Tests[0]),
              "0 12.60 2.00 0.00|2 12.50 2.00 0.01|5 nan 2.00 nan|3000 12.30 2.00 2.60|");
    EXPECT_EQ(logged.Tests[1].Number, 2);
    EXPECT_EQ(Text(logged.Tests[1]), "0 12.70 1.00 0.00|10 12.60 1.00 0.01|");
}

TEST_F(LogReaderTest, DateIsTakenOnlyFromAWellFormedLogName) {
    EXPECT_EQ(ReadLoggedTests(Write(kLogHeader, "Log_20270203_235959_12.csv")).Date,
              QDate(2027, 2, 3));
    for (const char* name : {"Log_20270230_090507.csv", "Log_20270203_250507.csv",
                             "Log_20270203_0905.csv", "Log_20270203_090507_.csv"}) {
        EXPECT_FALSE(ReadLoggedTests(Write(kLogHeader, name)).Date.isValid()) << name;
    }
}

TEST_F(LogReaderTest, BadFileRaisesAtItsFirstBadLine) {
    const std::string header = std::string(kLogHeader) + "\r\n",
                      good = Row("00:00:01", 1, 12, 2, 0);
    const std::string noHeader =
        "line 1: the header \"" + std::string(kLogHeader) + "\" is missing";
    const struct {
        std::string content, error;
    } cases[] = {
        {"", "line 1: the file is empty"},
        {good, noHeader},
        {std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), noHeader},
        {header + good + "3 Feb 2027;00:00:02;1;12.50\r\n" + good, "line 3: 4 fields instead of 9"},
        {header + "d;soon;1;12.50;2.00;25.00;6.25;0.50;25",
         "line 2: TestTime \"soon\" is not a time"},
        {header + "d;00:00:01;1;12.50;2.00;25.00;6.25;0.50;25\xC2\xB0",
         "line 2: Temperature \"25\\xC2\\xB0\" is not an integer"},
        {header + good + "d;00:00:01;1;12.5O;2.00;25.00;6.25;0.50;25",
         "line 3: Voltage \"12.5O\" is not a number"},
        {header + "d;00:00:01;1;12.50;inf;25.00;6.25;0.50;25",
         "line 2: Current \"inf\" is not a number"},
        {header + good + good + "d;00:00:01;1;12.50;2,00;25.00;6.25;0.50;25",
         "line 4: Current \"2,00\" has a decimal comma, line 2 a point"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf(Write(c.content)), Path("Log_1.csv") + ": " + c.error);
    }
    const std::string folder = folder_.path().toStdString();
    EXPECT_EQ(ErrorOf(folder),
              folder + ": line 1: cannot be read: " + std::generic_category().message(EISDIR));
}

}  // namespace
