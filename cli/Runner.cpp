#include "cli/Runner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "device/DeviceProtocol.h"
#include "device/SerialLink.h"
#include "platform/PortDiagnosis.h"
#include "platform/PortDiscovery.h"
#include "platform/PortIdentity.h"
#include "platform/PortNames.h"
#include "platform/Signals.h"
#include "platform/Terminal.h"
#include "records/Register.h"
#include "support/DateTime.h"
#include "support/Errors.h"
#include "support/Format.h"
#include "support/Overloaded.h"
#include "support/TimeText.h"
#include "testrun/SetpointRules.h"
#include "testrun/Station.h"
#include "testrun/VerdictFile.h"

namespace {

constexpr std::chrono::seconds kNoReading{10};
constexpr std::chrono::seconds kStopWait{5};
constexpr std::chrono::seconds kPlainProgress{10};
// The runner's own messages, beside the worker's: an end signal taken (WParam the signal) and
// a notice of telemetry's threads to say (the block is the text).
constexpr int UM_END_SIGNAL = 1100;
constexpr int UM_NOTICE = 1101;

std::string Clock(int seconds) {
    return LongDurationText(std::max(0, seconds));
}

bool AnyValueRead(const TDeviceReading& r) {
    return r.Status != -1 || r.Voltage != -1.0f || r.Current != -1.0f || r.TestTime != -1;
}

// What the person at the terminal can do about a Start that the tester left alone.
const char* FixFor(TNotStarted::TKind kind) {
    switch (kind) {
        case TNotStarted::TKind::CutoffAtOrAboveCell:
            return " Give a lower --cutoff.";
        case TNotStarted::TKind::TestTimeUsedUp:
            return " Reset the tester's counters (the console's Reset), or give a longer --time.";
        case TNotStarted::TKind::Other:
            break;
    }
    return "";
}

// Standard output and error are shared by the runs of several ports: each line goes out whole.
std::mutex& OutputLock() {
    static std::mutex lock;
    return lock;
}

int ExitCodeOf(TEndReason reason) {
    switch (reason) {
        case TEndReason::Cutoff:
        case TEndReason::Time:
            return kExitEndedAsSet;
        case TEndReason::Tester:
            return kExitTester;
        case TEndReason::ConnectionLost:
            return kExitLost;
        case TEndReason::Operator:
            return kExitSignal;
    }
    return kExitTester;
}

}  // namespace

void ListPorts() {
    for (const std::string& name : platform::SerialPortNames()) {
        const platform::PortIdentity identity = platform::IdentityOfPort(name);
        std::string line = name;
        std::string adapter = identity.vendor;
        if (!identity.product.empty()) adapter += (adapter.empty() ? "" : " ") + identity.product;
        if (!adapter.empty()) line += "\t" + adapter;
        std::printf("%s\n", line.c_str());
    }
}

TRunner::TRunner(const TRunOptions& options)
    : FOptions(options),
      FWorker(
          [this] {
              return TPortChoice{FOptions.Port, FOptions.Baud};
          },
          FMessages.get()),
      FSeveral(options.Ports.size() > 1),
      FTerminal(platform::StandardErrorIsTerminal() && !FSeveral) {}

TRunner::~TRunner() {
    FWorker.Shutdown();
}

int RunTests(const TRunOptions& options) {
    std::vector<std::unique_ptr<TRunner>> runners;
    std::vector<std::shared_ptr<TMessageQueue>> queues;
    for (const std::string& port : options.Ports) {
        TRunOptions one = options;
        one.Port = port;
        runners.push_back(std::make_unique<TRunner>(one));
        queues.push_back(runners.back()->Messages());
    }
    // The signals are blocked in every thread: this one takes them as they come and hands each
    // to every run, in order with everything else. It waits until the program ends.
    std::thread([queues] {
        for (;;) {
            const platform::EndSignal signal = platform::WaitForEndSignal();
            for (const std::shared_ptr<TMessageQueue>& messages : queues) {
                messages->Take(
                    TThreadMessage(nullptr, UM_END_SIGNAL, static_cast<std::uintptr_t>(signal), 0));
            }
        }
    }).detach();
    std::vector<int> codes(runners.size(), 0);
    std::vector<std::thread> others;
    for (size_t i = 1; i < runners.size(); ++i) {
        others.emplace_back([&runners, &codes, i] { codes[i] = runners[i]->Run(); });
    }
    codes[0] = runners[0]->Run();
    for (std::thread& other : others) other.join();
    return *std::max_element(codes.begin(), codes.end());
}

