// Grouping cells into a pack: a greedy deal, swaps while any improves, and for small inputs an
// exhaustive search with bounds (see Pack.h for what each guarantees).
#include "records/Pack.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

constexpr double kIrEps = 1e-9;  // IR measures closer than this are equal
constexpr int kExactMaxCells = 24;
// Nodes of the exhaustive search, about 0.1 s. Up to 12 cells it always completes: they have
// 62 370 groupings at most (5S2P of 12), each 13 nodes deep.
constexpr int64_t kExactMaxNodes = 3'000'000;
// Work for capacity and spread, then for the IR measure, in subsets, pairs of groups and
// candidate swaps examined: a few tenths of a second at most.
constexpr int64_t kBalanceWork = 40'000'000;
constexpr int64_t kIrMaxWork = 20'000'000;
// Rounds of random steps without a better grouping before the search for one stops.
constexpr int kStaleRounds = 2000;
// Two-for-two swaps with the unused cells only while their pairs stay this few.
constexpr size_t kMaxUnusedPairs = 50'000;
constexpr int64_t kNoTotal = std::numeric_limits<int64_t>::max();

// The order of the output, and of the work: it makes the result independent of the input order.
bool Stronger(const TPackCell& a, const TPackCell& b) {
    if (a.CapacityMah != b.CapacityMah) return a.CapacityMah > b.CapacityMah;
    if (a.Id != b.Id) return a.Id < b.Id;
    if (a.IrMohm.has_value() != b.IrMohm.has_value()) return a.IrMohm.has_value();
    return a.IrMohm.value_or(0) < b.IrMohm.value_or(0);
}

// A grouping's measures (Pack.h): the smallest total, the spread, the IR measure.
struct TScore {
    int64_t Min = 0;
    int64_t Spread = 0;
    double Ir = 0;
};

bool Better(const TScore& a, const TScore& b) {
    if (a.Min != b.Min) return a.Min > b.Min;
    if (a.Spread != b.Spread) return a.Spread < b.Spread;
    return a.Ir < b.Ir - kIrEps;
}

// The known IRs of a group, for the IR measure. Unknown ones are NaN and left out.
struct TIrRange {
    double Lo = std::numeric_limits<double>::infinity();
    double Hi = -std::numeric_limits<double>::infinity();
    void Add(double ir) {
        if (std::isnan(ir)) return;
        Lo = std::min(Lo, ir);
        Hi = std::max(Hi, ir);
    }
    double Width() const { return Hi > Lo ? Hi - Lo : 0; }
    bool operator==(const TIrRange&) const = default;
};

// The cells, strongest first, as the searches use them.
struct TCells {
    std::vector<int64_t> Cap;
    std::vector<double> Ir;  // NaN: unknown
    int Series = 0;
    int Parallel = 0;
    int64_t LeastSpread = 0;  // SpreadBound's, once the cells are in
    int Count() const { return static_cast<int>(Cap.size()); }
    int Used() const { return Series * Parallel; }
};

// Groups as lists of cells; index Series holds the unused cells.
using TMembers = std::vector<std::vector<int>>;

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// No grouping's capacity is above the strongest cells' mean.
int64_t CapacityBound(const TCells& cells) {
    int64_t strongest = 0;
    for (int c = 0; c < cells.Used(); ++c) strongest += cells.Cap[c];
    return FloorDiv(strongest, cells.Series);
}

// The spread that no grouping can beat: 1 when every cell is used and their total does not divide
// by the number of groups, else 0 (with cells to leave out, a spread of 0 may be within reach).
int64_t SpreadBound(const TCells& cells) {
    if (cells.Count() != cells.Used()) return 0;
    const int64_t total = std::accumulate(cells.Cap.begin(), cells.Cap.end(), int64_t{0});
    return total % cells.Series == 0 ? 0 : 1;
}

