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

#include "support/CivilTime.h"
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
    const double opened = DateTimeOf({2027, 2, 3, 9, 5, 7});
    TTestLog log([&] { return opened; }, [this] { return Path("KelvoReader"); });
    log.OpenLog();
    const auto write = [&](int8_t status, int32_t time, float volts, float amperes, float ah) {
        TDeviceReading reading{};
        reading.TimeStamp = opened;
        reading.Voltage = volts;
        reading.Current = amperes;
        reading.AmpHours = ah;
        reading.Power = volts * amperes;
        reading.TestTime = time;
        reading.Status = status;
        log.WriteLogRow(reading);
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
    EXPECT_EQ(logged.Date, "2027-02-03");
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
    EXPECT_TRUE(logged.Date.empty());
    ASSERT_EQ(logged.Tests.size(), 2u);
    EXPECT_EQ(logged.Tests[0].Number, 1);
    EXPECT_EQ(Text(logged.Tests[0]),
              "0 12.60 2.00 0.00|2 12.50 2.00 0.01|5 nan 2.00 nan|3000 12.30 2.00 2.60|");
    EXPECT_EQ(logged.Tests[1].Number, 2);
    EXPECT_EQ(Text(logged.Tests[1]), "0 12.70 1.00 0.00|10 12.60 1.00 0.01|");
}

TEST_F(LogReaderTest, DateIsTakenOnlyFromAWellFormedLogName) {
    EXPECT_EQ(ReadLoggedTests(Write(kLogHeader, "Log_20270203_235959_12.csv")).Date, "2027-02-03");
    for (const char* name : {"Log_20270230_090507.csv", "Log_20270203_250507.csv",
                             "Log_20270203_0905.csv", "Log_20270203_090507_.csv"}) {
        EXPECT_TRUE(ReadLoggedTests(Write(kLogHeader, name)).Date.empty()) << name;
    }
}

// What a failed write, a crash or a damaged disk leaves between two rows of a test: a row that
// cannot be read is skipped and counted with the test, and changes nothing else; an empty line
// or a stray CR that an older writer left after a failed write is not a row.
TEST_F(LogReaderTest, RowsThatCannotBeReadAreSkippedAndCountedWithTheirTest) {
    const std::string first = Row("00:00:01", 1, 12.6, 2, 0.1),
                      last = Row("00:00:03", 1, 12.4, 2, 0.3);
    const std::string cut = Row("00:00:02", 1, 12.5, 2, 0.2).substr(0, 30);
    const struct {
        const char* damage;
        std::string between;  // after `first`'s fields, up to `last`
        int unreadable;
    } cases[] = {
        {"an empty line left by a write that wrote nothing", "\r\n\r\n", 0},
        {"a CR left before the row's own line end", "\r\r\n", 0},
        {"a row of 4 fields", "\r\nd;00:00:02;1;12.50\r\n", 1},
        {"an empty DT", "\r\n;00:00:02;1;12.50;2.00;25.00;6.25;0.20;25\r\n", 1},
        {"a test time that is no time", "\r\nd;soon;1;12.50;2.00;25.00;6.25;0.20;25\r\n", 1},
        {"a letter in a number", "\r\nd;00:00:02;1;12.5O;2.00;25.00;6.25;0.20;25\r\n", 1},
        {"inf for a number", "\r\nd;00:00:02;1;12.50;inf;25.00;6.25;0.20;25\r\n", 1},
        {"the other decimal mark", "\r\nd;00:00:02;1;12,50;2,00;25,00;6,25;0,20;25\r\n", 1},
        {"a Temperature with its unit",
         "\r\nd;00:00:02;1;12.50;2.00;25.00;6.25;0.20;25\xC2\xB0\r\n", 1},
        {"a row cut short", "\r\n" + cut + "\r\n", 1},
        {"garbage over two lines", "\r\n\x89PNG\r\n\x1A\n", 2},
    };
    const std::string header = std::string(kLogHeader) + "\r\n";
    const std::string whole = Text(ReadLoggedTests(Write(header + first + last)).Tests.at(0));
    for (const auto& c : cases) {
        const std::string log = header + first.substr(0, first.size() - 2) + c.between + last;
        const TLoggedTests logged = ReadLoggedTests(Write(log));
        ASSERT_EQ(logged.Tests.size(), 1u) << c.damage;
        EXPECT_EQ(Text(logged.Tests[0]), whole) << c.damage;
        EXPECT_EQ(logged.Tests[0].UnreadableRows, c.unreadable) << c.damage;
        EXPECT_EQ(logged.UnreadableRows, c.unreadable) << c.damage;
    }
}

