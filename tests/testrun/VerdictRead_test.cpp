// A verdict read back from its file is the test it was written from: every key, the moments with
// their offsets (so the register keys a test to the same UTC second however it came in), and
// nothing taken from a file that is not a verdict.
#include <gtest/gtest.h>

#include <string>

#include "support/CivilTime.h"
#include "support/DateTime.h"
#include "testrun/TestVerdict.h"
#include "testrun/VerdictRead.h"

namespace {

double Local(int y, int m, int d, int h, int min, int s, int ms = 0) {
    return DateTimeOf({y, m, d, h, min, s, ms});
}

TTestSummary Full() {
    TTestSummary s;
    s.Reason = TEndReason::ConnectionLost;
    s.Start = {Local(2026, 12, 8, 23, 59, 30), -345};
    s.End = {Local(2026, 12, 9, 0, 4, 30), -345};
    s.DurationS = 300, s.JoinedAtS = 12, s.Ah = 1.234, s.Wh = 4.5, s.MeanV = 3.7, s.MinV = 3.001,
    s.MaxV = 4.2, s.MeanA = 14.808, s.MaxTempC = 41, s.InternalResistanceOhm = 0.0412;
    s.Port = "ttyUSB0";
    s.Log = "/logs/b.csv";
    s.Logs = {"/logs/a \"1\".csv", "/logs/b.csv"};
    s.Cell = "B-17 \xC3\xA9";
    s.Station = "bench-3";
    return s;
}

TEST(VerdictRead, EveryKeyReadsBackAsWritten) {
    TTestSummary bare;  // no optional figure, no cell, no logs
    bare.Reason = TEndReason::Cutoff;
    bare.Start = {Local(2026, 7, 1, 12, 0, 0), 120};
    bare.End = {Local(2026, 7, 1, 13, 0, 0), 120};
    bare.DurationS = 3600;
    bare.Port = "ttyACM0";
    for (const TTestSummary& s : {Full(), bare}) {
        const std::string json = VerdictJson(s);
        const std::optional<TTestSummary> read = ParseVerdictJson(json);
        ASSERT_TRUE(read) << json;
        EXPECT_EQ(VerdictJson(*read), json);
        EXPECT_EQ(read->Cell, s.Cell);
        EXPECT_EQ(read->Logs, s.Logs);
        EXPECT_EQ(read->Start.UtcOffsetMin, s.Start.UtcOffsetMin);
        EXPECT_DOUBLE_EQ(read->End.DateTime, s.End.DateTime);
    }
}

TEST(VerdictRead, FilesThatAreNotVerdictsGiveNothing) {
    const std::string good = VerdictJson(Full());
    const auto without = [&](const std::string& key) {
        std::string text = good;
        const size_t at = text.find("\"" + key + "\":");
        text.insert(at + 1, "x");  // another key's name
        return text;
    };
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::string cases[] = {
        "",
        "[]",
        "{}",
        good.substr(0, good.size() / 2),  // cut short
        without("reason"),
        without("start"),
        without("end"),
        without("port"),
        replaced("\"connection-lost\"", "\"exploded\""),
        replaced("\"connection-lost\"", "3"),
        replaced("\"ah\":1.234", "\"ah\":\"1.234\""),
        replaced("\"logs\":[", "\"logs\":[1,"),
        replaced("\"station\":\"bench-3\"", "\"station\":7"),
        replaced("\"joined_at_s\":12", "\"joined_at_s\":-5"),
        replaced("2026-12-08T23:59:30-05:45", "2026-12-08 23:59:30"),
        replaced("2026-12-08T23:59:30-05:45", "2026-02-30T23:59:30-05:45"),
    };
    for (const std::string& text : cases) EXPECT_FALSE(ParseVerdictJson(text)) << text;
}

TEST(VerdictRead, AbsentOptionalKeysStayEmptyAndANullCellIsNone) {
    const std::optional<TTestSummary> read = ParseVerdictJson(
        R"({"reason":"operator","start":"2026-12-08T14:00:00+01:00",)"
        R"("end":"2026-12-08T15:30:00+01:00","port":"ttyUSB1","cell":null,"extra":[1]})");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Reason, TEndReason::Operator);
    EXPECT_FALSE(read->Cell);
    EXPECT_FALSE(read->MeanV);
    EXPECT_FALSE(read->InternalResistanceOhm);
    EXPECT_EQ(read->Ah, 0);
    EXPECT_EQ(read->DurationS, 5400);  // from start to end
    EXPECT_TRUE(read->Station.empty());
    const auto empty = ParseVerdictJson(
        R"({"reason":"cutoff","start":"2026-12-08T14:00:00Z","end":"2026-12-08T14:00:00Z",)"
        R"("port":"p","cell":""})");
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->Cell);
}

TEST(VerdictRead, MomentsKeyToOneUtcSecondWhateverTheirOffset) {
    const struct {
        const char* text;
        int64_t utc;
    } cases[] = {
        {"2026-12-08T14:03:12+01:00", 1796734992},
        {"2026-12-08T13:03:12Z", 1796734992},
        {"2026-12-08T08:18:12-04:45", 1796734992},
        {"2026-03-29T03:00:00+02:00", 1774746000},  // the first moment of summer time
        {"2026-03-29T01:00:00+00:00", 1774746000},
        {"2024-02-29T12:00:00Z", 1709208000},
        {"2026-12-31T23:30:00-05:45", 1798780500},  // a day later in UTC
        {"1899-12-30T00:00:00+00:00", -2209161600},
    };
    for (const auto& c : cases) {
        const auto stamp = ParseIsoStamp(c.text);
        ASSERT_TRUE(stamp) << c.text;
        EXPECT_EQ(UtcSecond(*stamp), c.utc) << c.text;
    }
    // A moment written from a reading's milliseconds keys to the second its file names.
    TTestSummary s = Full();
    s.Start = {Local(2026, 12, 8, 14, 3, 12, 999), 60};
    const auto read = ParseVerdictJson(VerdictJson(s));
    ASSERT_TRUE(read);
    EXPECT_EQ(UtcSecond(read->Start), 1796734992);

    for (const char* bad : {"2026-12-08T24:00:00Z", "2026-13-01T00:00:00Z",
                            "2026-12-08T14:03:12+19:00", "2026-12-08T14:03:12", "2026-12-08",
                            "2026-12-08T14:03:12+01:00 ", "2026-12-08T14:03:12.Z"}) {
        EXPECT_FALSE(ParseIsoStamp(bad)) << bad;
    }
}

}  // namespace