// Nothing beats that capacity with that spread.
bool Unbeatable(const TCells& cells, int64_t min, int64_t spread) {
    return min == CapacityBound(cells) && spread <= cells.LeastSpread;
}

TScore ScoreOf(const TCells& cells, const TMembers& members) {
    TScore score{kNoTotal, 0, 0};
    int64_t max = std::numeric_limits<int64_t>::min();
    for (int g = 0; g < cells.Series; ++g) {
        int64_t total = 0;
        TIrRange range;
        for (int c : members[g]) {
            total += cells.Cap[c];
            range.Add(cells.Ir[c]);
        }
        score.Min = std::min(score.Min, total);
        max = std::max(max, total);
        score.Ir += range.Width();
    }
    score.Spread = max - score.Min;
    return score;
}

// One cell or two of a group (B < 0 for one), by their places in the group, and their total.
struct TSubset {
    int64_t Sum = 0;
    int A = 0;
    int B = -1;
    bool operator<(const TSubset& o) const {
        return Sum != o.Sum ? Sum < o.Sum : (A != o.A ? A < o.A : B < o.B);
    }
};

// A small generator of our own: the same sequence on every platform and library.
class TRandom {
  public:
    int Below(int n) {
        FState ^= FState >> 12;
        FState ^= FState << 25;
        FState ^= FState >> 27;
        return static_cast<int>((FState * 2685821657736338717ULL >> 33) % static_cast<uint64_t>(n));
    }

  private:
    uint64_t FState = 0x9E3779B97F4A7C15ULL;
};

// The greedy deal, then swaps: Improve() works on capacity and spread, MatchIr() then on the IR
// measure without giving up either.
class TLocalSearch {
  public:
    explicit TLocalSearch(const TCells& cells)
        : FCells(cells),
          FS(cells.Series),
          FMembers(FS + 1),
          FTotal(FS, 0),
          FCache(FS + 1),
          FVersion(FS + 1, 0) {
        for (auto& seen : FSeen) seen.assign(static_cast<size_t>(FS) * FS, {~0ULL, ~0ULL});
        // Strongest first, each to the group with the smallest total that has room.
        for (int c = 0; c < cells.Used(); ++c) {
            int to = -1;
            for (int g = 0; g < FS; ++g) {
                if (static_cast<int>(FMembers[g].size()) < cells.Parallel &&
                    (to < 0 || FTotal[g] < FTotal[to])) {
                    to = g;
                }
            }
            FMembers[to].push_back(c);
            FTotal[to] += cells.Cap[c];
        }
        for (int c = cells.Used(); c < cells.Count(); ++c) FMembers[FS].push_back(c);
        for (int64_t t : FTotal) FSum += t;
        FBestMin = CapacityBound(cells);
    }

    const TMembers& Members() const { return FMembers; }

    // Swaps while any improves; then, until capacity and spread can be shown the best or the
    // work runs out, a few random swaps followed by the same, kept when no worse.
    void Improve() {
        if (FCells.Parallel == 1 && FMembers[FS].empty()) return;  // one grouping only
        Descend();
        TBalance best = Current();
        FSwaps.clear();
        for (int stale = 0; stale < kStaleRounds && FWork < kBalanceWork &&
                            !Unbeatable(FCells, best.Min, best.Spread);) {
            Kick();
            Descend();
            const TBalance now = Current();
            if (now.Min < best.Min || (now.Min == best.Min && now.Spread > best.Spread)) {
                // Worse: undone, last swap first.
                const std::vector<TSwap> undo(FSwaps.rbegin(), FSwaps.rend());
                for (const TSwap& s : undo) Swap(s.I, s.A, s.J, s.B);
                ++stale;
            } else {
                stale = now.Min == best.Min && now.Spread == best.Spread ? stale + 1 : 0;
                best = now;
            }
            FSwaps.clear();
        }
    }

