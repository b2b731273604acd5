#pragma once
// Reading back a CSV log written by this console (testrun/TestLog.h), so that earlier tests can
// be set beside the running one on the chart. A plain function over one file: no state, callable
// from any thread.
//
// The file: the header line, then one row per reading, fields separated by ';', each line ended
// by CR LF or LF, an optional UTF-8 byte-order mark. Rows are taken as any locale wrote them:
//   DT           anything but empty (the writer's locale; not read)
//   TestTime     a duration H:MM:SS (hours of any width), "-1" when not read; or, from older
//                consoles, a time of day in any locale's long time format ("12:01:30 AM",
//                "0:01:30", "00:01:30 CET"): its first h:mm[:ss] and an AM/PM (a.m./p.m.) marker
//                right after it
//   TestOn       an integer: 1 running, 0 stopped; any other value (-1, not read) says nothing
//   Voltage, Current, W, WH, AH
//                decimal numbers with a point or a comma, the same mark throughout the file (the
//                mark of the first row read); -1 means not read
//   Temperature  an integer
//
// A log that a failed write, a crash or a damaged disk left behind still reads. A row that is not
// as above (fields missing or too many, an empty DT, a field that is not a number or time where
// one must be, the other decimal mark, a row cut short, bytes of garbage) is skipped and counted;
// it neither starts nor ends a test. Empty lines, and the CRs that an older writer left at the
// end of a line after a failed write, are not rows and are not counted.

#include <cstdint>
#include <string>
#include <vector>

// One row of a test. NaN stands for a value that was not read.
struct TLoggedPoint {
    int32_t Seconds;  // s since the test's first row with a test time, whichever way the clock ran
    float Volts;      // V
    float Amperes;    // A
    float AmpHours;   // Ah delivered since the test's first row with an AH value
};

struct TLoggedTest {
    int Number;  // 1 for the first test of the log, then on in file order
    // In file order; rows without a test time, or with neither voltage nor current, give none.
    std::vector<TLoggedPoint> Points;
    // Rows skipped while the test ran: after its first row, before the row that ended it.
    int64_t UnreadableRows = 0;
};

struct TLoggedTests {
    std::string Path;
    // "YYYY-MM-DD" from the name Log_YYYYMMDD_hhmmss[_N].csv; empty when the name says none.
    std::string Date;
    std::vector<TLoggedTest> Tests;
    int64_t UnreadableRows = 0;  // rows skipped in the whole log, within tests or between them
};

// The tests of the log at `path`. A test is a run of consecutive rows with TestOn 1; a row with
// TestOn 0 ends it, rows with any other TestOn are skipped. Every test is kept, even one without
// points, so that the numbers match the console's count of the log's tests.
//
// Elapsed time is |TestTime - first TestTime|, so a timed test whose clock counts down reads the
// same as one that counts up. A time of day wraps at 24 h: when consecutive times of day of a test
// drop by more than 12 h a day is added; for a clock counting down, a rise of more than 12 h takes
// a day off.
//
// Ah delivered is AH minus the test's first AH; once AH drops below its previous value (the
// tester's counter restarted) it is AH alone.
//
// Throws std::runtime_error("<path>: line 1: <what is wrong>") for a file that is not such a log
// at all: one that cannot be read, is empty, or does not start with the header.
TLoggedTests ReadLoggedTests(const std::string& path);
