#pragma once
// The console window. It owns every widget, the worker (through TReaderWorker), the chart, the
// port list and the test log; it hears from the worker only through posted messages, which its
// application-wide hook AppMessage takes out of the event stream. Everything here runs on the
// window's thread.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <memory>

#include "app/ConsoleOptions.h"
#include "app/ReadingDisplay.h"
#include "app/Reconnection.h"
#include "app/RememberedChoices.h"
#include "app/SetpointInputs.h"
#include "app/TelemetryLink.h"
#include "device/DeviceReading.h"
#include "platform/SleepInhibitor.h"
#include "testrun/PortSelection.h"
#include "testrun/ReaderWorker.h"
#include "testrun/SetpointRules.h"
#include "threads/qt/QtMessageSink.h"

class QAction;
class TCellsWindow;
class TChartView;
class TEllipsisEdit;
class TIndicator;
class TPortList;
class TTestLog;
class TTestResults;
class QMenu;
class TBackgroundWorker;
class QTimer;
class TPortWatcher;
class TThreadMessage;

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // The connections' logs go beside the program (TTestLog's folder rule).
    explicit TForm1(QWidget* parent = nullptr);
    // The connections' logs are written by `log` (tests give one a folder of their own).
    explicit TForm1(std::unique_ptr<TTestLog> log, QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, named as the operator's manual names them.
    QComboBox* cbPort;
    QComboBox* cbSpeed;
    QPushButton* bOpen;
    TIndicator* shPort;
    QLabel* Label1;
    QLineEdit* eVoltage;
    QLabel* Label2;
    QLineEdit* eCurrent;
    QLabel* Label3;
    QLineEdit* eTime;
    QLabel* Label7;
    QLineEdit* eTemp;
    QPushButton* bStart;
    QPushButton* bStop;
    TIndicator* shStarted;
    QLabel* Label4;
    QLineEdit* eWatt;
    QLabel* Label5;
    QLineEdit* eWH;
    QLabel* Label6;
    QLineEdit* eAH;
    QLabel* Label8;
    TEllipsisEdit* ceA;
    QLabel* Label9;
    TEllipsisEdit* ceV;
    QLabel* Label10;
    TEllipsisEdit* cbT;
    QPushButton* bReset;
    QPushButton* bClear;
    QLabel* LabelCell;
    QLineEdit* eCell;  // the cell under test; a scanner types its label and Enter
    TChartView* Chart1;
    QStatusBar* StatusBar1;
    QLabel* StatusPanel;    // the status bar's first panel: the test log's path
    QLabel* StatusMessage;  // beside it: why a connection failed or ended, log write failures

    QAction* aOpen;
    QAction* aStart;
    QAction* aStop;
    QAction* aReset;
    QAction* aClear;
    QAction* aReconnect;       // "Reconnect automatically", checked by default
    QAction* aOpenLogFolder;   // "Open log folder"
    QAction* aLastResult;      // "Last test result..."
    QAction* aCells;           // "Cells...": the register's cells and their tests
    QAction* aChooseRegister;  // "Register...": where verdicts are recorded (remembered)
    QAction* aTelemetry;       // Connection > "Telemetry...": the MQTT broker (remembered)
    QAction* aBench;           // Connection > "Bench...": several testers (TBenchWindow)
    QAction* aFitVoltage;      // Chart > "Fit voltage"
    QAction* aAhAxis;          // Chart > "Bottom axis in Ah", checkable
    QAction* aCompare;         // Chart > "Compare with log..."
    QMenu* RemoveCompared;     // Chart > "Remove compared log": one entry per log shown
    QAction* aSaveChart;       // Chart > "Save chart..."
    QAction* Exit1;
    QAction* Protocolinfo1;
    QAction* About1;

    // Handles one arrival or removal of a device; answers 1.
    int WMDeviceChange(uint32_t eventCode, uint32_t deviceType, const QString& name);

    // The port is open (set on the port-opened notice, cleared on the port-closed notice).
    bool PortConnected() const { return FPortConnected; }
    // The tester reports a test in progress (from the last reading whose status was 0 or 1).
    bool TestRunning() const { return FTestRunning; }
    // The connected flag the worker reads (FConnected).
    bool Connected() const { return FWorker->FConnected; }
    // The window's link to its tester; tests and benchmarks post through it as the tester would.
    TSerialLink& Link() { return FWorker->Link(); }

    // At start: the remembered choices, then the command line's, which win: the port to select
    // (a name that is not listed is said in the message field) and whether to connect at once.
    void ApplyStartChoices(const TRememberedChoices& remembered, const TConsoleOptions& options);
    // The part of the start choices that every window of a session shares (speed, reconnection,
    // station, register, telemetry); no port is selected, none connected, no outbox sent.
    void ApplySessionChoices(const TRememberedChoices& remembered, const TConsoleOptions& options);
    // Makes this window one tester's full view in a bench: its logs are named with their port
    // (Log_<date>_<time>_<port>.csv), a test's summary is left to its tile instead of a window of
    // its own, and Exit closes the view only.
    void BecomeBenchView();
    // Selects the port `name` for the next connect; false when it is not listed.
    bool SelectPort(const QString& name);
    // The last connection was lost rather than closed; cleared when a port opens.
    bool ConnectionLost() const { return FConnectionLost; }
    // What to remember at exit.
    TRememberedChoices Choices() const;
    // The verdicts of the tests seen.
    TTestResults& TestResults() { return *FTestResults; }
    TTelemetryLink& Telemetry() { return *FTelemetry; }
    // Draws the tests of the log at `path` beside the live ones. A file that is no log at all
    // (unreadable, empty, without the header) raises an error and nothing is drawn; rows that
    // cannot be read are skipped, and their count is said in the message field.
    void CompareWithLog(const QString& path);
    // Saves the chart to `path` (PNG, or PDF by the suffix); raises an error when it cannot.
    void SaveChart(const QString& path);

    // Re-evaluates every action's rule; also done whenever the application falls idle.
    void UpdateActions();
    // Queues a command for the worker; never waits.
    void QueueCommand(int32_t kind, double value);

  signals:
    // The connection opened or closed, or a test started or ended.
    void StateChanged();
    // A reading of a running test was charted, its TestTime the test's elapsed time.
    void ChartPointAdded(const TDeviceReading& reading);
    // The message field says `text` now (empty: nothing).
    void MessageShown(const QString& text, bool problem);

  protected:
    // AppMessage: the application-wide hook that takes the worker's messages.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildLayout();
    void BuildActions();
    // The chart is anchored to all four edges of the client area.
    void LayOutChart();
    void FormCreate();
    void FormDestroy();

    // Who asked for the connect command in flight.
    enum class TConnectOrigin { None, Operator, Automatic };

    bool AppMessage(const TThreadMessage& message);
    void PortOpened();
    void PortClosed(int error);
    void ShowConnectionState(bool connected);
    // The message field: `text`, cut with an ellipsis where the field is too narrow and whole in
    // its tool tip, in red when it reports a problem; an empty text hides the field.
    void ShowMessage(const QString& text, bool problem);
    void Connect(TConnectOrigin origin);
    void Reconnect(const QString& name, quint32 baud);
    // Stops waiting for a lost connection; a test it left running ends.
    void GiveUpReconnection();
    void FillRemoveComparedMenu();
    void HandleReading(const TDeviceReading& reading);
    // Test > Start: refuses setpoints that make no test and asks before one that would run the
    // cell down to 0 V, then sends Start.
    void StartTest();
    // A command of `kind` was carried out at the tester (`on`: its value was not 0).
    void CommandDone(int kind, bool on);
    // Says why a test did not start: in the message field and, once this event is handled, in
    // the error box.
    void SayNotStarted(const QString& text);
    void ShowReadingTexts();
    // Gives the cell box the focus with its text selected.
    void FocusCellBox();
    // The cell named in the Cell box; none when it is blank.
    std::optional<std::string> CellInBox() const;
    // Test > Cells...: the register's cells, made on first use.
    void ShowCells();
    // Reloads the Cells window when it is shown (a verdict recorded, the register moved).
    void RefreshCells();
    // At start: sends what waits in the outbox for the register's server, in a thread; says in
    // the message field what came of it.
    void SendOutbox();
    void ReleaseSleepLock();
    void PublishPortSelection();

    void aOpenUpdate();
    void aOpenExecute();
    void aStartUpdate();
    void aStopUpdate();
    void aResetUpdate();

    void AddChartPoints(const TDeviceReading& reading);
    // Charts the running readings that the test results placed on their test's elapsed time.
    void ChartPlacedReadings();
    void bClearClick();
    void OpenLog();
    void CloseLog();
    void WriteLogRow(const TDeviceReading& reading);
    // The log's first failed write or close: said, and told to the test results.
    void LogWriteFailed();

    void ceAButtonClick();
    void ceVButtonClick();
    void cbTButtonClick();
    void bLeftAxisClick();
    void bRightAxisClick();
    void SetpointInput(TEllipsisEdit* box, int32_t kind, const QString& title,
                       const QString& prompt);

    void Exit1Click();
    void bSaveClick();
    void About1Click();
    void StatusBar1Click();

    bool FPortConnected = false;
    bool FTestRunning = false;
    bool FConnectionLost = false;
    bool FBenchView = false;
    TPortSelection FPortSelection;               // cbPort and cbSpeed as the worker may read them
    std::unique_ptr<TPortWatcher> FPortWatcher;  // arrivals and removals of ports
    std::unique_ptr<TPortList> FPortList;        // cbPort's items
    std::unique_ptr<TTestLog> LogStream;         // the CSV log of the current connection
    std::unique_ptr<TTestResults> FTestResults;  // verdicts, their files and window
    std::unique_ptr<TTelemetryLink> FTelemetry;  // readings and verdicts to the lab's broker
    TQtMessageSink FMessageSink{this};           // the link's messages, as events to this window
    std::unique_ptr<TReaderWorker> FWorker;      // owns the link, the queue and the worker thread
    TReconnection FReconnection;
    TConnectOrigin FConnectOrigin = TConnectOrigin::None;
    platform::SleepInhibitor FSleepLock;  // held while the tester shows a test running
    bool FSleepLockAsked = false;         // for the test running now
    TConnectedPort FConnectedPort;        // recorded when the port opened
    TReadingTexts FPendingTexts;          // of the readings not shown yet
    TSetpointsAhead FSetpointsAhead;      // what a Start sent now meets at the tester
    TStartWatch FStartWatch;              // whether the last Start took
    QTimer* FDisplayFrame = nullptr;      // shows them; child of this window
    QPointer<TCellsWindow> FCells;        // made when first asked for; child of this window

    // Sends the outbox at start; made by the first sending, child of this window.
    TBackgroundWorker* FOutboxSender = nullptr;
};
