#pragma once
// A protocol-exact tester behind a real pseudo-terminal: the console opens DevicePath() like a
// serial port. One thread of its own serves the terminal; every public method may be called
// from any thread while it runs.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/CellModel.h"
#include "sim/DischargeModel.h"
#include "sim/Faults.h"
#include "sim/Registers.h"
#include "sim/TesterProtocol.h"

namespace platform {
class PseudoTerminal;
}

namespace sim {

// A read answer that the tester put on the wire (also when late or with a corrupted trailer).
struct SentAnswer {
    uint8_t code;     // the read it answers, 0x10 to 0x19
    AnswerData data;  // d1 d2 d3 as sent
    bool late;
};

struct Options {
    double acceleration = 1.0;  // model seconds per real second
    // Above 0: the model's clock moves this far at each status read and not with real time, so
    // that two clients sending the same requests get the same answers.
    double stepPerStatusRead_s = 0;
    // 0: answer at once; else model the wire at this baud (10 bits per byte)
    uint32_t paceBaud = 0;
    // A Start shown late: the test runs at once, but this many status reads (one per poll cycle
    // of the console) still answer 0, and State() shows 0 alike. Every status read that the
    // tester carries out counts, also one whose answer a fault then loses.
    uint32_t startLatePolls = 0;
    // An end of the test's own shown late, as a real tester shows it: at the cutoff, with the cell
    // flat or on time the load goes off at once (0 A, the voltage risen by I×R), but this many
    // status reads still answer 1. A Stop shows at once.
    uint32_t stopLatePolls = 0;
    // At start-up: the current setpoint in hundredths of an ampere; none leaves it at 0.
    std::optional<uint32_t> currentSetpoint_cA;
    // At start-up a test at that setpoint has been running for this many model seconds, from a
    // full cell, no test-time setpoint; 0 to kLongestClockTime_s, and only with a setpoint.
    std::optional<double> runningSince_s;
    CellModel cell;
    FaultOptions faults;
    size_t logLimit = 100000;  // frames kept by Requests(), and 8 times as many bytes by WireIn()
};

class PtyTester {
  public:
    // Opens the terminal and starts serving it; throws std::system_error when no terminal can be
    // had, std::invalid_argument for a running test without a setpoint or out of the clock's
    // range.
    explicit PtyTester(const Options& options = {});
    ~PtyTester();  // stops its thread, closes the terminal
    PtyTester(const PtyTester&) = delete;
    PtyTester& operator=(const PtyTester&) = delete;

    // The terminal the console opens, e.g. /dev/pts/7; empty while vanished.
    std::string DevicePath() const;

    // Registers as they would be answered now (the status as shown, late after a Start).
    Registers State() const;
    // Puts exact values in place, the status shown at once: with the test off they stay exactly
    // so (no drift) until a test starts; with it on, the model goes on from them.
    void SetRegisters(const Registers& registers);

    // Replaces the random faults and restarts their generator from the new seed.
    void SetFaults(const FaultOptions& faults);
    // The next `count` answers get this fault and no other (deterministic, for tests).
    void ScriptFault(FaultKind kind, int count = 1);

    // Every complete request frame received, in order, logged once the tester has carried it
    // out (its effect is in State(), its answer and faults decided).
    std::vector<std::vector<uint8_t>> Requests() const;
    std::vector<uint8_t> WireIn() const;  // every byte received, in order
    // Blocks until `count` frames were logged since the last ClearLog(), or `bound` passes;
    // true when they were.
    bool WaitForRequests(size_t count, std::chrono::milliseconds bound) const;
    void ClearLog();  // forgets Requests() and WireIn()
    // The read answers sent since the last call, oldest first (at most the last logLimit).
    std::vector<SentAnswer> TakeAnswers();
    FaultCounters Counters() const;

    // Unplugged: the terminal goes away, the console's reads and writes on it fail. Answers in
    // progress are lost; the model goes on.
    void Vanish();
    // Plugged in again: a new terminal whose DevicePath() differs from the last one (a present
    // terminal vanishes first).
    void Reappear();

  private:
    using Clock = std::chrono::steady_clock;
    class Server;  // the serving thread's state and loop (PtyTester.cpp)

    // Called with mutex_ held. The model moves lazily, so reading it moves it too.
    void AdvanceModel(Clock::time_point now) const;
    void LogRequest(const std::vector<uint8_t>& frame);
    void LogWire(const uint8_t* bytes, size_t count);
    void LogAnswer(uint8_t code, const std::vector<uint8_t>& answer, bool late);

    // Called with lifecycle_ held.
    void StartServing();
    void StopServing();

    const Options options_;  // as constructed; the faults there are only the first ones

    mutable std::mutex lifecycle_;  // orders construction, Vanish, Reappear and destruction
    // Guarded by lifecycle_; the serving thread uses *terminal_ without a lock while it runs.
    std::unique_ptr<platform::PseudoTerminal> terminal_;
    std::thread server_;
    std::atomic<bool> stop_{false};
    std::string lastPath_;

    // State below is protected by mutex_. The serving thread never holds it while it waits,
    // sleeps or writes.
    mutable std::mutex mutex_;
    mutable std::condition_variable requestLogged_;
    mutable DischargeModel model_;
    mutable Clock::time_point modelTime_;  // real time up to which the model has been advanced
    FaultInjector faults_;
    FaultCounters counters_;
    std::deque<std::vector<uint8_t>> requests_;
    std::deque<uint8_t> wireIn_;
    std::deque<SentAnswer> answers_;
    size_t requestsSinceClear_ = 0;
    std::string devicePath_;
};

}  // namespace sim
