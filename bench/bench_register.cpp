// The register at the size of a busy lab: 10 000 cells of 10 tests each (100 000 tests) in a
// SQLite file in the temporary folder, built once per run in one transaction.
// BM_RecordVerdict/100000 records one more verdict, in its own transaction flushed to disk as
// kelvo-run's is (ms_per_record, goal at most 5); BM_ListCells/10000 lists every cell with its
// figures, as kelvo-cells list and the Cells window do (ms_per_list, goal at most 100).
//
// BM_RecordVerdictPostgres and BM_ListCellsPostgres do the same on a PostgreSQL server that the
// program starts (commits flushed to disk, a unix socket), a record going through the outbox as
// every record for a server does; with the same goals. Skipped when no server can be started.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>

#include "records/Register.h"
#include "tests/fixtures/PostgresServer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTestsPerCell = 10;

// A discharge of `cell` ending `index` hours after the first, on one of eight ports.
TTestSummary Verdict(int cell, int index) {
    TTestSummary s;
    s.Reason = index % 4 == 3 ? TEndReason::Operator : TEndReason::Cutoff;
    // 1 January 2026, 08:00 local (days since 1899-12-30), an hour per test.
    s.Start = {46023.0 + 8.0 / 24 + index / 24.0, 60};
    s.End = {s.Start.DateTime + 0.9 / 24, 60};
    s.DurationS = 3240;
    s.Ah = 2.5 - 0.001 * (index % 500);
    s.Wh = s.Ah * 3.7;
    s.MeanV = 3.7, s.MinV = 3.0, s.MaxV = 4.2, s.MeanA = s.Ah / 0.9, s.MaxTempC = 31;
    s.InternalResistanceOhm = 0.04 + 0.0001 * (cell % 100);
    s.Port = "ttyUSB" + std::to_string(cell % 8);
    s.Log =
        "/home/lab/Kelvo logs/Log_" + std::to_string(cell) + "_" + std::to_string(index) + ".csv";
    s.Logs = {s.Log};
    s.Cell = "cell-" + std::to_string(100000 + cell);
    s.Station = "bench-1";
    return s;
}

// A folder of the run's own in the temporary folder, removed at exit.
const fs::path& RunFolder() {
    struct TFolder {
        fs::path Path = fs::temp_directory_path() /
                        ("kelvo-bench-register-" + std::to_string(std::random_device{}()));
        TFolder() { fs::create_directories(Path); }
        ~TFolder() {
            std::error_code error;
            fs::remove_all(Path, error);
        }
    };
    static const TFolder folder;
    return folder.Path;
}

// The server of the Postgres benchmarks, started on first use; null when it cannot be (`why`).
TPostgresServer* Server(std::string& why) {
    static const std::unique_ptr<TPostgresServer> server = [] {
        // The outbox of every record for a server lives in the default register file: here, not
        // the user's.
        setenv("XDG_DATA_HOME", (RunFolder() / "data").c_str(), 1);
        return std::make_unique<TPostgresServer>(/*durable=*/true);
    }();
    why = server->Failure();
    return why.empty() ? server.get() : nullptr;
}

// The register of `cells` cells at `location`, made on first use and kept for the run.
class TBigRegister {
  public:
    TBigRegister(const std::string& location, int cells) {
        FRegister = TRegister::Open(location);
        std::vector<TRegister::TToRecord> tests;
        tests.reserve(static_cast<size_t>(cells) * kTestsPerCell);
        // Each cell's tests at their own hours: test i of cell c ends at hour c + i * cells.
        for (int i = 0; i < kTestsPerCell; ++i) {
            for (int c = 0; c < cells; ++c) {
                tests.push_back({Verdict(c, c + i * cells), "/home/lab/Kelvo logs/v.json"});
            }
        }
        const auto start = std::chrono::steady_clock::now();
        FRegister->RecordAll(tests);
        std::fprintf(
            stderr, "bench_register: %d cells, %zu tests recorded in %.1f s\n", cells, tests.size(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        FNextIndex = cells * kTestsPerCell;
        FCells = cells;
    }

    TRegister& Register() { return *FRegister; }
    // A test not yet in the register, of one of its cells.
    TTestSummary NextVerdict() {
        const int index = FNextIndex++;
        return Verdict(index % FCells, index);
    }

    // In a SQLite file.
    static TBigRegister& InFile(int cells) {
        static std::map<int, std::unique_ptr<TBigRegister>> made;
        auto& one = made[cells];
        if (!one) {
            const fs::path file = RunFolder() / ("register-" + std::to_string(cells) + ".sqlite");
            one = std::make_unique<TBigRegister>(file.string(), cells);
        }
        return *one;
    }
    // In a database of its own on the server; null when there is no server (`why`).
    static TBigRegister* OnServer(int cells, std::string& why) {
        TPostgresServer* server = Server(why);
        if (server == nullptr) return nullptr;
        static std::map<int, std::unique_ptr<TBigRegister>> made;
        auto& one = made[cells];
        if (!one) {
            const std::string database = "register_" + std::to_string(cells);
            if (!server->CreateDatabase(database)) {
                why = "cannot make the database " + database;
                return nullptr;
            }
            one = std::make_unique<TBigRegister>(server->Location(database), cells);
        }
        return one.get();
    }

  private:
    std::unique_ptr<TRegister> FRegister;
    int FCells = 0;
    int FNextIndex = 0;
};

void RecordVerdicts(benchmark::State& state, TBigRegister& big) {
    double seconds = 0;
    for (auto _ : state) {
        const TTestSummary verdict = big.NextVerdict();
        const auto start = std::chrono::steady_clock::now();
        const TRecordOutcome outcome = big.Register().Record(verdict, "");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (outcome != TRecordOutcome::Added) {
            state.SkipWithError("a new verdict was taken as already there");
            return;
        }
    }
    state.counters["ms_per_record"] = seconds * 1000 / static_cast<double>(state.iterations());
}

void ListCells(benchmark::State& state, TBigRegister& big) {
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::vector<TCellSummary> cells = big.Register().Cells();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (cells.size() != static_cast<size_t>(state.range(0))) {
            state.SkipWithError("the list does not hold every cell");
            return;
        }
        benchmark::DoNotOptimize(cells.data());
    }
    state.counters["ms_per_list"] = seconds * 1000 / static_cast<double>(state.iterations());
}

void BM_RecordVerdict(benchmark::State& state) {
    RecordVerdicts(state, TBigRegister::InFile(static_cast<int>(state.range(0)) / kTestsPerCell));
}
BENCHMARK(BM_RecordVerdict)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ListCells(benchmark::State& state) {
    ListCells(state, TBigRegister::InFile(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_ListCells)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_RecordVerdictPostgres(benchmark::State& state) {
    std::string why;
    TBigRegister* big =
        TBigRegister::OnServer(static_cast<int>(state.range(0)) / kTestsPerCell, why);
    if (big == nullptr) {
        state.SkipWithError(("no PostgreSQL server: " + why).c_str());
        return;
    }
    RecordVerdicts(state, *big);
}
BENCHMARK(BM_RecordVerdictPostgres)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ListCellsPostgres(benchmark::State& state) {
    std::string why;
    TBigRegister* big = TBigRegister::OnServer(static_cast<int>(state.range(0)), why);
    if (big == nullptr) {
        state.SkipWithError(("no PostgreSQL server: " + why).c_str());
        return;
    }
    ListCells(state, *big);
}
BENCHMARK(BM_ListCellsPostgres)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