    // Swaps that lower the IR measure most while keeping every total within the smallest and
    // largest total now.
    void MatchIr() {
        const auto [lo, hi] = std::minmax_element(FTotal.begin(), FTotal.end());
        FBand = {*lo, *hi};
        int64_t work = 0;
        for (bool moved = true; moved && work < kIrMaxWork;) {
            moved = false;
            for (int k = 1; k <= 2; ++k) {
                for (int i = 0; i < FS; ++i) {
                    for (int j = i + 1; j <= FS; ++j) moved |= SwapForIr(i, j, k, work);
                }
            }
        }
    }

  private:
    // Capacity, spread, and then how unevenly the totals lie: the change in S·Σt² − (Σt)², which
    // lets swaps go on among groups that are neither the smallest nor the largest. Once the
    // capacity is the strongest cells' mean, which nothing can raise, the change in
    // Σ(t − smallest)² instead: it brings groups down to the smallest with weaker unused cells.
    // (Before, it would lower the used total and with it the capacity the groups can reach.)
    struct TBalance {
        int64_t Min = 0;
        int64_t Spread = 0;
        int64_t Unevenness = 0;
        bool operator<(const TBalance& o) const {  // better
            if (Min != o.Min) return Min > o.Min;
            if (Spread != o.Spread) return Spread < o.Spread;
            return Unevenness < o.Unevenness;
        }
    };

    // What is kept of a group between swaps: its subsets by total, its known IRs in order.
    struct TCache {
        bool Fresh[2] = {false, false};
        std::vector<TSubset> Subsets[2];
        bool IrFresh = false;
        std::vector<std::pair<double, int>> Ir;  // (IR, place in the group), lowest first
    };

    // The subsets of k cells of group g that contain the cell at `place` (every one for -1).
    void AddSubsets(int g, int k, int place, std::vector<TSubset>& subsets) const {
        const std::vector<int>& m = FMembers[g];
        const int n = static_cast<int>(m.size());
        if (k == 2 && g == FS && static_cast<size_t>(n) * (n - 1) / 2 > kMaxUnusedPairs) return;
        for (int a = 0; a < n; ++a) {
            if (k == 1) {
                if (place < 0 || a == place) subsets.push_back({FCells.Cap[m[a]], a, -1});
                continue;
            }
            for (int b = a + 1; b < n; ++b) {
                if (place < 0 || a == place || b == place) {
                    subsets.push_back({FCells.Cap[m[a]] + FCells.Cap[m[b]], a, b});
                }
            }
        }
    }

    const std::vector<TSubset>& Subsets(int g, int k) {
        TCache& cache = FCache[g];
        std::vector<TSubset>& subsets = cache.Subsets[k - 1];
        if (!cache.Fresh[k - 1]) {
            cache.Fresh[k - 1] = true;
            subsets.clear();
            AddSubsets(g, k, -1, subsets);
            std::sort(subsets.begin(), subsets.end());
            FWork += static_cast<int64_t>(subsets.size());
        }
        return subsets;
    }

    // After the cell at `place` of group g changed: its subsets are taken out and put back in
    // order, cheaper than sorting them all again.
    void UpdateSubsets(int g, int place) {
        for (int k = 1; k <= 2; ++k) {
            if (!FCache[g].Fresh[k - 1]) continue;
            std::vector<TSubset>& subsets = FCache[g].Subsets[k - 1];
            FChangedSubsets.clear();
            AddSubsets(g, k, place, FChangedSubsets);
            if (FChangedSubsets.empty()) continue;
            std::sort(FChangedSubsets.begin(), FChangedSubsets.end());
            std::erase_if(subsets, [&](const TSubset& x) { return x.A == place || x.B == place; });
            FMerged.clear();
            std::merge(subsets.begin(), subsets.end(), FChangedSubsets.begin(),
                       FChangedSubsets.end(), std::back_inserter(FMerged));
            subsets.swap(FMerged);
            FWork += static_cast<int64_t>(subsets.size()) / 8;
        }
    }

