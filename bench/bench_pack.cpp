// Grouping cells into a pack: BuildPack on 1000 cells of ±10 % around 2500 mAh (IRs of 20 to
// 80 mΩ, a fixed seed) into 20S40P, so 200 stay unused. Reports ms_per_pack, which should stay
// under 2000, and spread_pct, the spread of the groups' totals as a percentage of their mean,
// which should stay under 0.05.
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "records/Pack.h"

namespace {

std::vector<TPackCell> Realistic(int count) {
    std::mt19937 random(20401000);
    std::uniform_int_distribution<int> capacity(2250, 2750);
    std::uniform_real_distribution<double> ir(20, 80);
    std::vector<TPackCell> cells;
    for (int c = 0; c < count; ++c) {
        const int mah = capacity(random);
        cells.push_back({"B" + std::to_string(c), mah, ir(random)});
    }
    return cells;
}

void BM_Pack(benchmark::State& state) {
    const std::vector<TPackCell> cells = Realistic(static_cast<int>(state.range(0)));
    double seconds = 0;
    TPack pack;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        pack = BuildPack(cells, 20, 40);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(pack.SpreadMah);
    }
    state.counters["ms_per_pack"] = seconds * 1000 / static_cast<double>(state.iterations());
    state.counters["spread_pct"] = pack.SpreadPct;
    state.counters["spread_mah"] = pack.SpreadMah;
    state.counters["proven_best"] = pack.ProvenBest ? 1 : 0;
}

BENCHMARK(BM_Pack)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
