#pragma once
// The bench: up to sixteen testers in one window, a tile each (TBenchTile), laid out in a grid
// that fills the window. Above the tiles: one set of setpoints (current, cutoff, time) applied to
// every connected tester that is not running, Start all (F5) and Stop all (Shift+F5), and the port
// list that ports are added from. Each tester keeps its own connection, log
// (Log_<date>_<time>_<port>.csv), verdicts, register record and telemetry, in its full view; one
// tester's fault changes only its tile. Closing while tests run asks whether to stop them, leave
// them running or stay. Window's thread only.

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "app/ConsoleOptions.h"
#include "app/RememberedChoices.h"

class QAction;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class TBenchTile;
class TPortList;
class TPortWatcher;
class TTestLog;

class TBenchWindow : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kMostTesters = 16;
    // Makes the log of a tester's connections (tests give one a folder of their own).
    using TLogMaker = std::function<std::unique_ptr<TTestLog>()>;

    // Every tester's view takes the session's choices of `remembered` and `options` (speed,
    // reconnection, station, register, telemetry).
    TBenchWindow(TRememberedChoices remembered, TConsoleOptions options, TLogMaker makeLog = {},
                 QWidget* parent = nullptr);
    ~TBenchWindow() override;

    // A tile for `port` at the end; none (and a message) when it has one already or the bench is
    // full.
    TBenchTile* AddTester(const QString& port);
    // Removes the tile, ending its connection (a test left running goes on at the tester).
    void RemoveTester(TBenchTile* tile);
    const std::vector<TBenchTile*>& Tiles() const { return FTiles; }
    QStringList Ports() const;

    // Sends the setpoints typed above the tiles (blank boxes are left out) to every connected
    // tester that is not running; refuses a value no tester takes, with nothing sent.
    void ApplySetpoints();
    void ConnectAll();
    // F5: Start at every connected idle tester; Shift+F5: Stop at every running one.
    void StartAll();
    void StopAll();

    QLineEdit* eCurrent;
    QLineEdit* eCutoff;
    QLineEdit* eTime;
    QPushButton* bApply;
    QComboBox* cbAddPort;
    QPushButton* bAdd;
    QLabel* BenchMessage;
    QAction* aConnectAll;
    QAction* aStartAll;
    QAction* aStopAll;

  signals:
    // The bench closes with these ports on its tiles (to be remembered).
    void Closing(const QStringList& ports);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void LayOutTiles();
    void Say(const QString& text);
    bool AnyRunning() const;
    // Stop at every running tester, then waits (bounded) until none runs.
    void StopAllAndWait();

    TRememberedChoices FRemembered;
    TConsoleOptions FOptions;
    TLogMaker FMakeLog;
    std::vector<TBenchTile*> FTiles;  // children of the grid's widget
    QGridLayout* FGrid;
    std::unique_ptr<TPortWatcher> FPortWatcher;
    std::unique_ptr<TPortList> FPortList;
};