    const std::vector<std::pair<double, int>>& IrOrder(int g) {
        TCache& cache = FCache[g];
        if (!cache.IrFresh) {
            cache.IrFresh = true;
            cache.Ir.clear();
            for (int a = 0; a < static_cast<int>(FMembers[g].size()); ++a) {
                const double ir = FCells.Ir[FMembers[g][a]];
                if (!std::isnan(ir)) cache.Ir.push_back({ir, a});
            }
            std::sort(cache.Ir.begin(), cache.Ir.end());
        }
        return cache.Ir;
    }

    TBalance Current() const {
        const auto [lo, hi] = std::minmax_element(FTotal.begin(), FTotal.end());
        return {*lo, *hi - *lo, 0};
    }

    // The smallest and largest totals of the groups other than i and j.
    std::pair<int64_t, int64_t> Others(int i, int j) const {
        int64_t lo = kNoTotal, hi = std::numeric_limits<int64_t>::min();
        for (int g = 0; g < FS; ++g) {
            if (g == i || g == j) continue;
            lo = std::min(lo, FTotal[g]);
            hi = std::max(hi, FTotal[g]);
        }
        return {lo, hi};
    }

    // The balance after group i's total changes by di and group j's (j < FS) by dj.
    TBalance After(std::pair<int64_t, int64_t> others, int i, int64_t di, int j, int64_t dj) const {
        int64_t lo = std::min(others.first, FTotal[i] + di);
        int64_t hi = std::max(others.second, FTotal[i] + di);
        int64_t squares = 2 * FTotal[i] * di + di * di, sum = di;
        if (j < FS) {
            lo = std::min(lo, FTotal[j] + dj);
            hi = std::max(hi, FTotal[j] + dj);
            squares += 2 * FTotal[j] * dj + dj * dj;
            sum += dj;
        }
        const int64_t uneven =
            lo == FBestMin ? squares - 2 * lo * sum : FS * squares - (2 * FSum * sum + sum * sum);
        return {lo, hi - lo, uneven};
    }

    void Swap(int i, int a, int j, int b) {
        FSwaps.push_back({i, a, j, b});
        const int64_t d = FCells.Cap[FMembers[i][a]] - FCells.Cap[FMembers[j][b]];
        std::swap(FMembers[i][a], FMembers[j][b]);
        UpdateSubsets(i, a);
        UpdateSubsets(j, b);
        for (int g : {i, j}) {
            FCache[g].IrFresh = false;
            ++FVersion[g];
        }
        if (i < FS) FTotal[i] -= d, FSum -= d;
        if (j < FS) FTotal[j] += d, FSum += d;
    }

    void Apply(int i, TSubset x, int j, TSubset y) {
        Swap(i, x.A, j, y.A);
        if (x.B >= 0) Swap(i, x.B, j, y.B);
    }

    // Swaps of one cell for one, and of two for two when those run out, while any improves.
    void Descend() {
        for (int k = 1; k <= 2 && FWork < kBalanceWork;) {
            bool moved = false;
            for (int i = 0; i < FS; ++i) {
                for (int j = i + 1; j <= FS; ++j) {
                    moved |= j < FS ? SwapGroups(i, j, k) : SwapUnused(i, k);
                }
            }
            k = moved ? 1 : k + 1;
        }
    }