int TRunner::Run() {
    FWorker.Start();
    FWorker.QueueCommand(cmdConnect, 1.0);
    while (FState != TState::Done) {
        TClock::time_point next = TClock::now() + std::chrono::hours(1);
        for (const TDeadline& deadline : {FNoReading, FStopWait, FPlainProgress}) {
            if (deadline) next = std::min(next, *deadline);
        }
        if (const std::optional<TThreadMessage> message = FMessages->WaitUntil(next)) {
            Dispatch(*message);
        }
        if (FState != TState::Done) DeadlinesPassed();
    }
    return FExitCode;
}

void TRunner::Dispatch(const TThreadMessage& message) {
    if (const std::optional<TLinkEvent> event = LinkEventOf(message)) {
        std::visit(TOverloaded{
                       [this](const TPortOpened&) { PortOpened(); },
                       [this](const TPortClosed& closed) { PortClosed(closed.Error); },
                       [this](const TCommandDone& done) { CommandDone(done.Kind, done.On); },
                       [this](const TReadingTaken& taken) { Reading(taken.Reading); },
                   },
                   *event);
    } else if (message.Msg() == UM_END_SIGNAL) {
        EndSignal(static_cast<int>(message.WParam()));
    } else if (message.Msg() == UM_NOTICE) {
        Say("kelvo-run: " + std::string(static_cast<const char*>(message.Block()),
                                        static_cast<size_t>(message.LParam())),
            true);
    }
}

void TRunner::DeadlinesPassed() {
    const TClock::time_point now = TClock::now();
    if (FNoReading && *FNoReading <= now) {
        FNoReading.reset();
        Say("kelvo-run: no reading from the tester within 10 s", true);
        StopThenEnd(kExitLost);
    } else if (FStopWait && *FStopWait <= now) {
        FStopWait.reset();
        Say("kelvo-run: the tester was not seen stopped within 5 s: it may still be discharging",
            true);
        Finish(FStopCode, FStopped ? FStopped : FTracker.ConnectionEnded(CurrentStamp(), false));
    } else if (FPlainProgress && *FPlainProgress <= now) {
        FPlainProgress = now + kPlainProgress;
        Progress(false);
    }
}

void TRunner::PortOpened() {
    try {
        if (FOptions.Log.empty()) {
            FLog.OpenLog(FSeveral ? FOptions.Port : std::string());
        } else {
            FLog.OpenLogAt(FOptions.Log);
        }
    } catch (const Exception& error) {
        Say(std::string("kelvo-run: ") + error.what() + ": " + FLog.CreateFailureCause(), true);
        return Finish(kExitCannotOpen, std::nullopt);  // nothing was sent to the tester
    }
    FState = TState::Running;
    FWorker.FConnected = true;
    FTracker.ConnectionOpened(FOptions.Port, FLog.Path());
    Say("kelvo-run: connected to " + FOptions.Port + " at " + std::to_string(FOptions.Baud) +
        " baud; log " + FLog.Path());
    if (FOptions.Telemetry) StartTelemetry();
    FWorker.QueueCommand(cmdSetCurrent, FOptions.Current);
    FWorker.QueueCommand(cmdSetCutoffVoltage, FOptions.Cutoff);
    if (FOptions.TestTime) FWorker.QueueCommand(cmdSetTestTime, *FOptions.TestTime);
    FWorker.QueueCommand(cmdStartStop, 1.0);
    FNoReading = TClock::now() + kNoReading;
    if (!FTerminal && !FOptions.Quiet) FPlainProgress = TClock::now() + kPlainProgress;
}

void TRunner::StartTelemetry() {
    TTelemetrySettings settings = *FOptions.Telemetry;
    settings.Station = StationName(FOptions.Station);
    // Its notices come from its own threads: said on this one, in order with the rest.
    FTelemetry = std::make_unique<TTelemetry>(
        settings, FOptions.Port, [messages = FMessages](const std::string& text) {
            auto block = std::make_unique<std::byte[]>(text.size());
            std::memcpy(block.get(), text.data(), text.size());
            messages->Take(TThreadMessage(nullptr, UM_NOTICE, std::move(block),
                                          static_cast<int>(text.size())));
        });
    FTelemetry->SetCell(FOptions.Cell);
    FTelemetry->TesterConnected(true);
    Say("kelvo-run: publishing to " + settings.Broker.Text() + " as kelvo/" +
        FTelemetry->Topics().Station + "/" + FTelemetry->Topics().Port + "/...");
}

void TRunner::PortClosed(int error) {
    FWorker.FConnected = false;
    const std::string cause =
        platform::ExplainPortError(FOptions.Port, platform::DevicePathFor(FOptions.Port), error);
    if (FState == TState::Opening) {
        Say("kelvo-run: cannot open " + FOptions.Port + ": " + cause, true);
        return Finish(kExitCannotOpen, std::nullopt);
    }
    Say("kelvo-run: connection to " + FOptions.Port + " lost: " + cause, true);
    if (FState == TState::Stopping) {
        Say("kelvo-run: the tester was not seen stopped: it may still be discharging", true);
        return Finish(FStopCode,
                      FStopped ? FStopped : FTracker.ConnectionEnded(CurrentStamp(), false));
    }
    Finish(kExitLost, FTracker.ConnectionEnded(CurrentStamp(), false));
}

