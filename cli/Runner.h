#pragma once
// One discharge test run from the command line, on the console's own worker, log writer and
// verdict: opens the port, sends the setpoints given, starts the test, logs every reading and
// ends when a reading shows the test stopped, the connection is lost, no reading comes for 10 s,
// or a signal asks (then Stop is sent first). The verdict goes to standard output, everything
// else to standard error. Runs on the main thread's event loop, which it ends with the exit code.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <optional>
#include <string>

#include "cli/RunOptions.h"
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
    void PortClosed(int error);
    void Reading(const TDeviceReading& reading);
    void EndSignal();
    // Ends the run: the worker stopped, the log closed, the verdict printed, the loop ended.
    void Finish(int code, const std::optional<TTestSummary>& summary);
    void Progress(bool final);
    // A message for the person at the terminal; none with --quiet unless it is an error.
    void Say(const std::string& text, bool error = false);

    const TRunOptions FOptions;
    TReaderWorker FWorker;
    TTestLog FLog;
    TTestTracker FTracker;
    TState FState = TState::Opening;
    QSocketNotifier FSignals;
    QTimer FNoReading;      // a reading with a value must come within 10 s
    QTimer FStopWait;       // after a signal: at most 5 s for the stopped reading
    QTimer FPlainProgress;  // without a terminal: one progress line every 10 s
    const bool FTerminal;   // standard error is a terminal: the progress line is rewritten
    int FCommandsQueued = 0;
    int FReadingsSinceStart = 0;
    bool FTestSeenRunning = false;
    bool FWriteFailureSaid = false;
    std::optional<TDeviceReading> FLast;
    std::optional<std::chrono::steady_clock::time_point> FRunningSince;
    size_t FProgressWidth = 0;  // of the progress line last written in place
};

// Prints the ports the console would list: the name, then a tab and the adapter's vendor and
// product where udev knows them.
void ListPorts();