    // One or two swaps of a random cell for one of close capacity in another group or among the
    // unused: a small step off the grouping, which the swaps that follow mostly take back, but
    // not always the same way.
    void Kick() {
        const int unused = FMembers[FS].empty() ? 0 : 1;
        if (FS + unused < 2) return;
        for (int n = 1 + FRandom.Below(2); n > 0; --n) {
            const int i = FRandom.Below(FS);
            int j = FRandom.Below(FS + unused - 1);
            if (j >= i) ++j;
            const int a = FRandom.Below(static_cast<int>(FMembers[i].size()));
            const std::vector<TSubset>& ys = Subsets(j, 1);
            const int64_t cap = FCells.Cap[FMembers[i][a]];
            const auto at = std::partition_point(ys.begin(), ys.end(),
                                                 [&](const TSubset& y) { return y.Sum < cap; });
            const int near = static_cast<int>(at - ys.begin()) - 2 + FRandom.Below(4);
            Swap(i, a, j, ys[std::clamp(near, 0, static_cast<int>(ys.size()) - 1)].A);
        }
    }

    // Between two groups the best swap moves the difference closest to half the gap between
    // their totals: that leaves both nearest the middle, which is best by every measure at once.
    bool SwapGroups(int i, int j, int k) {
        // Whether a pair has a swap that helps depends on its cells only: a pair found without
        // one is looked at again only once either group changed.
        const std::pair<uint64_t, uint64_t> versions{FVersion[i], FVersion[j]};
        std::pair<uint64_t, uint64_t>& seen = FSeen[k - 1][static_cast<size_t>(i) * FS + j];
        ++FWork;
        if (seen == versions) return false;
        if (FTotal[i] < FTotal[j]) std::swap(i, j);
        const int64_t gap = FTotal[i] - FTotal[j];
        seen = versions;
        if (gap < 2) return false;
        const std::vector<TSubset>& xs = Subsets(i, k);
        const std::vector<TSubset>& ys = Subsets(j, k);
        FWork += static_cast<int64_t>(xs.size() + ys.size());
        int64_t bestOff = gap;  // |2d − gap| < gap means 0 < d < gap
        const TSubset *bx = nullptr, *by = nullptr;
        auto at = ys.begin();  // the first y of 2y ≥ 2x − gap, which only grows with x
        for (const TSubset& x : xs) {
            while (at != ys.end() && 2 * at->Sum < 2 * x.Sum - gap) ++at;
            for (auto y = at == ys.begin() ? at : at - 1; y != ys.end() && y <= at; ++y) {
                const int64_t off = std::abs(2 * (x.Sum - y->Sum) - gap);
                if (off < bestOff) {
                    bestOff = off;
                    bx = &x;
                    by = &*y;
                }
            }
        }
        if (bx == nullptr) return false;
        const int64_t d = bx->Sum - by->Sum;
        if (!(After(Others(i, j), i, -d, j, d) < Current())) return false;
        Apply(i, *bx, j, *by);
        return true;
    }

    // With the unused cells: the group's new total is best near the other groups' mean or at
    // their smallest or largest total; the unused cells nearest each aim are tried.
    bool SwapUnused(int i, int k) {
        if (FS < 2) return false;  // one group: the strongest cells, which it has from the deal
        const std::vector<TSubset>& xs = Subsets(i, k);
        const std::vector<TSubset>& ys = Subsets(FS, k);
        if (ys.empty()) return false;
        FWork += static_cast<int64_t>(xs.size() + ys.size());
        const auto others = Others(i, FS);
        const int64_t aims[] = {(FSum - FTotal[i]) / (FS - 1), others.first, others.second};
        TBalance best = Current();
        const TSubset *bx = nullptr, *by = nullptr;
        std::vector<TSubset>::const_iterator ats[] = {ys.begin(), ys.begin(), ys.begin()};
        for (const TSubset& x : xs) {
            for (int a = 0; a < 3; ++a) {
                const int64_t want = x.Sum + aims[a] - FTotal[i];
                auto& at = ats[a];  // the first y ≥ want, which only grows with x
                while (at != ys.end() && at->Sum < want) ++at;
                for (auto y = at == ys.begin() ? at : at - 1; y != ys.end() && y <= at; ++y) {
                    const TBalance after = After(others, i, y->Sum - x.Sum, FS, 0);
                    if (after < best) {
                        best = after;
                        bx = &x;
                        by = &*y;
                    }
                }
            }
        }
        if (bx == nullptr) return false;
        Apply(i, *bx, FS, *by);
        return true;
    }

