// One full poll cycle against the simulated tester, its bytes paced at the line's baud rate.
// Reports line_time_ratio: the cycle's time over the time the line itself needs for the ten
// exchanges (10 x 13 bytes x 10 bits / baud). 1.0 would be a link that adds nothing. With the
// argument 0 the tester answers at once (the port opened at 115200), and cycle_ms is what the
// link itself costs. BM_PollCycleBench does the same for several links polled at once.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

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

// A bench: `links` testers, each on a pseudo-terminal of its own paced at 9600 baud, polled at
// once by a thread each through a link of its own. Reports line_time_ratio, the worst link's.
void BM_PollCycleBench(benchmark::State& state) {
    constexpr uint32_t kBaud = 9600;
    const auto count = static_cast<size_t>(state.range(0));
    // The readings are not the subject here: taken and dropped, as a receiver that keeps up.
    struct TDroppingSink final : TMessageSink {
        bool Take(TThreadMessage&&) override { return true; }
    } sink;
    sim::Options options;
    options.paceBaud = kBaud;
    std::vector<std::unique_ptr<sim::PtyTester>> testers;
    std::vector<std::unique_ptr<TSerialLink>> links;
    for (size_t i = 0; i < count; ++i) {
        testers.push_back(std::make_unique<sim::PtyTester>(options));
        links.push_back(std::make_unique<TSerialLink>(&sink));
        if (!links.back()->Open(testers.back()->DevicePath(), kBaud)) {
            state.SkipWithError("cannot open a simulated tester");
            return;
        }
    }
    std::vector<double> seconds(count, 0);
    for (auto _ : state) {
        std::vector<std::thread> pollers;
        for (size_t i = 0; i < count; ++i) {
            pollers.emplace_back([&, i] {
                const auto start = std::chrono::steady_clock::now();
                PollDevice(*links[i], kNoAbortEvent);
                seconds[i] +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            });
        }
        for (std::thread& poller : pollers) poller.join();
    }
    const double lineLimit = 10.0 * 13 * 10 / kBaud;
    const double worst = *std::max_element(seconds.begin(), seconds.end());
    state.counters["line_time_ratio"] = worst / static_cast<double>(state.iterations()) / lineLimit;
}

BENCHMARK(BM_PollCycleBench)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
