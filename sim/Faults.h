#pragma once
// Faults that the simulated tester puts into its answers: drawn at random per answer from a
// seeded generator, or scripted for the next answers. Pure: no clock, no I/O, no lock.

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

namespace sim {

enum class FaultKind { Noise, Drop, CorruptTrailer, Late, Silence };

struct FaultOptions {
    double noise = 0;  // probability of 1..3 noise bytes before an answer (never 0xCA or 0x6F)
    double drop = 0;   // probability that a request gets no answer
    double corruptTrailer = 0;  // probability that an answer's last byte is wrong
    double late = 0;            // probability that an answer comes late
    uint32_t lateMs = 700;      // delay of a late answer, beyond the console's 500 ms wait
    bool silent = false;        // answer nothing at all
    uint64_t seed = 1;
};

struct FaultCounters {
    uint64_t noise = 0, drop = 0, corruptTrailer = 0, late = 0, silence = 0, answers = 0,
             requests = 0;
};

// The faults of one answer.
struct AnswerFaults {
    bool send = true;            // false: dropped, or the tester is silent
    std::vector<uint8_t> noise;  // sent ahead of the answer
    bool corruptTrailer = false;
    bool late = false;
};

class FaultInjector {
  public:
    explicit FaultInjector(const FaultOptions& options = {});

    // Replaces the options and restarts the generator from their seed.
    void SetOptions(const FaultOptions& options);
    const FaultOptions& Options() const { return options_; }

    // The next `count` answers get `kind` and nothing else, ahead of any random fault.
    void Script(FaultKind kind, int count = 1);

    // Decides the faults of the next answer and counts them in `counters`.
    AnswerFaults Next(FaultCounters& counters);

  private:
    bool Chance(double probability);
    std::vector<uint8_t> NoiseBytes();

    FaultOptions options_;
    std::mt19937_64 random_;
    std::deque<FaultKind> script_;
};

// The bytes that go on the wire for `answer` with `faults` (noise first, then the answer with its
// last byte changed when the trailer is corrupted). Empty when the answer is not sent.
std::vector<uint8_t> WireBytes(const AnswerFaults& faults, const std::vector<uint8_t>& answer);

}  // namespace sim
