// Loading an earlier test for the chart: ReadLoggedTests on a log of 1 000 000 rows as the writer
// makes them (11.6 days at a reading a second), written with a decimal point (the C locale) and
// with a decimal comma (de_DE). Reports seconds_per_million_rows, the time of the call alone; the
// file was just written, so it comes from the page cache. It should stay well under 2 s.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>

#include "testrun/LogReader.h"
#include "testrun/TestLog.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kRowsPerTest = 200000;  // each test ends with a stopped row
constexpr int kRowsPerFailure = 997;  // then a reading with nothing read

// %f with 2 decimals and `mark`, as the writer gives it.
std::string Fixed(double value, char mark) {
    char text[64];
    std::string result(
        text, std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2).ptr);
    for (char& c : result) c = c == '.' ? mark : c;
    return result;
}

// A discharge at 2 A from 12.6 V with a little noise on the voltage, the test time counting up.
std::string LogRows(char mark) {
    const char* dt = mark == '.' ? "3 Feb 2027 09:05:07" : "03.02.27 09:05:07";
    std::string text = std::string(kLogHeader) + "\r\n";
    text.reserve(static_cast<size_t>(kRows) * 64);
    char clock[32];
    for (int row = 0; row < kRows; ++row) {
        const int second = row % kRowsPerTest;
        if (row % kRowsPerFailure == kRowsPerFailure - 1) {
            text += std::string(dt) + ";-1;-1;" + Fixed(-1, mark) + ";" + Fixed(-1, mark) + ";" +
                    Fixed(-1, mark) + ";" + Fixed(-1, mark) + ";" + Fixed(-1, mark) + ";-1\r\n";
            continue;
        }
        const double progress = static_cast<double>(second) / kRowsPerTest;
        const double volts = 12.6 - 2.6 * progress + 0.003 * (row * 7919 % 5);
        const double ampHours = 2.0 * second / 3600;
        std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", second / 3600, second / 60 % 60,
                      second % 60);
        text += std::string(dt) + ";" + clock + (second == kRowsPerTest - 1 ? ";0;" : ";1;") +
                Fixed(volts, mark) + ";" + Fixed(2.0, mark) + ";" + Fixed(2 * volts, mark) + ";" +
                Fixed(volts * ampHours, mark) + ";" + Fixed(ampHours, mark) + ";" +
                std::to_string(25 + static_cast<int>(10 * progress)) + "\r\n";
    }
    return text;
}

void BM_ReadLoggedTests(benchmark::State& state) {
    const char mark = state.range(0) != 0 ? ',' : '.';
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/Log_20270203_090507.csv";
    const std::string rows = LogRows(mark);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(rows.data(), 1, rows.size(), file) != rows.size() ||
        std::fclose(file) != 0) {
        state.SkipWithError("cannot write the log");
        return;
    }

    double seconds = 0;
    size_t points = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const TLoggedTests logged = ReadLoggedTests(path);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        points = 0;
        for (const TLoggedTest& test : logged.Tests) points += test.Points.size();
        benchmark::DoNotOptimize(points);
    }
    state.counters["seconds_per_million_rows"] =
        seconds / static_cast<double>(state.iterations()) * 1e6 / kRows;
    state.counters["points"] = static_cast<double>(points);
    state.counters["file_MB"] = static_cast<double>(rows.size()) / 1e6;
}

BENCHMARK(BM_ReadLoggedTests)
    ->ArgName("comma")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
