// One full poll cycle against the simulated tester, its bytes paced at the line's baud rate.
// Reports line_time_ratio: the cycle's time over the time the line itself needs for the ten
// exchanges (10 x 13 bytes x 10 bits / baud). 1.0 would be a link that adds nothing. With the
// argument 0 the tester answers at once (the port opened at 115200), and cycle_ms is what the
// link itself costs.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>

#include "device/PollCycle.h"
#include "device/SerialLink.h"
#include "sim/PtyTester.h"
#include "threads/qt/QtMessageSink.h"

namespace {

void BM_PollCycle(benchmark::State& state) {
    const auto pace = static_cast<uint32_t>(state.range(0));
    const uint32_t baud = pace == 0 ? 115200 : pace;
    sim::Options options;
    options.paceBaud = pace;
    sim::PtyTester tester(options);
    TQtMessageSink sink(QCoreApplication::instance());  // posted as the window would get them
    TSerialLink link(&sink);
    if (!link.Open(tester.DevicePath(), baud)) {
        state.SkipWithError("cannot open the simulated tester");
        return;
    }
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        PollDevice(link, kNoAbortEvent);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The posted readings are not the subject here; drop them so memory stays flat.
        state.PauseTiming();
        QCoreApplication::removePostedEvents(QCoreApplication::instance());
        state.ResumeTiming();
    }
    link.Close();
    QCoreApplication::removePostedEvents(QCoreApplication::instance());
    if (pace != 0) {
        const double lineLimit = 10.0 * 13 * 10 / baud;
        state.counters["line_time_ratio"] =
            seconds / static_cast<double>(state.iterations()) / lineLimit;
    }
    state.counters["cycle_ms"] = seconds * 1000 / static_cast<double>(state.iterations());
}

BENCHMARK(BM_PollCycle)
    ->Arg(9600)
    ->Arg(115200)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
