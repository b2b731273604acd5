// The console window during a running test: readings with Status 1 posted to it from another
// thread as the worker posts them, on the offscreen platform, with its real displays, chart and
// CSV log; the tester's clock moves once a second, as a real one does. The argument is the
// interval between readings in ms (135: a tester at 9600 baud, 14: at 115200); `cpu_percent`
// is the process's CPU time over 20 s of wall time. With 0 the
// readings come as fast as the window takes them, and `readings_per_s` is how many it charted
// and logged per second (every one is checked to be in the log).
//
// BM_ConsoleLoadTelemetry: the same with telemetry on, publishing to a Mosquitto broker on
// loopback that the benchmark starts; `dropped` counts the readings not published (the broker
// slower than the readings), never missing from the log.
//
// BM_BenchLoad/8: the bench window with 8 testers, each sent a reading every 135 ms; `cpu_percent`
// as above. BM_BenchMemory/8: the bench with 8 testers that each run a test of 10 hours at a
// reading every 135 ms, the readings sent as fast as the bench takes them; `rss_mb` is the
// process's largest resident size at the end.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/BenchTile.h"
#include "app/BenchWindow.h"
#include "app/uReader.h"
#include "support/DateTime.h"
#include "tests/fixtures/MosquittoBroker.h"
#include "threads/qt/QtMessageSink.h"

namespace {

constexpr int kSeconds = 20;
constexpr uint64_t kMostWaiting = 64;  // unpaced: readings posted and not yet handled

// Counts the readings that reach the window (filters run newest first: this one before it),
// and lets the poster wait while too many are on their way.
class ReadingCounter : public QObject {
  public:
    uint64_t Handled() const {
        std::lock_guard lock(FLock);
        return FHandled;
    }
    // Blocks while more than `most` of the `posted` readings wait, or until `stop`.
    void WaitBelow(uint64_t posted, uint64_t most, const std::atomic<bool>& stop) {
        std::unique_lock lock(FLock);
        FChanged.wait(lock, [&] { return posted - FHandled <= most || stop; });
    }
    void Wake() { FChanged.notify_all(); }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        const auto* message = AsThreadMessage(event);
        if (message != nullptr && message->Msg() == SendStringToMainFormMsg) {
            {
                std::lock_guard lock(FLock);
                ++FHandled;
            }
            FChanged.notify_one();
        }
        return false;
    }

  private:
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    uint64_t FHandled = 0;  // guarded by FLock
};

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The n-th reading of a test running for `seconds`, as a discharging cell would give it: the
// tester's clock moves once a second, however many readings come in between.
TDeviceReading ReadingAt(uint64_t n, double seconds) {
    TDeviceReading r{};
    r.TimeStamp = CurrentDateTime();
    r.Status = 1;
    r.TestTime = static_cast<int32_t>(seconds);
    r.Voltage =
        static_cast<float>(12.6 - 2.6 * std::fmod(seconds / 36000.0, 1.0) + 0.001 * (n % 7));
    r.Current = static_cast<float>(1.5 + 0.001 * (n % 3));
    r.Power = r.Voltage * r.Current;
    r.AmpHours = static_cast<float>(1.5 * seconds / 3600.0);
    r.WattHours = r.AmpHours * 12.0f;
    r.Temperature = static_cast<int8_t>(25 + static_cast<int>(seconds) / 3600 % 20);
    r.CurrentSetpoint = 1.5f;
    r.CutoffVoltage = 10.0f;
    return r;
}

// How readings are sent: `Interval` apart in wall time (0: as fast as the receivers take them),
// for kSeconds or, with `Readings`, until each link was sent that many. The tester's clock of the
// n-th reading is n x `ClockStep`, or the wall time since the start when that is 0.
struct TLoad {
    std::chrono::milliseconds Interval{0};
    std::chrono::milliseconds ClockStep{0};
    uint64_t Readings = 0;
};

double ResidentMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Sends readings to every one of `links` as their workers would, and sets the counters
// cpu_percent, readings_per_s and rss_mb.
void SendReadings(benchmark::State& state, const std::vector<TSerialLink*>& links,
                  const TLoad& load) {
    ReadingCounter counter;
    qApp->installEventFilter(&counter);
    for (auto _ : state) {
        std::atomic<bool> stop{false};
        uint64_t posted = 0;
        std::thread poster([&] {
            const auto began = std::chrono::steady_clock::now();
            auto next = began;
            for (uint64_t n = 0; !stop && (load.Readings == 0 || n < load.Readings); ++n) {
                if (load.Interval.count() > 0) {
                    std::this_thread::sleep_until(next);
                    next += load.Interval;
                }
                const double seconds =
                    load.ClockStep.count() > 0
                        ? std::chrono::duration<double>(load.ClockStep * n).count()
                        : std::chrono::duration<double>(std::chrono::steady_clock::now() - began)
                              .count();
                const TDeviceReading reading = ReadingAt(n, seconds);
                for (TSerialLink* link : links) {
                    if (load.Interval.count() == 0) {
                        counter.WaitBelow(posted, kMostWaiting * links.size(), stop);
                    }
                    link->Post(TReadingTaken{reading});
                    ++posted;
                }
            }
        });
        const double cpuBefore = CpuSeconds();
        const uint64_t handledBefore = counter.Handled();
        const auto began = std::chrono::steady_clock::now();
        // The event loop runs inside the wait; a quit would close the windows (a bench asks).
        if (load.Readings == 0) {
            QTest::qWait(kSeconds * 1000);
        } else if (!QTest::qWaitFor(
                       [&] { return counter.Handled() == load.Readings * links.size(); },
                       24 * 3600 * 1000)) {
            state.SkipWithError("readings were not handled");
        }
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        const double cpu = CpuSeconds() - cpuBefore;
        const uint64_t handled = counter.Handled() - handledBefore;
        stop = true;
        counter.Wake();
        poster.join();
        if (!QTest::qWaitFor([&] { return counter.Handled() == posted; })) {
            state.SkipWithError("readings were not handled");
        }
        state.counters["cpu_percent"] = 100 * cpu / wall;
        state.counters["readings_per_s"] = handled / wall;
        state.counters["rss_mb"] = ResidentMegabytes();
    }
    qApp->removeEventFilter(&counter);
}

