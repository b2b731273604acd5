#pragma once
// The Cells window: the register's cells in a table (filtered by name as the operator types,
// sorted by any column, the rated capacity entered in place), the selected cell's tests newest
// first, and a chart of how its capacity and internal resistance went over the tests' dates.
// From there: the folder of a test's log, the chosen tests' logs drawn on the console's chart
// (CompareWanted), a test given to a cell, verdict files imported and the cells exported as CSV.
//
// It never blocks the console, nor itself: the register is opened, read and written by a worker
// of the window's own (its own connection, one request after another), whose answers come back
// through the event loop. Meanwhile the window says "Reading the register..." and stays usable:
// the filter, the table shown, Close. Each load opens the register anew where the console keeps
// it now, so a register that moved is followed; a register that cannot be opened or read shows
// its error in the window's place of the table, and a failed write is said in the window's status
// line: never a box. The register stays open between loads for the window's own writes.
//
// Window's thread only; the register only on the worker's thread.

#include <QMainWindow>
#include <QSet>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "records/Register.h"

class TBackgroundWorker;

class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTableView;
class TCellFadeChart;
class TPackDialog;
class TCellTestsModel;
class TCellsFilter;
class TCellsTableModel;

// Where the console keeps the register now (a file or a server, as TRegister::Open takes it);
// asked on the window's thread at each load.
using TRegisterLocation = std::function<std::string()>;

class TCellsWindow : public QMainWindow {
    Q_OBJECT

  public:
    // `parent` (the console) keeps the window above it and owns it; nothing is loaded before
    // Present or Refresh.
    explicit TCellsWindow(TRegisterLocation location, QWidget* parent = nullptr);
    // Gives a write on its way a moment (kExitBound), then ends the worker.
    ~TCellsWindow() override;

    // Loads the register anew (opening it again), keeping the filter, the order, the selected cell
    // and its selected tests where they are still there. A load asked for while one is on its way
    // follows it.
    void Refresh();
    // Refresh, then shows the window and brings it forward.
    void Present();

    // What the window's controls do, without their dialogs. Each asks the worker and returns; the
    // answer is shown when it comes (Busy() is false again), with how it went in the status line
    // (Message).
    void SelectCell(const QString& cell);
    QString SelectedCell() const;
    // Records verdict files and folders of them (TRegister::Import), then reloads.
    void Import(const QStringList& paths);
    // Writes the cells shown (filtered, in the table's order) as CSV to `path`.
    bool ExportCsv(const QString& path);
    // Opens the pack dialog on the cells shown; it closes itself, or with this window.
    TPackDialog* BuildPack();
    // Gives the selected tests to `cell`, then reloads with `cell` selected.
    void AssignSelectedTests(const QString& cell);
    // Emits CompareWanted with the logs of the selected tests that are still there.
    void CompareSelectedTests();
    // Shows the log of the selected test in the file manager.
    void OpenSelectedLogFolder();

    // The register's error shown in the table's place; empty while the table is shown.
    QString ErrorText() const;
    // The status line.
    QString Message() const;
    // Something asked of the register has not been answered and shown yet.
    bool Busy() const;

    // How long a write on its way when the window goes may still take.
    static constexpr std::chrono::milliseconds kExitBound{2000};

  signals:
    // The logs to draw beside the live test on the console's chart, in the tests' order; each an
    // existing file.
    void CompareWanted(const QStringList& logs);
    // Everything asked of the register is answered and shown: Busy() turned false.
    void Settled();

  private:
    void BuildMenu();
    QWidget* BuildTables();
    QWidget* BuildErrorPage();
    void SetColumnWidths();
    // Opens the register and reads its cells, then selects `cell` (or the first one shown) and
    // those of its tests whose ids are in `tests`; shows the error instead when it cannot.
    void Load(const QString& cell, const QSet<int64_t>& tests);
    void ShowCount();
    void ShowError(const QString& text);
    // Shows the tests and the chart of the selected cell (nothing when none is selected), once
    // the worker has read them.
    void ShowSelectedCell();
    // Shows `history` as the tests of `cell`, those of `tests` selected.
    void ShowHistory(const QString& cell, const TCellHistory& history, const QSet<int64_t>& tests);
    // Asks the worker to run `work` on the register (the one the last load opened; it throws the
    // load's error when there is none), then calls `done` with its result on this thread.
    // `what` is said while the answer is on its way.
    template <typename TWork, typename TDone>
    void Ask(const QString& what, TWork work, TDone done);
    void ShowBusy();
    void SelectFirstWhenNone();
    void Rate(const QString& cell, double ratedAh);
    void Say(const QString& text, bool problem, const QString& details = {});
    void UpdateButtons();
    std::vector<int> SelectedTestRows() const;
    void ChooseImport(bool folder);
    void ChooseExport();
    void ChooseCellForTests();
    // The cells the table shows (filtered), in its order.
    std::vector<TCellSummary> ShownCells() const;

    // The worker's side: the register as last opened, or why it could not be; used only by the
    // worker's jobs, one after another.
    struct TWorkerSide {
        std::unique_ptr<TRegister> Register;
        std::string Error;
    };

    TRegisterLocation FLocation;
    std::shared_ptr<TWorkerSide> FSide;
    std::unique_ptr<TBackgroundWorker> FWorker;
    bool FReadable = false;  // the last load read the register; false while the error is shown
    bool FLoading = false;   // a load is on its way
    // A load asked for while one was on its way: what it keeps selected.
    std::optional<std::pair<QString, QSet<int64_t>>> FNextLoad;
    uint64_t FLoads = 0;           // loads asked for: a cell's tests read before the last are old
    QSet<int64_t> FTestsToSelect;  // of the cell a load selects, once its tests are read
    TCellsTableModel* FCells;      // children of this window
    TCellsFilter* FFilter;
    TCellTestsModel* FTests;
    QStackedWidget* FPages = nullptr;  // the tables, or the error
    QLabel* FError = nullptr;
    QLineEdit* FFilterBox = nullptr;
    QLabel* FCount = nullptr;
    QTableView* FCellsView = nullptr;
    QTableView* FTestsView = nullptr;
    TCellFadeChart* FChart = nullptr;
    QPushButton* FOpenLog = nullptr;
    QPushButton* FCompare = nullptr;
    QPushButton* FAssign = nullptr;
    QLabel* FMessage = nullptr;
    QLabel* FBusy = nullptr;  // what the worker is doing
    QString FShownCell;       // whose tests are shown, or on their way
    QString FHistoryOf;       // whose tests are shown
};
