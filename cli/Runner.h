#pragma once
// One discharge test run from the command line, on the console's own worker, log writer and
// verdict: opens the port, sends the setpoints given, starts the test, logs every reading and
// ends when a reading shows the test stopped at the tester, or the connection is lost. The verdict
// goes to standard output, everything else to standard error. Runs on the calling thread, which
// waits for the worker's messages, the end signals and its own deadlines in turn.
//
// The tester is never left discharging unwatched: on a signal, on a test that does not start and
// on no reading for 10 s, the run stops the test first. It ends only once a reading requested
// after a Stop reached the tester shows the test stopped, sending Stop again while it does not,
// for at most 5 s; then it says whether the tester was seen stopped. A second signal ends at once,
// after one more Stop written to the wire.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/RunOptions.h"
#include "platform/SleepInhibitor.h"
#include "telemetry/Telemetry.h"
#include "testrun/ReaderWorker.h"
#include "testrun/SetpointRules.h"
#include "testrun/TestLog.h"
#include "testrun/TestVerdict.h"
#include "threads/MessageQueue.h"

class TRunner {
  public:
    // The end signals must be blocked (platform::BlockEndSignals) before any thread exists.
    explicit TRunner(const TRunOptions& options);
    ~TRunner();
    TRunner(const TRunner&) = delete;
    TRunner& operator=(const TRunner&) = delete;

    // Connects and runs the test to its end; returns the exit code. The end signals come through
    // Messages() (RunTests hands them on).
    int Run();
    // The queue this run waits on; shared with the thread that hands on the end signals.
    std::shared_ptr<TMessageQueue> Messages() const { return FMessages; }

  private:
    enum class TState { Opening, Running, Stopping, Done };
    using TClock = TMessageQueue::TClock;
    using TDeadline = std::optional<TClock::time_point>;

    void Dispatch(const TThreadMessage& message);
    // Fires the deadlines that have passed.
    void DeadlinesPassed();

    void PortOpened();
    // With --mqtt: one MQTT connection for the tester's connection.
    void StartTelemetry();
    void PortClosed(int error);
    void CommandDone(int kind, bool on);
    void Reading(const TDeviceReading& reading);
    void EndSignal(int signal);
    // Stops the test at the tester, then ends with `code`.
    void StopThenEnd(int code);
    void QueueStop();
    // Ends the run: the worker stopped, the log closed, the verdict printed, the loop ended. A run
    // that was stopping and never saw the tester stopped writes one more Stop first.
    void Finish(int code, const std::optional<TTestSummary>& summary);
    // Writes the verdict beside the log and records it (and the cell's rating) in the register;
    // a failure is said on standard error and changes nothing else.
    void KeepVerdict(const std::optional<TTestSummary>& verdict);
    // The log's first failed write (or its close): said, and the run cannot end in success.
    void LogWriteFailed();
    void Progress(bool final);
    // A message for the person at the terminal; none with --quiet unless it is an error.
    void Say(const std::string& text, bool error = false);

    const TRunOptions FOptions;
    // Shared with the thread that waits for end signals, which outlives the runner.
    const std::shared_ptr<TMessageQueue> FMessages = std::make_shared<TMessageQueue>();
    TReaderWorker FWorker;
    TTestLog FLog;
    TTestTracker FTracker;
    platform::SleepInhibitor FSleepLock;     // from the Start reaching the tester to the end
    std::unique_ptr<TTelemetry> FTelemetry;  // with --mqtt, from the port's opening to the end
    TState FState = TState::Opening;
    int FExitCode = 0;
    TDeadline FNoReading;      // a reading with a value must come by then (10 s)
    TDeadline FStopWait;       // while stopping: at most 5 s to see the tester stopped
    TDeadline FPlainProgress;  // without a terminal: one progress line every 10 s
    const bool FSeveral;       // one of several runs at once: its messages name its port
    const bool FTerminal;      // standard error is a terminal (and this the only run): the
                               // progress line is rewritten
    // From the notices of the commands carried out: whether the Start took, whether a Stop has
    // reached the tester, and whether one is still on its way.
    TStartWatch FStartWatch;
    bool FStopReached = false;
    bool FStopQueued = false;
    bool FSeenStopped = false;
    int FStopCode = 0;                     // the exit code once the tester is stopped
    std::optional<TTestSummary> FStopped;  // the test that the stopping ended
    std::vector<std::string> FNotWritten;  // the files of the test that are not whole, and why
    std::optional<TDeviceReading> FLast;
    std::optional<std::chrono::steady_clock::time_point> FRunningSince;
    size_t FProgressWidth = 0;  // of the progress line last written in place
};

// Runs the test on every port of `options` at once, one TRunner each on a thread of its own, the
// end signals handed to all; returns the highest exit code.
int RunTests(const TRunOptions& options);

// Prints the ports the console would list: the name, then a tab and the adapter's vendor and
// product where udev knows them.
void ListPorts();