// Opens `form`'s connection as its worker would; false when the notice was not handled.
bool OpenAsTheWorker(TForm1& form) {
    form.Link().Post(TPortOpened{});
    return QTest::qWaitFor([&] { return form.PortConnected(); });
}

// Closes `form`'s connection as its worker would; the readings handled must all be in its log,
// which is removed. False when one is missing.
bool CloseAsTheWorker(TForm1& form, uint64_t handled, benchmark::State& state) {
    const QString log = form.StatusPanel->text();
    form.Link().Post(TPortClosed{});
    if (!QTest::qWaitFor([&] { return !form.PortConnected(); })) state.SkipWithError("not closed");
    QFile file(log);
    bool whole = true;
    if (file.open(QIODevice::ReadOnly)) {
        uint64_t rows = 0;
        while (!file.atEnd()) rows += file.readLine().isEmpty() ? 0 : 1;
        whole = rows == handled + 1;
    }
    QFile::remove(log);
    return whole;
}

void ConsoleLoad(benchmark::State& state, const TMosquittoBroker* broker) {
    TForm1 form;
    form.aReconnect->setChecked(false);
    if (broker != nullptr) {
        TTelemetryChoice choice;
        choice.Location = QString::fromStdString(broker->Location());
        choice.PasswordFile = QString::fromStdString(broker->PasswordFile());
        form.Telemetry().SetChoice(choice);
    }
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return state.SkipWithError("no window");
    if (!OpenAsTheWorker(form)) return state.SkipWithError("not open");
    const uint64_t before = form.Link().PostedCount();
    SendReadings(state, {&form.Link()}, {std::chrono::milliseconds(state.range(0))});
    if (const TTelemetry* telemetry = form.Telemetry().Current()) {
        state.counters["dropped"] = static_cast<double>(telemetry->Dropped());
    }
    if (!CloseAsTheWorker(form, form.Link().PostedCount() - before, state)) {
        state.SkipWithError("a reading is missing from the log");
    }
}

// The bench with `state.range(0)` testers.
void BenchLoad(benchmark::State& state, const TLoad& load) {
    TRememberedChoices remembered;
    remembered.Reconnect = false;
    TBenchWindow bench(remembered, {});
    std::vector<TSerialLink*> links;
    for (int i = 0; i < state.range(0); ++i) {
        links.push_back(&bench.AddTester(QString("ttyBENCH%1").arg(i))->View().Link());
    }
    bench.show();
    if (!QTest::qWaitForWindowExposed(&bench)) return state.SkipWithError("no window");
    for (TBenchTile* tile : bench.Tiles()) {
        if (!OpenAsTheWorker(tile->View())) return state.SkipWithError("not open");
    }
    std::vector<uint64_t> before;
    for (TSerialLink* link : links) before.push_back(link->PostedCount());
    SendReadings(state, links, load);
    QTest::qWait(1500);  // the tiles' charts draw
    state.counters["rss_mb"] = ResidentMegabytes();
    for (size_t i = 0; i < links.size(); ++i) {
        if (!CloseAsTheWorker(bench.Tiles()[i]->View(), links[i]->PostedCount() - before[i],
                              state)) {
            state.SkipWithError("a reading is missing from a log");
        }
    }
}

void BM_BenchLoad(benchmark::State& state) {
    BenchLoad(state, {std::chrono::milliseconds(135)});
}

void BM_BenchMemory(benchmark::State& state) {
    constexpr auto kStep = std::chrono::milliseconds(135);
    BenchLoad(state, {std::chrono::milliseconds(0), kStep, std::chrono::hours(10) / kStep});
}

void BM_ConsoleLoad(benchmark::State& state) {
    ConsoleLoad(state, nullptr);
}

void BM_ConsoleLoadTelemetry(benchmark::State& state) {
    static const TMosquittoBroker broker;
    if (!broker.Failure().empty()) return state.SkipWithError(broker.Failure().c_str());
    ConsoleLoad(state, &broker);
}

BENCHMARK(BM_BenchLoad)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BenchMemory)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(BM_ConsoleLoad)
    ->Arg(135)
    ->Arg(14)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ConsoleLoadTelemetry)
    ->Arg(135)
    ->Arg(14)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
