#pragma once
// The Cells window: the register's cells in a table (filtered by name as the operator types,
// sorted by any column, the rated capacity entered in place), the selected cell's tests newest
// first, and a chart of how its capacity and internal resistance went over the tests' dates.
// From there: the folder of a test's log, the chosen tests' logs drawn on the console's chart
// (CompareWanted), a test given to a cell, verdict files imported and the cells exported as CSV.
//
// It does not block the console. It opens the register through the console's opener every time
// it loads, so a register that moved is followed; a register that cannot be opened or read shows
// its error in the window's place of the table, and a failed write is said in the window's status
// line: never a box. The register stays open between loads for the window's own writes.
//
// Window's thread only; the register is used on it too.

#include <QMainWindow>
#include <QSet>
#include <functional>
#include <memory>

#include "records/Register.h"

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

// Opens the register where the console keeps it now; throws TRegisterError.
using TRegisterOpener = std::function<std::unique_ptr<TRegister>()>;

class TCellsWindow : public QMainWindow {
    Q_OBJECT

  public:
    // `parent` (the console) keeps the window above it and owns it; nothing is loaded before
    // Present or Refresh.
    explicit TCellsWindow(TRegisterOpener opener, QWidget* parent = nullptr);
    ~TCellsWindow() override;

    // Loads the register anew (opening it again), keeping the filter, the order, the selected cell
    // and its selected tests where they are still there.
    void Refresh();
    // Refresh, then shows the window and brings it forward.
    void Present();

    // What the window's controls do, without their dialogs. Each says how it went in the status
    // line (Message).
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

  signals:
    // The logs to draw beside the live test on the console's chart, in the tests' order; each an
    // existing file.
    void CompareWanted(const QStringList& logs);

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
    // Shows the tests and the chart of the selected cell (nothing when none is selected).
    void ShowSelectedCell();
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

    TRegisterOpener FOpener;
    std::unique_ptr<TRegister> FRegister;  // as last opened; null while the error is shown
    TCellsTableModel* FCells;              // children of this window
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
    QString FShownCell;  // whose tests are shown
};
