// One reading on a chart that already holds N readings of a first test: the reading added and
// the frame that shows it drawn, on the offscreen platform at the window's design size. Reports
// ms_per_reading and the chart's memory as bytes_per_reading; the figures for N = 10 000,
// 100 000 and 1 000 000 show how the cost grows with N (a reading arrives once per poll cycle,
// so it should stay far below a cycle). BM_AddReading goes on with the first test, each reading
// after every other; BM_ChartSecondTest starts a second test at 0 s, whose readings land among
// the first test's points.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>

#include "app/ChartView.h"

namespace {

// A discharge that looks like a real one: voltage falling with a little noise, current steady
// with a last-digit jitter, temperature creeping up in whole degrees.
TDeviceReading ReadingAt(int second, int total) {
    TDeviceReading reading{};
    const double progress = static_cast<double>(second) / total;
    reading.TestTime = second;
    reading.Voltage = static_cast<float>(12.6 - 2.6 * progress + 0.003 * (second * 7919 % 5));
    reading.Current = static_cast<float>(2.0 + 0.001 * (second * 31 % 3));
    reading.Temperature = static_cast<int8_t>(25 + 10 * progress);
    reading.Status = 1;
    return reading;
}

// Shows a chart holding a first test of state.range(0) readings, one a second, then times each
// reading `next(points)` gives: added, and the frame that shows it drawn.
template <typename NextReading>
void TimeAddingReadings(benchmark::State& state, NextReading next) {
    const int points = static_cast<int>(state.range(0));
    TChartView chart;
    chart.resize(522, 440);
    for (int second = 0; second < points; ++second) {
        chart.AddChartPointsWithoutRepaint(ReadingAt(second, points));
    }
    chart.show();
    QApplication::processEvents();
    chart.replot(QCustomPlot::rpImmediateRefresh);

    double seconds = 0;
    for (auto _ : state) {
        const TDeviceReading reading = next(points);
        const auto start = std::chrono::steady_clock::now();
        chart.AddChartPoints(reading);
        chart.replot(QCustomPlot::rpImmediateRefresh);  // the frame that shows it
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["ms_per_reading"] = seconds * 1000 / static_cast<double>(state.iterations());
    // Everything the chart keeps per reading: test time, voltage, current, temperature, Ah and
    // the index of value ranges.
    state.counters["bytes_per_reading"] = static_cast<double>(chart.Readings().MemoryBytes()) /
                                          static_cast<double>(chart.Readings().Size());
}

void BM_AddReading(benchmark::State& state) {
    int second = static_cast<int>(state.range(0));
    TimeAddingReadings(state, [&](int points) { return ReadingAt(second++, points); });
}

void BM_ChartSecondTest(benchmark::State& state) {
    int second = 0;
    TimeAddingReadings(state, [&](int points) { return ReadingAt(second++, points); });
}

BENCHMARK(BM_AddReading)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(BM_ChartSecondTest)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
