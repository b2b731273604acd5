#include "sim/PtyTester.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "platform/PseudoTerminal.h"
#include "platform/Timing.h"
#include "sim/RequestParser.h"
#include "sim/TesterProtocol.h"

namespace sim {
namespace {

constexpr int64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr size_t kReadChunk = 256;

// Waits shorter than this for the last byte of an answer are kept without sleeping.
constexpr std::chrono::microseconds kKeepTimeBelow{150};

// The model as the tester is at start-up: a test running since then has already run that long.
DischargeModel StartUpModel(const Options& options) {
    DischargeModel model(options.cell, options.startLatePolls, options.stopLatePolls);
    if (options.currentSetpoint_cA) model.SetCurrentSetpoint(*options.currentSetpoint_cA);
    if (options.runningSince_s) {
        if (!options.currentSetpoint_cA) {
            throw std::invalid_argument("a test running since start-up needs a current setpoint");
        }
        const double since = *options.runningSince_s;
        // Also bounds the steps taken here: a test at 0 A would run for as long as asked.
        if (!(since >= 0 && since <= kLongestClockTime_s)) {
            throw std::invalid_argument("a test running since start-up runs at most 255:59:59");
        }
        model.StartedAgo(since);
    }
    return model;
}

}  // namespace

// The serving thread: reads the console's bytes, lets each request arrive after its line time,
// carries requests out one at a time (a request waits until the answer before it is out, as on
// a tester with one processor), and sends each answer at its time. Everything here belongs to
// the serving thread; the tester's shared state is reached through PtyTester under its mutex.
class PtyTester::Server {
  public:
    Server(PtyTester& tester, platform::PseudoTerminal& terminal)
        : tester_(tester), terminal_(terminal), baud_(tester.options_.paceBaud) {}

    void Run() {
        while (!tester_.stop_.load()) {
            const auto now = Clock::now();
            ReceiveArrived(now);
            if (!sending_ && !received_.empty()) TakeRequest(now);
            if (sending_) SendDue(now);
            if (!Listen(now)) return;
        }
    }

  private:
    struct Frame {
        RequestFrame bytes;
        Clock::time_point at;  // when the frame has fully arrived on the modelled wire
    };
    struct Answer {
        std::vector<uint8_t> bytes;
        size_t sent = 0;
        Clock::time_point start;  // when the first byte starts on the wire
    };