    // Group g's IR measure with its subset `out` replaced by the cells `in` of group `from`.
    double WidthAfter(int g, const TSubset& out, int from, const TSubset& in) {
        const std::vector<std::pair<double, int>>& order = IrOrder(g);
        const auto stays = [&](const std::pair<double, int>& e) {
            return e.second != out.A && e.second != out.B;
        };
        TIrRange range;
        if (const auto lo = std::find_if(order.begin(), order.end(), stays); lo != order.end()) {
            range.Add(lo->first);
        }
        if (const auto hi = std::find_if(order.rbegin(), order.rend(), stays); hi != order.rend()) {
            range.Add(hi->first);
        }
        range.Add(FCells.Ir[FMembers[from][in.A]]);
        if (in.B >= 0) range.Add(FCells.Ir[FMembers[from][in.B]]);
        return range.Width();
    }

    double Width(int g) {
        const std::vector<std::pair<double, int>>& order = IrOrder(g);
        return order.empty() ? 0 : order.back().first - order.front().first;
    }

    bool SwapForIr(int i, int j, int k, int64_t& work) {
        const std::vector<TSubset>& xs = Subsets(i, k);
        const std::vector<TSubset>& ys = Subsets(j, k);
        const auto [lo, hi] = FBand;
        work += 1 + static_cast<int64_t>(xs.size() + ys.size());
        const double before = Width(i) + (j < FS ? Width(j) : 0);
        double bestGain = kIrEps;
        const TSubset *bx = nullptr, *by = nullptr;
        auto from = ys.begin();  // the first y ≥ yLo, which only grows with x
        for (const TSubset& x : xs) {
            // Group i's new total FTotal[i] − x + y within [lo, hi], and group j's likewise.
            int64_t yLo = x.Sum + lo - FTotal[i], yHi = x.Sum + hi - FTotal[i];
            if (j < FS) {
                yLo = std::max(yLo, x.Sum + FTotal[j] - hi);
                yHi = std::min(yHi, x.Sum + FTotal[j] - lo);
            }
            while (from != ys.end() && from->Sum < yLo) ++from;
            for (auto y = from; y != ys.end() && y->Sum <= yHi && work < kIrMaxWork; ++y, ++work) {
                const double gain =
                    before - WidthAfter(i, x, j, *y) - (j < FS ? WidthAfter(j, *y, i, x) : 0);
                if (gain > bestGain) {
                    bestGain = gain;
                    bx = &x;
                    by = &*y;
                }
            }
        }
        if (bx == nullptr) return false;
        Apply(i, *bx, j, *by);
        return true;
    }

    const TCells& FCells;
    const int FS;
    TMembers FMembers;
    std::vector<int64_t> FTotal;
    int64_t FSum = 0;
    int64_t FBestMin = 0;  // CapacityBound()
    std::vector<TCache> FCache;
    std::pair<int64_t, int64_t> FBand;  // MatchIr keeps every total within these
    struct TSwap {
        int I, A, J, B;
    };
    std::vector<TSwap> FSwaps;       // since the last grouping kept
    std::vector<uint64_t> FVersion;  // per group, counts its changes
    // Per pair of groups, their versions when last found without a swap that helps.
    std::vector<std::pair<uint64_t, uint64_t>> FSeen[2];
    std::vector<TSubset> FChangedSubsets, FMerged;  // for UpdateSubsets
    int64_t FWork = 0;                              // see kBalanceWork
    TRandom FRandom;
};