void TRunner::CommandDone(int kind, bool on) {
    if (kind != cmdStartStop) return;
    if (on) {
        FStartWatch.StartReached();
        FSleepLock.Acquire(platform::DischargeTestSleepReason(FOptions.Port));
    } else {
        FStopReached = true;
        FStopQueued = false;
    }
}

void TRunner::Reading(const TDeviceReading& reading) {
    if (FLog.WriteLogRow(reading)) LogWriteFailed();
    if (FTelemetry) FTelemetry->Reading(reading);
    if (AnyValueRead(reading)) FNoReading = TClock::now() + kNoReading;
    FLast = reading;
    if (reading.Status == 1 && !FRunningSince) FRunningSince = std::chrono::steady_clock::now();
    const std::optional<TNotStarted> notStarted = FStartWatch.Reading(reading);
    const std::optional<TTestSummary> ended = FTracker.Reading(reading);
    if (FState == TState::Stopping) {
        if (ended && !FStopped) FStopped = ended;
        // Only a reading asked for after a Stop reached the tester tells that it took: one from
        // before may show a Start the tester has yet to show.
        if (FStopReached && reading.Status == 0) {
            FSeenStopped = true;
            Say("kelvo-run: the tester shows the test stopped");
            return Finish(FStopCode, FStopped);
        }
        if (FStopReached) QueueStop();
        return;
    }
    if (ended) {
        Progress(true);
        return Finish(ExitCodeOf(ended->Reason), ended);
    }
    if (notStarted) {
        Say("kelvo-run: the test did not start: " + notStarted->Cause + FixFor(notStarted->Kind),
            true);
        return StopThenEnd(kExitTester);  // in case it runs after all
    }
    if (FTerminal) Progress(false);
}

void TRunner::EndSignal(int) {
    if (FState == TState::Done) return;
    if (FState == TState::Opening) {
        return Finish(kExitSignal, std::nullopt);  // nothing was sent to the tester
    }
    if (FState == TState::Stopping) {
        Say("kelvo-run: ending at once; the tester was not seen stopped", true);
        return Finish(kExitSignal,
                      FStopped ? FStopped : FTracker.ConnectionEnded(CurrentStamp(), false));
    }
    Say("kelvo-run: stopping the test at the tester (again to end at once)");
    StopThenEnd(kExitSignal);
}

void TRunner::StopThenEnd(int code) {
    if (FState != TState::Running) return;
    FState = TState::Stopping;
    FStopCode = code;
    FTracker.OperatorStopped();
    FNoReading.reset();
    QueueStop();
    FStopWait = TClock::now() + kStopWait;
}

void TRunner::QueueStop() {
    if (FStopQueued) return;  // one at a time: each is followed by a reading that tells
    FStopQueued = true;
    FWorker.QueueCommand(cmdStartStop, 0.0);
}