    // Time that `bytes` bytes take on the wire; zero without pacing.
    Clock::duration LineTime(int64_t bytes) const {
        if (baud_ == 0) return Clock::duration::zero();
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(bytes * kBitsPerByte * 1'000'000'000 / baud_));
    }

    void ReceiveArrived(Clock::time_point now) {
        while (!arriving_.empty() && arriving_.front().at <= now) {
            received_.push_back(arriving_.front());
            arriving_.pop_front();
        }
    }

    void TakeRequest(Clock::time_point now) {
        const Frame frame = received_.front();
        received_.pop_front();
        std::vector<uint8_t> bytes;
        bool late = false;
        uint32_t lateMs = 0;
        {
            // Logged only once carried out, so that a test woken by WaitForRequests() finds the
            // request's effect and its fault decided.
            std::lock_guard lock(tester_.mutex_);
            tester_.AdvanceModel(now);
            if (tester_.options_.stepPerStatusRead_s > 0 && frame.bytes[2] == 0x10) {
                tester_.model_.Advance(tester_.options_.stepPerStatusRead_s);
            }
            const std::vector<uint8_t> answer = CarryOut(frame.bytes, tester_.model_);
            if (!answer.empty()) {  // an unknown code gets no answer, so no fault either
                const AnswerFaults faults = tester_.faults_.Next(tester_.counters_);
                bytes = WireBytes(faults, answer);
                if (!bytes.empty()) {
                    ++tester_.counters_.answers;
                    tester_.LogAnswer(frame.bytes[2], answer, faults.late);
                }
                late = faults.late;
                lateMs = tester_.faults_.Options().lateMs;
            }
            tester_.LogRequest({frame.bytes.begin(), frame.bytes.end()});
        }
        tester_.requestLogged_.notify_all();
        if (bytes.empty()) return;
        // The answer starts on the wire when the request has arrived and the wire is free, as on
        // a tester that answers at once: not when this thread happened to wake up, whose delay
        // would otherwise be added to every exchange.
        Answer next{std::move(bytes), 0, std::max(frame.at, answerWireFree_)};
        if (late) next.start = std::max(now, frame.at + std::chrono::milliseconds(lateMs));
        sending_ = std::move(next);
    }

    // When byte `index` of the answer has fully crossed the modelled wire; every byte is due at
    // the start without pacing. Deadlines are absolute, so late wake-ups do not add up.
    Clock::time_point DueTime(size_t index) const {
        return sending_->start + LineTime(static_cast<int64_t>(index) + 1);
    }

    void SendDue(Clock::time_point now) {
        Answer& answer = *sending_;
        if (baud_ == 0) {
            if (answer.start > now) return;
            terminal_.Write(answer.bytes.data(), answer.bytes.size());
            sending_.reset();
            return;
        }
        while (answer.sent < answer.bytes.size() && DueTime(answer.sent) <= now) {
            terminal_.Write(&answer.bytes[answer.sent], 1);
            ++answer.sent;
        }
        if (answer.sent == answer.bytes.size()) {
            answerWireFree_ = DueTime(answer.sent - 1);
            sending_.reset();
        }
    }

    // Whether the next byte due is the last of the answer being sent.
    bool LastByteDue() const { return sending_ && sending_->sent + 1 == sending_->bytes.size(); }

    // The next moment at which something is due, if any.
    std::optional<Clock::time_point> NextDue() const {
        std::optional<Clock::time_point> next;
        auto consider = [&next](Clock::time_point at) {
            if (!next || at < *next) next = at;
        };
        if (!arriving_.empty()) consider(arriving_.front().at);
        if (sending_) consider(DueTime(sending_->sent));
        return next;
    }

    // Waits for the console's bytes until the next due moment; false when the terminal failed.
    bool Listen(Clock::time_point now) {
        // A request may already be waiting for the tester that just became free.
        if (!sending_ && !received_.empty()) return true;
        const auto due = NextDue();
        std::chrono::microseconds timeout(-1);
        if (due) {
            timeout = std::max(std::chrono::ceil<std::chrono::microseconds>(*due - now),
                               std::chrono::microseconds(0));
            // A thread put to sleep wakes tens of microseconds late; for the last byte of an
            // answer, which ends the console's wait, the wire's time is kept by looking without
            // sleeping. Earlier bytes are due from the answer's start and catch up on their own.
            if (timeout < kKeepTimeBelow && LastByteDue()) timeout = std::chrono::microseconds(0);
        }
        uint8_t buffer[kReadChunk];
        const long got = terminal_.Read(buffer, sizeof buffer, timeout);
        if (got < 0) return false;
        if (got > 0) Take(buffer, static_cast<size_t>(got), Clock::now());
        return true;
    }

    // Bytes read at `at` go over the modelled wire one after the other, after any still on it.
    void Take(const uint8_t* bytes, size_t count, Clock::time_point at) {
        {
            std::lock_guard lock(tester_.mutex_);
            tester_.LogWire(bytes, count);
        }
        const Clock::time_point start = std::max(at, wireFree_);
        chunks_.push_back({streamOffset_, start});
        streamOffset_ += count;
        wireFree_ = start + LineTime(static_cast<int64_t>(count));
        for (const auto& parsed : parser_.Feed({bytes, count})) {
            while (chunks_.size() > 1 && chunks_[1].offset <= parsed.firstByte) chunks_.pop_front();
            arriving_.push_back({parsed.frame, ArrivalOf(parsed.firstByte + kRequestLength - 1)});
        }
        while (chunks_.size() > 1 && chunks_[1].offset <= parser_.Settled()) chunks_.pop_front();
    }

    // When the byte at stream `offset` has fully arrived.
    Clock::time_point ArrivalOf(uint64_t offset) const {
        auto chunk = chunks_.begin();
        while (std::next(chunk) != chunks_.end() && std::next(chunk)->offset <= offset) ++chunk;
        return chunk->start + LineTime(static_cast<int64_t>(offset - chunk->offset) + 1);
    }

    struct Chunk {
        uint64_t offset;          // stream offset of the chunk's first byte
        Clock::time_point start;  // when its first byte started on the modelled wire
    };

    PtyTester& tester_;
    platform::PseudoTerminal& terminal_;
    const int64_t baud_;
    RequestParser parser_;
    uint64_t streamOffset_ = 0;
    Clock::time_point wireFree_;        // when the last byte read has crossed the modelled wire
    Clock::time_point answerWireFree_;  // when the last answer has crossed it the other way
    std::deque<Chunk> chunks_;          // the bytes that frames still to be parsed may span
    std::deque<Frame> arriving_;        // parsed, still on the modelled wire
    std::deque<Frame> received_;        // arrived, waiting for the tester
    std::optional<Answer> sending_;
};

PtyTester::PtyTester(const Options& options)
    : options_(options),
      model_(StartUpModel(options)),
      modelTime_(Clock::now()),
      faults_(options.faults) {
    std::lock_guard lifecycle(lifecycle_);
    StartServing();
}

PtyTester::~PtyTester() {
    std::lock_guard lifecycle(lifecycle_);
    StopServing();
}

std::string PtyTester::DevicePath() const {
    std::lock_guard lock(mutex_);
    return devicePath_;
}

Registers PtyTester::State() const {
    std::lock_guard lock(mutex_);
    AdvanceModel(Clock::now());
    return model_.State();
}

void PtyTester::SetRegisters(const Registers& registers) {
    std::lock_guard lock(mutex_);
    AdvanceModel(Clock::now());
    model_.Set(registers);
}

void PtyTester::SetFaults(const FaultOptions& faults) {
    std::lock_guard lock(mutex_);
    faults_.SetOptions(faults);
}

void PtyTester::ScriptFault(FaultKind kind, int count) {
    std::lock_guard lock(mutex_);
    faults_.Script(kind, count);
}

std::vector<std::vector<uint8_t>> PtyTester::Requests() const {
    std::lock_guard lock(mutex_);
    return {requests_.begin(), requests_.end()};
}

std::vector<uint8_t> PtyTester::WireIn() const {
    std::lock_guard lock(mutex_);
    return {wireIn_.begin(), wireIn_.end()};
}

bool PtyTester::WaitForRequests(size_t count, std::chrono::milliseconds bound) const {
    std::unique_lock lock(mutex_);
    return requestLogged_.wait_for(lock, bound, [&] { return requestsSinceClear_ >= count; });
}

void PtyTester::ClearLog() {
    std::lock_guard lock(mutex_);
    requests_.clear();
    wireIn_.clear();
    requestsSinceClear_ = 0;
}

std::vector<SentAnswer> PtyTester::TakeAnswers() {
    std::lock_guard lock(mutex_);
    std::vector<SentAnswer> taken(answers_.begin(), answers_.end());
    answers_.clear();
    return taken;
}

FaultCounters PtyTester::Counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

void PtyTester::Vanish() {
    std::lock_guard lifecycle(lifecycle_);
    StopServing();
}

void PtyTester::Reappear() {
    std::lock_guard lifecycle(lifecycle_);
    StopServing();
    StartServing();
}

void PtyTester::AdvanceModel(Clock::time_point now) const {
    if (options_.stepPerStatusRead_s > 0 || now <= modelTime_) return;
    const double realSeconds = std::chrono::duration<double>(now - modelTime_).count();
    model_.Advance(realSeconds * options_.acceleration);
    modelTime_ = now;
}

void PtyTester::LogRequest(const std::vector<uint8_t>& frame) {
    requests_.push_back(frame);
    while (requests_.size() > options_.logLimit) requests_.pop_front();
    ++requestsSinceClear_;
    ++counters_.requests;
}

void PtyTester::LogAnswer(uint8_t code, const std::vector<uint8_t>& answer, bool late) {
    if (answer.size() != kAnswerLength) return;  // an acknowledgement carries no value
    answers_.push_back({code, {answer[2], answer[3], answer[4]}, late});
    while (answers_.size() > options_.logLimit) answers_.pop_front();
}

void PtyTester::LogWire(const uint8_t* bytes, size_t count) {
    wireIn_.insert(wireIn_.end(), bytes, bytes + count);
    const size_t limit = options_.logLimit * 8;
    if (wireIn_.size() > limit) {
        wireIn_.erase(wireIn_.begin(),
                      wireIn_.begin() + static_cast<std::ptrdiff_t>(wireIn_.size() - limit));
    }
}

void PtyTester::StartServing() {
    // A new terminal may get the number of the one that just vanished; a console must see a
    // different device, so such a terminal is held until another one is found, then let go.
    auto terminal = std::make_unique<platform::PseudoTerminal>();
    std::unique_ptr<platform::PseudoTerminal> reused;
    if (!lastPath_.empty() && terminal->SlavePath() == lastPath_) {
        reused = std::move(terminal);
        terminal = std::make_unique<platform::PseudoTerminal>();
    }
    terminal_ = std::move(terminal);
    lastPath_ = terminal_->SlavePath();
    {
        std::lock_guard lock(mutex_);
        devicePath_ = lastPath_;
    }
    stop_.store(false);
    server_ = std::thread([this, terminal = terminal_.get()] {
        platform::KeepPreciseTime();  // the wire's pace is kept to the microsecond
        Server(*this, *terminal).Run();
    });
}

void PtyTester::StopServing() {
    if (!terminal_) return;
    stop_.store(true);
    terminal_->Wake();
    if (server_.joinable()) server_.join();
    terminal_->Close();
    terminal_.reset();
    std::lock_guard lock(mutex_);
    devicePath_.clear();
}

}  // namespace sim