// Every grouping, cells strongest first into each group with room or among the unused, cut
// short wherever bounds show nothing better can follow, within kExactMaxNodes.
class TExactSearch {
  public:
    explicit TExactSearch(const TCells& cells)
        : FCells(cells),
          FN(cells.Count()),
          FS(cells.Series),
          FPrefix(FN + 1, 0),
          FSize(FS, 0),
          FTotal(FS, 0),
          FRange(FS),
          FGroupOf(FN, 0) {
        for (int c = 0; c < FN; ++c) FPrefix[c + 1] = FPrefix[c] + cells.Cap[c];
    }

    // Looks for a grouping better than `incumbent`; true when the search was complete.
    bool Run(const TScore& incumbent) {
        FBestScore = incumbent;
        Place(0);
        return !FAborted;
    }

    // A better grouping, if one was found.
    std::optional<TMembers> Best() const {
        if (FBest.empty()) return std::nullopt;
        TMembers members(FS + 1);
        for (int c = 0; c < FN; ++c) members[FBest[c]].push_back(c);
        return members;
    }

  private:
    void Place(int pos) {
        if (FAborted) return;
        if (++FNodes > kExactMaxNodes) {
            FAborted = true;
            return;
        }
        const int p = FCells.Parallel;
        if (pos == FN) {
            const auto [lo, hi] = std::minmax_element(FTotal.begin(), FTotal.end());
            TScore score{*lo, *hi - *lo, 0};
            for (const TIrRange& r : FRange) score.Ir += r.Width();
            if (Better(score, FBestScore)) {
                FBestScore = score;
                FBest = FGroupOf;
            }
            return;
        }
        // Bounds: a group ends at most with the strongest cells left, at least with the weakest;
        // the smallest total is at most the mean; IR ranges only widen.
        int64_t minUp = kNoTotal, maxDown = std::numeric_limits<int64_t>::min(), placed = 0;
        int room = 0;
        double irDown = 0;
        for (int g = 0; g < FS; ++g) {
            const int left = p - FSize[g];
            minUp = std::min(minUp, FTotal[g] + FPrefix[pos + left] - FPrefix[pos]);
            maxDown = std::max(maxDown, FTotal[g] + FPrefix[FN] - FPrefix[FN - left]);
            placed += FTotal[g];
            room += left;
            irDown += FRange[g].Width();
        }
        minUp = std::min(minUp, FloorDiv(placed + FPrefix[pos + room] - FPrefix[pos], FS));
        if (minUp < FBestScore.Min) return;
        if (minUp == FBestScore.Min) {
            const int64_t spreadDown = maxDown - FBestScore.Min;
            if (spreadDown > FBestScore.Spread) return;
            if (spreadDown == FBestScore.Spread && irDown >= FBestScore.Ir - kIrEps) return;
        }

        // Groups alike so far lead to the same groupings: only the first of them is tried.
        std::vector<int> order;
        for (int g = 0; g < FS; ++g) {
            if (FSize[g] == p) continue;
            const bool alike = std::any_of(order.begin(), order.end(), [&](int h) {
                return FSize[h] == FSize[g] && FTotal[h] == FTotal[g] && FRange[h] == FRange[g];
            });
            if (!alike) order.push_back(g);
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return FTotal[a] < FTotal[b]; });
        for (int g : order) {
            const TIrRange range = FRange[g];
            ++FSize[g];
            FTotal[g] += FCells.Cap[pos];
            FRange[g].Add(FCells.Ir[pos]);
            FGroupOf[pos] = g;
            Place(pos + 1);
            --FSize[g];
            FTotal[g] -= FCells.Cap[pos];
            FRange[g] = range;
        }
        if (FUnused < FN - FCells.Used()) {
            ++FUnused;
            FGroupOf[pos] = FS;
            Place(pos + 1);
            --FUnused;
        }
    }

    const TCells& FCells;
    const int FN;
    const int FS;
    std::vector<int64_t> FPrefix;  // FPrefix[k]: the total of the k strongest cells
    std::vector<int> FSize;
    std::vector<int64_t> FTotal;
    std::vector<TIrRange> FRange;
    int FUnused = 0;
    std::vector<int> FGroupOf;  // per cell: its group, FS for unused
    std::vector<int> FBest;
    TScore FBestScore;
    int64_t FNodes = 0;
    bool FAborted = false;
};

