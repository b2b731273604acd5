#pragma once
// Earlier tests set beside the running one on the chart, from logs this console wrote: each test
// a thin, faded voltage curve on the left axis and current curve on the right, against its own
// elapsed time from its first row (or its ampere-hours delivered), labelled in the legend with
// the date of its log and its number there, and how many of its rows could not be read, if any.
// Several logs may be shown; each can be removed. Window's thread only.

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/ReadingLine.h"
#include "testrun/LogReader.h"

// "1 row could not be read", "3 rows could not be read"; empty for none.
QString UnreadableRowsText(int64_t rows);
// "<file name>: " and the UnreadableRowsText of the whole `log`; empty when every row was read.
QString UnreadableRowsMessage(const TLoggedTests& log);

class TComparedTests {
  public:
    // The curves are drawn with `keyAxis` and the two value axes, which must outlive this object.
    TComparedTests(QCPAxis* keyAxis, QCPAxis* voltageAxis, QCPAxis* currentAxis);
    ~TComparedTests();
    TComparedTests(const TComparedTests&) = delete;
    TComparedTests& operator=(const TComparedTests&) = delete;

    struct TEntry {
        int Id;
        QString Label;  // the log's file name
    };

    // Draws every test of `log` that has points; returns the log's entry.
    TEntry Add(const TLoggedTests& log);
    void Remove(int id);
    std::vector<TEntry> Entries() const;
    void SetKey(TReadingLine::TKey key);
    // Every line drawn, for the chart's fitting of its bottom axis.
    std::vector<const TReadingLine*> Lines() const;

  private:
    struct TLog;

    QCPAxis* FKeyAxis;
    QCPAxis* FVoltageAxis;
    QCPAxis* FCurrentAxis;
    TReadingLine::TKey FKey = TReadingLine::kTestTime;
    std::vector<std::unique_ptr<TLog>> FLogs;
    int FNextId = 1;
    int FTestsDrawn = 0;  // picks each new test's colour
};
