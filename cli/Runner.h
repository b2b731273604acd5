#pragma once
// One discharge test run from the command line, on the console's own worker, log writer and
// verdict: opens the port, sends the setpoints given, starts the test, logs every reading and
// ends when a reading shows the test stopped at the tester, or the connection is lost. The verdict
// goes to standard output, everything else to standard error. Runs on the main thread's event
// loop, which it ends with the exit code.
//
// The tester is never left discharging unwatched: on a signal, on a test that does not start and
// on no reading for 10 s, the run stops the test first. It ends only once a reading requested
// after a Stop reached the tester shows the test stopped, sending Stop again while it does not,
// for at most 5 s; then it says whether the tester was seen stopped. A second signal ends at once,
// after one more Stop written to the wire.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "cli/RunOptions.h"
#include "platform/SleepInhibitor.h"
#include "telemetry/Telemetry.h"
#include "testrun/ReaderWorker.h"
#include "testrun/TestLog.h"
#include "testrun/TestVerdict.h"

class TRunner : public QObject {
    Q_OBJECT

  public:
    // `endSignals`: a descriptor that polls readable when an end signal is pending (the signals
    // must be blocked); owned by the caller.
    TRunner(const TRunOptions& options, int endSignals);
    ~TRunner() override;

    // Connects; the event loop then runs until QCoreApplication::exit(code).
    void Start();

  protected:
    // The worker's messages, taken from the application's event stream.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class TState { Opening, Running, Stopping, Done };

    void PortOpened();
    // With --mqtt: one MQTT connection for the tester's connection.
    void StartTelemetry();
    void PortClosed(int error);
    void CommandDone(int kind, bool on);
    void Reading(const TDeviceReading& reading);
    void EndSignal();
    // Stops the test at the tester, then ends with `code`.
    void StopThenEnd(int code);
    void QueueStop();
    // Ends the run: the worker stopped, the log closed, the verdict printed, the loop ended. A run
    // that was stopping and never saw the tester stopped writes one more Stop first.
    void Finish(int code, const std::optional<TTestSummary>& summary);
    // Writes the verdict beside the log and records it (and the cell's rating) in the register;
    // a failure is said on standard error and changes nothing else.
    void KeepVerdict(const std::optional<TTestSummary>& verdict);
    void Progress(bool final);
    // A message for the person at the terminal; none with --quiet unless it is an error.
    void Say(const std::string& text, bool error = false);

    const TRunOptions FOptions;
    TReaderWorker FWorker;
    TTestLog FLog;
    TTestTracker FTracker;
    platform::SleepInhibitor FSleepLock;     // from the Start reaching the tester to the end
    std::unique_ptr<TTelemetry> FTelemetry;  // with --mqtt, from the port's opening to the end
    TState FState = TState::Opening;
    QSocketNotifier FSignals;
    QTimer FNoReading;      // a reading with a value must come within 10 s
    QTimer FStopWait;       // while stopping: at most 5 s to see the tester stopped
    QTimer FPlainProgress;  // without a terminal: one progress line every 10 s
    const bool FTerminal;   // standard error is a terminal: the progress line is rewritten
    // From the notices of the commands carried out: the readings since the Start reached the
    // tester, whether a Stop has reached it, and whether one is still on its way.
    std::optional<int> FReadingsSinceStart;
    bool FStopReached = false;
    bool FStopQueued = false;
    bool FTestSeenRunning = false;
    bool FSeenStopped = false;
    int FStopCode = 0;                     // the exit code once the tester is stopped
    std::optional<TTestSummary> FStopped;  // the test that the stopping ended
    bool FWriteFailureSaid = false;
    std::optional<TDeviceReading> FLast;
    std::optional<std::chrono::steady_clock::time_point> FRunningSince;
    size_t FProgressWidth = 0;  // of the progress line last written in place
};

// Prints the ports the console would list: the name, then a tab and the adapter's vendor and
// product where udev knows them.
void ListPorts();
