// Ending the worker while it is inside a poll of a silent tester (each read there waits 500 ms
// for an answer that never comes), and destroying its queue right after. Reports stop_ms: the
// time from the stop request to the return of the shutdown.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>

#include "device/SerialLink.h"
#include "sim/PtyTester.h"
#include "testrun/ReaderWorker.h"
#include "threads/qt/QtMessageSink.h"

namespace {

void BM_StopThreadDuringSilentPoll(benchmark::State& state) {
    sim::Options options;
    options.faults.silent = true;
    sim::PtyTester tester(options);
    TQtMessageSink sink(QCoreApplication::instance());  // posted as the window would get them
    double totalMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        tester.ClearLog();
        TReaderWorker worker([] { return TPortChoice{}; }, &sink);
        if (!worker.Link().Open(tester.DevicePath(), 9600)) {
            state.SkipWithError("cannot open the simulated tester");
            break;
        }
        worker.FConnected = true;  // as after the port-opened notice
        worker.Start();
        tester.WaitForRequests(1, std::chrono::seconds(20));  // the poll has begun
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        worker.Shutdown();
        totalMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();

        state.PauseTiming();
        worker.Link().Close();
        QCoreApplication::removePostedEvents(QCoreApplication::instance());
        state.ResumeTiming();
    }
    state.counters["stop_ms"] =
        totalMs / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}

BENCHMARK(BM_StopThreadDuringSilentPoll)
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