TPackGroup GroupOf(const std::vector<TPackCell>& cells, const std::vector<int>& members) {
    TPackGroup group;
    double sum = 0, conductance = 0;
    int known = 0;
    bool shorted = false;
    for (int c : members) {
        const TPackCell& cell = cells[c];
        group.Cells.push_back(cell);
        group.CapacityMah += cell.CapacityMah;
        if (!cell.IrMohm) continue;
        const double ir = *cell.IrMohm;
        ++known;
        sum += ir;
        group.IrMohmMax = std::max(group.IrMohmMax.value_or(ir), ir);
        shorted |= ir <= 0;
        if (ir > 0) conductance += 1 / ir;
    }
    if (known > 0) {
        group.IrMohmMean = sum / known;
        group.IrMohmParallel = shorted ? 0 : 1 / conductance;
    }
    return group;
}

}  // namespace

TPack BuildPack(std::vector<TPackCell> cells, int series, int parallel) {
    if (series < 1 || parallel < 1) {
        throw std::invalid_argument(
            "a pack needs at least 1 group in series of at least 1 cell; "
            "asked for " +
            std::to_string(series) + "S" + std::to_string(parallel) + "P");
    }
    const int64_t needed = static_cast<int64_t>(series) * parallel;
    if (static_cast<int64_t>(cells.size()) < needed) {
        throw std::invalid_argument("a pack of " + std::to_string(series) + "S" +
                                    std::to_string(parallel) + "P needs " + std::to_string(needed) +
                                    " cells; there are " + std::to_string(cells.size()));
    }
    std::sort(cells.begin(), cells.end(), Stronger);

    TCells data{{}, {}, series, parallel};
    for (const TPackCell& cell : cells) {
        data.Cap.push_back(cell.CapacityMah);
        data.Ir.push_back(cell.IrMohm.value_or(std::numeric_limits<double>::quiet_NaN()));
    }
    data.LeastSpread = SpreadBound(data);
    TLocalSearch search(data);
    search.Improve();
    search.MatchIr();
    TMembers members = search.Members();
    TScore score = ScoreOf(data, members);

    const bool bound = Unbeatable(data, score.Min, score.Spread);
    bool proven = bound;
    if (data.Count() <= kExactMaxCells && !(bound && score.Ir <= kIrEps)) {
        TExactSearch exact(data);
        proven = exact.Run(score) || bound;
        if (const auto better = exact.Best()) members = *better;
    }

    for (std::vector<int>& m : members) std::sort(m.begin(), m.end());  // strongest first
    std::vector<int> order(series);
    for (int g = 0; g < series; ++g) order[g] = g;
    std::vector<int64_t> totals(series, 0);
    for (int g = 0; g < series; ++g) {
        for (int c : members[g]) totals[g] += data.Cap[c];
    }
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return totals[a] != totals[b] ? totals[a] > totals[b] : members[a] < members[b];
    });

    TPack pack;
    for (int g : order) pack.Groups.push_back(GroupOf(cells, members[g]));
    for (int c : members[series]) pack.Unused.push_back(cells[c]);
    score = ScoreOf(data, members);
    const int64_t used = std::accumulate(totals.begin(), totals.end(), int64_t{0});
    pack.PackCapacityMah = static_cast<int>(score.Min);
    pack.SpreadMah = static_cast<int>(score.Spread);
    pack.SpreadPct =
        used > 0 ? 100.0 * static_cast<double>(score.Spread) * series / static_cast<double>(used)
                 : 0;
    pack.LowerBoundMah = static_cast<int>(data.LeastSpread);
    pack.IrRangeSumMohm = score.Ir;
    pack.ProvenBest = proven;
    return pack;
}
