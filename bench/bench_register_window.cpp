// The Cells window opened on a register of N cells with a test each: built, its register opened
// and read by its worker, the first cell's tests and chart shown, and the first frame painted, on
// the offscreen platform. Reports ms_per_open (the goal for 10 000 cells: 500 ms at most). The
// register is made once per N, in a folder of its own, and read by every iteration.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDate>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <map>
#include <memory>

#include "app/CellsWindow.h"
#include "records/Register.h"

namespace {

// A register of `cells` cells named "cell 00001" ..., each with one test that ended at the
// cutoff, one in a hundred rated (a rating is a transaction of its own).
std::string RegisterOf(int cells) {
    static QTemporaryDir folder;
    static std::map<int, std::string> made;
    if (const auto found = made.find(cells); found != made.end()) return found->second;
    const std::string path = folder.filePath(QString("cells-%1.sqlite").arg(cells)).toStdString();
    const double firstDay = QDate(2024, 1, 1).toJulianDay() - QDate(1899, 12, 30).toJulianDay();
    std::vector<TRegister::TToRecord> tests;
    for (int i = 0; i < cells; ++i) {
        TTestSummary test;
        test.Reason = TEndReason::Cutoff;
        test.Start = {firstDay + i * 0.01, 60};
        test.End = {firstDay + i * 0.01 + 0.005, 60};
        test.DurationS = 432;
        test.Ah = 2.0 + (i % 97) * 0.01;
        test.Wh = test.Ah * 3.6;
        test.MeanA = test.Ah / 0.12;
        if (i % 3 != 0) test.InternalResistanceOhm = 0.030 + (i % 13) * 0.001;
        test.Port = "ttyUSB0";
        test.Log = "/logs/cell.csv";
        test.Logs = {test.Log};
        test.Cell = QString("cell %1").arg(i + 1, 5, 10, QChar('0')).toStdString();
        test.Station = "bench";
        tests.push_back({test, ""});
    }
    const std::unique_ptr<TRegister> reg = TRegister::Open(path);
    reg->RecordAll(tests);
    for (int i = 0; i < cells; i += 100) {
        reg->Rate(QString("cell %1").arg(i + 1, 5, 10, QChar('0')).toStdString(), 2.5);
    }
    made[cells] = path;
    return path;
}

void BM_OpenCellsWindow(benchmark::State& state) {
    const std::string path = RegisterOf(static_cast<int>(state.range(0)));
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto window = std::make_unique<TCellsWindow>([&] { return path; });
        window->Present();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            state.SkipWithError("the window was never shown");
            return;
        }
        // Its worker reads the register, the cells and then the first cell's tests: waited for
        // as they come, not by polling.
        if (window->Busy()) {
            QEventLoop settling;
            QObject::connect(window.get(), &TCellsWindow::Settled, &settling, &QEventLoop::quit);
            QTimer::singleShot(60000, &settling, &QEventLoop::quit);
            settling.exec();
        }
        if (window->Busy()) {
            state.SkipWithError("the register was never read");
            return;
        }
        window->repaint();  // the first frame with them, drawn now
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (window->SelectedCell().isEmpty()) {
            state.SkipWithError("no cell selected");
            return;
        }
        window.reset();
        QApplication::processEvents();
    }
    state.counters["ms_per_open"] = seconds * 1000 / static_cast<double>(state.iterations());
}

BENCHMARK(BM_OpenCellsWindow)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
