#pragma once
// What the battery did. Follows the readings and the connection through a TTestTracker; when a
// test ends, writes its verdict beside the log it ended in, "<log without .csv>_test<N>.json"
// (N counts the tests that ended in that log, from 1), records it in the register, draws the
// test's curves over its whole range into "<same>_test<N>.png", and shows the summary in a window
// that does not block the console; the last summary can be opened again. Window's thread only.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/DeviceReading.h"
#include "testrun/TestVerdict.h"
#include "threads/qt/BackgroundWorker.h"

class QDialog;
class QWidget;

// The readings of the running test for its picture: every one while they are few, then every
// second, fourth, ... one, so that a test of any length keeps a few thousand.
class TTestCurves {
  public:
    void Clear();
    void Add(const TDeviceReading& reading);
    const std::vector<TDeviceReading>& Readings() const { return FReadings; }

  private:
    static constexpr size_t kMost = 8192;
    std::vector<TDeviceReading> FReadings;
    size_t FStride = 1;   // one reading kept in so many
    size_t FSkipped = 0;  // readings passed over since the last one kept
};

// Draws `readings` (as the chart would, the axes fitted to the curves) into a PNG file at `path`,
// under `title` when it is not empty, whole or not at all (WriteFileWhole). Empty when it was
// written, else why not.
QString DrawTestPicture(const std::vector<TDeviceReading>& readings, const QString& path,
                        const QString& title = {});

class TTestResults : public QObject {
    Q_OBJECT

  public:
    // `window` places the summary window; it must outlive this object.
    explicit TTestResults(QWidget* window);
    ~TTestResults() override;

    // The cell in the operator's box now (empty: none); a test takes the cell named when it began.
    void SetCell(const std::string& cell) { FCell = cell; }
    // Whether an ended test's summary opens in a window (it does unless a bench's tile shows it).
    void SetSummaryWindows(bool on) { FSummaryWindows = on; }
    // The station named in verdicts, and the register they are recorded in.
    void SetStation(const std::string& station) { FStation = station; }
    void SetRegister(const std::string& location) { FRegister = location; }
    const std::string& Register() const { return FRegister; }

    void ConnectionOpened(const std::string& port, const std::string& log);
    // The log at `log` misses rows from here on (`failure`: "Error write file <path>: <why>"):
    // a test that spans it says so when it ends.
    void LogIncomplete(const std::string& log, const std::string& failure);
    void Reading(const TDeviceReading& reading);
    void OperatorStopped();
    // The open connection ended; with `mayReconnect` a running test waits for it to come back.
    void ConnectionEnded(bool mayReconnect);
    void ReconnectionGivenUp();
    // At exit: a running test ends with its connection; its files are written, no window shown.
    void Shutdown();

    // The running readings that the last call above placed on their test's elapsed time, for the
    // chart (TTestTracker::Placed).
    const std::vector<TDeviceReading>& Placed() const { return FTracker.Placed(); }

    const std::optional<TTestSummary>& Last() const { return FLast; }
    // The files of the last test; empty when one could not be written.
    const QString& LastJson() const { return FLastJson; }
    const QString& LastPicture() const { return FLastPicture; }
    // What of the last test is not on disk, and why: files not written, logs that miss rows.
    const QStringList& LastMissing() const { return FLastMissing; }
    // Opens the last summary again (nothing when there is none).
    void ShowLast();
    // Waits for the records still on their way, at most kRecordsBound: a connection attempt and
    // an exchange that the server never answers, after which a record for a server waits in the
    // outbox. A record still on its way when this object goes is given up (its verdict file
    // stays, for an import).
    void WaitForRecords();
    static const std::chrono::milliseconds kRecordsBound;

  signals:
    // Files of an ended test could not be written or its log misses rows ("Not all of the test
    // was kept: ..." naming each), or the register could not record its verdict.
    void WriteFailed(const QString& message);
    // A test ended and its summary is shown.
    void TestEnded();
    // A test's verdict, as JSON (before it is recorded or shown).
    void VerdictMade(const QString& json);
    // A verdict went into the register (signalled on the window's thread).
    void Recorded();

  private:
    void Ended(std::optional<TTestSummary> summary, bool show);
    // Records the verdict, whose JSON is `jsonFile` (empty: none), in the register, on the
    // recorder's thread (one record after another); Recorded or WriteFailed tells how it went.
    void Record(const TTestSummary& summary, const std::string& jsonFile);
    // Collects the curves of the running test from its first reading: what the tracker placed
    // (before the summary of a test that ended is drawn).
    void Track(bool runningBefore);

    QWidget* FWindow;
    std::string FCell, FRunCell;  // in the box now; when the running test began
    std::string FStation;
    std::string FRegister;  // empty: the default register
    TTestTracker FTracker;
    TTestCurves FCurves;
    std::map<std::string, int> FTestsEndedIn;  // per log path
    std::optional<TTestSummary> FLast;
    QString FLastJson;
    QString FLastPicture;
    QStringList FLastMissing;
    std::map<std::string, std::string> FIncompleteLogs;  // log path -> its first write failure
    QPointer<QDialog> FSummary;
    bool FSummaryWindows = true;
    std::unique_ptr<TBackgroundWorker> FRecorder = std::make_unique<TBackgroundWorker>();
};