void TRunner::Finish(int code, const std::optional<TTestSummary>& summary) {
    if (FState == TState::Done) return;
    const bool leftUnseen = FState == TState::Stopping && !FSeenStopped;
    FState = TState::Done;
    FNoReading.reset();
    FStopWait.reset();
    FPlainProgress.reset();
    FWorker.Shutdown();
    // The worker is gone: nobody else uses the port.
    if (leftUnseen && FWorker.Link().IsOpen()) WriteStopRequest(FWorker.Link());
    FWorker.Link().Close();
    FSleepLock.Release();
    if (FLog.CloseLog()) LogWriteFailed();
    if (FTerminal && FProgressWidth > 0) std::fprintf(stderr, "\n");
    std::optional<TTestSummary> verdict = summary;
    if (verdict) {
        verdict->Cell = FOptions.Cell;
        verdict->Station = StationName(FOptions.Station);
    }
    KeepVerdict(verdict);
    // A test that ended as set is a success only when all it leaves is there.
    if (code == kExitEndedAsSet && !FNotWritten.empty()) {
        std::string files;
        for (const std::string& file : FNotWritten) files += (files.empty() ? "" : ", ") + file;
        Say("kelvo-run: the test ended as set, but not all of it was kept: " + files, true);
        code = kExitCannotOpen;
    }
    if (verdict) {
        const std::string text = FOptions.Json ? VerdictJson(*verdict) : VerdictText(*verdict);
        const std::lock_guard lock(OutputLock());
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (!text.empty() && text.back() != '\n') std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (FTelemetry) {
        FTelemetry->TesterConnected(false);
        if (verdict) FTelemetry->Verdict(VerdictJson(*verdict));
        if (const std::string words = FTelemetry->Close(TTelemetry::kCloseBound); !words.empty()) {
            Say("kelvo-run: " + words, true);
        }
    }
    FExitCode = code;
}

void TRunner::KeepVerdict(const std::optional<TTestSummary>& verdict) {
    // Beside the log first: whatever the register does, the verdict is kept.
    std::string file;
    if (verdict && !verdict->Log.empty()) {
        file = FileBesideLog(verdict->Log, 1, ".json");
        if (const std::string failure = WriteFileWhole(file, VerdictJson(*verdict));
            !failure.empty()) {
            Say("kelvo-run: Error write file " + file + ": " + failure, true);
            FNotWritten.push_back(file + " (not written: " + failure + ")");
            file.clear();
        }
    }
    if (!verdict && !FOptions.RatedAh) return;
    const std::string where =
        FOptions.Register.empty() ? TRegister::DefaultLocation() : FOptions.Register;
    // The test first, the rating after: a rating that cannot be set costs no test. One message
    // whatever fails.
    const std::string rating =
        FOptions.RatedAh ? "; the cell's rating is not set (kelvo-cells rate " + *FOptions.Cell +
                               " " + FixedDecimals(*FOptions.RatedAh, 3) + " sets it)"
                         : "";
    bool recorded = !verdict;
    try {
        const std::unique_ptr<TRegister> cells = TRegister::Open(where);
        if (verdict) cells->Record(*verdict, file);
        recorded = true;
        if (FOptions.RatedAh) cells->Rate(*FOptions.Cell, *FOptions.RatedAh);
    } catch (const TRegisterPending& error) {
        Say(std::string("kelvo-run: the register's server cannot take the test now: ") +
                error.what() + "; kelvo-cells sync sends it" + rating,
            true);
    } catch (const TRegisterError& error) {
        if (recorded) {
            Say(std::string("kelvo-run: ") + error.what() + rating, true);
        } else {
            Say(std::string("kelvo-run: the test is not in the register: ") + error.what() +
                    (file.empty() ? "" : "; kelvo-cells import " + file + " records it later") +
                    rating,
                true);
        }
    }
}

void TRunner::LogWriteFailed() {
    Say("kelvo-run: " + FLog.WriteFailureText() + " - the log is incomplete", true);
    FNotWritten.push_back(FLog.Path() + " (incomplete)");
}

void TRunner::Progress(bool final) {
    if (FOptions.Quiet || !FLast) return;
    const TDeviceReading& r = *FLast;
    const int elapsed =
        FRunningSince ? static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(
                                             std::chrono::steady_clock::now() - *FRunningSince)
                                             .count())
                      : 0;
    std::string line = Clock(elapsed) + "  " + FixedDecimals(r.Voltage, 3) + " V  " +
                       FixedDecimals(r.Current, 3) + " A  " + FixedDecimals(r.AmpHours, 3) +
                       " Ah  " + FixedDecimals(r.WattHours, 3) + " Wh  " +
                       std::to_string(r.Temperature) + " °C  ";
    if (r.TestTimeSetpoint > 0) {
        line += "time left " + Clock(r.TestTimeSetpoint - elapsed);
    } else {
        line += "cutoff " + FixedDecimals(r.CutoffVoltage, 2) + " V";
    }
    if (!FTerminal) {
        const std::lock_guard lock(OutputLock());
        std::fprintf(stderr, "%s%s\n", FSeveral ? (FOptions.Port + "  ").c_str() : "",
                     line.c_str());
        return;
    }
    const size_t width = line.size();
    if (width < FProgressWidth) line.append(FProgressWidth - width, ' ');  // over the longer one
    FProgressWidth = width;
    std::fprintf(stderr, "\r%s", line.c_str());
    if (final) {
        std::fprintf(stderr, "\n");
        FProgressWidth = 0;
    }
    std::fflush(stderr);
}

void TRunner::Say(const std::string& text, bool error) {
    if (FOptions.Quiet && !error) return;
    if (FTerminal && FProgressWidth > 0) {
        std::fprintf(stderr, "\n");
        FProgressWidth = 0;
    }
    // "kelvo-run: <port>: ..." when several runs speak at once.
    constexpr std::string_view kProgram = "kelvo-run: ";
    std::string line = text;
    if (FSeveral && line.starts_with(kProgram)) {
        line.insert(kProgram.size(), FOptions.Port + ": ");
    }
    const std::lock_guard lock(OutputLock());
    std::fprintf(stderr, "%s\n", line.c_str());
}
