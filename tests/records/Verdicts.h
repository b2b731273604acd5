#pragma once
// Tests as the register's tests make them.

#include <string>

#include "support/CivilTime.h"
#include "support/DateTime.h"
#include "testrun/TestVerdict.h"

// A test of `cell` with every field of a verdict known (a joined test, two logs), ending `endMin`
// minutes after 9:00 on 8 December 2026 at UTC+5:45, an hour long.
inline TTestSummary EveryFieldKnown(const std::string& cell, int endMin) {
    TTestSummary s;
    s.Reason = TEndReason::Cutoff;
    s.End = AddSeconds({DateTimeOf({2026, 12, 8, 9, 0}), 345}, endMin * 60.0);
    s.Start = AddSeconds(s.End, -3600);
    s.DurationS = 3600, s.JoinedAtS = 125, s.Ah = 2.0 + endMin / 1000.0, s.Wh = s.Ah * 3.7;
    s.MeanV = 3.7, s.MinV = 3.001, s.MaxV = 4.2, s.MeanA = s.Ah, s.MaxTempC = 31;
    s.InternalResistanceOhm = 0.0412;
    s.Port = "ttyUSB0";
    s.Log = "/logs/b \"" + std::to_string(endMin) + "\".csv";
    s.Logs = {"/logs/a.csv", s.Log};
    s.Cell = cell;
    s.Station = "bench-\xC3\xA9";
    return s;
}