// A row counts with the test that was running when it was written: after the test's first row,
// before the row that ended it; rows outside every test count for the log alone. A last row cut
// short by a crash, without its line end, is one of them.
TEST_F(LogReaderTest, UnreadableRowsCountWithTheTestThatWasRunning) {
    const std::string bad = "d;00:00:0\r\n";
    std::string log = std::string(kLogHeader) + "\r\n" + bad;  // before any test
    log += Row("00:00:00", 0, 12.8, 0, 0) + bad;
    log += Row("00:00:00", 1, 12.6, 2, 0) + bad + bad;  // test 1
    log += Row("-1", -1, -1, -1, -1) + bad;             // a reading failed: test 1 goes on
    log += Row("00:00:09", 0, 12.7, 0, 0.1) + bad;      // after test 1
    log += Row("00:00:00", 1, 12.6, 2, 0) + Row("00:00:01", 1, 12.6, 2, 0);  // test 2, whole
    log += Row("00:00:02", 0, 12.7, 0, 0);
    log += Row("00:00:00", 1, 12.6, 2, 0) + "d;00:00:01;1;12.5";  // test 3, ended by a crash

    const TLoggedTests logged = ReadLoggedTests(Write(log));
    ASSERT_EQ(logged.Tests.size(), 3u);
    EXPECT_EQ(logged.Tests[0].UnreadableRows, 3);
    EXPECT_EQ(logged.Tests[1].UnreadableRows, 0);
    EXPECT_EQ(logged.Tests[2].UnreadableRows, 1);
    EXPECT_EQ(logged.UnreadableRows, 7);
    EXPECT_EQ(Text(logged.Tests[1]), "0 12.60 2.00 0.00|1 12.60 2.00 0.00|");
}

// The first row read whole settles the file's mark; a row skipped before it, with the other mark,
// must not make every later row unreadable.
TEST_F(LogReaderTest, RowThatCannotBeReadDoesNotSettleTheDecimalMark) {
    const std::string log = std::string(kLogHeader) + "\r\n" +
                            "d;00:00:00;1;12,60;2,00;25,20;0,00;0,00;x\r\n" +   // not read
                            "d;00:00:00;1;12,60;2.00;25.20;0.00;0.00;25\r\n" +  // two marks
                            Row("00:00:01", 1, 12.6, 2, 0) + Row("00:00:02", 1, 12.5, 2, 0);
    const TLoggedTests logged = ReadLoggedTests(Write(log));
    ASSERT_EQ(logged.Tests.size(), 1u);
    EXPECT_EQ(Text(logged.Tests[0]), "0 12.60 2.00 0.00|1 12.50 2.00 0.00|");
    EXPECT_EQ(logged.UnreadableRows, 2);
}

// Only a file that is no log at all is refused: it cannot be read, is empty or lacks the header.
TEST_F(LogReaderTest, FileThatIsNoLogIsRefused) {
    const std::string good = Row("00:00:01", 1, 12, 2, 0);
    const std::string noHeader =
        "line 1: the header \"" + std::string(kLogHeader) + "\" is missing";
    const struct {
        std::string content, error;
    } cases[] = {
        {"", "line 1: the file is empty"},
        {"\xEF\xBB\xBF", "line 1: the file is empty"},
        {good, noHeader},
        {"\r\n" + std::string(kLogHeader) + "\r\n" + good, noHeader},
        {"DT;TestTime;TestOn;Voltage;Current;W;WH;AH\r\n" + good, noHeader},
        {std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), noHeader},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf(Write(c.content)), Path("Log_1.csv") + ": " + c.error);
    }
    const std::string folder = folder_.path().toStdString();
    EXPECT_EQ(ErrorOf(folder),
              folder + ": line 1: cannot be read: " + std::generic_category().message(EISDIR));
}

}  // namespace
