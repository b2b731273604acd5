#include "app/CellsWindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSet>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "app/CellFadeChart.h"
#include "app/CellTestsModel.h"
#include "app/CellsTableModel.h"
#include "app/PackDialog.h"
#include "platform/FileManager.h"
#include "support/LocaleText.h"
#include "threads/qt/BackgroundWorker.h"

namespace {

enum TPage { kTablesPage, kErrorPage };

const QString kReading = QStringLiteral("Reading the register...");
const QString kWriting = QStringLiteral("Writing to the register...");

// What a load read, or why it could not.
struct TLoaded {
    std::string Location;
    std::vector<TCellSummary> Cells;
    int64_t Unassigned = 0;
    std::optional<std::string> Error;
};

// A job's answer: its value, or the register's error.
template <typename T>
struct TAnswer {
    std::optional<T> Value;
    std::string Error;
};

// The rows of `view` whose whole row is selected, in the view's order.
std::vector<int> SelectedRows(const QTableView* view) {
    std::vector<int> rows;
    for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Sets each column of `view` wide enough for its title and for `samples` (one per column).
void FitColumns(QTableView* view, const std::vector<const char*>& samples) {
    const QFontMetrics metrics = view->fontMetrics();
    const QFontMetrics headerMetrics = view->horizontalHeader()->fontMetrics();
    const int padding = 4 * metrics.averageCharWidth();
    for (int column = 0; column < static_cast<int>(samples.size()); ++column) {
        const QString title = view->model()->headerData(column, Qt::Horizontal).toString();
        const int wide = std::max(metrics.horizontalAdvance(QString::fromUtf8(samples[column])),
                                  headerMetrics.horizontalAdvance(title) + metrics.height());
        view->setColumnWidth(column, wide + padding);
    }
}

void SetUpTableView(QTableView* view) {
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setAlternatingRowColors(true);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    // Rows of one height: the view never measures ten thousand of them.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(true);
}

}  // namespace

TCellsWindow::TCellsWindow(TRegisterLocation location, QWidget* parent)
    : QMainWindow(parent),
      FLocation(std::move(location)),
      FSide(std::make_shared<TWorkerSide>()),
      FWorker(std::make_unique<TBackgroundWorker>()),
      FCells(new TCellsTableModel(this)),
      FFilter(new TCellsFilter(FCells, this)),
      FTests(new TCellTestsModel(this)) {
    setObjectName(QStringLiteral("CellsWindow"));
    setWindowTitle(QStringLiteral("Cells"));
    BuildMenu();
    FPages = new QStackedWidget(this);
    FPages->insertWidget(kTablesPage, BuildTables());
    FPages->insertWidget(kErrorPage, BuildErrorPage());
    setCentralWidget(FPages);
    FMessage = new QLabel(this);
    FMessage->setObjectName(QStringLiteral("CellsMessage"));
    FMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(FMessage, 1);
    FBusy = new QLabel(this);
    FBusy->setObjectName(QStringLiteral("CellsBusy"));
    FBusy->hide();
    statusBar()->addPermanentWidget(FBusy);
    SetColumnWidths();
    connect(FWorker.get(), &TBackgroundWorker::Idle, this, [this] {
        ShowBusy();
        emit Settled();
    });
    resize(1040, 820);

    connect(FCells, &TCellsTableModel::RatingEntered, this, &TCellsWindow::Rate);
    connect(FCells, &TCellsTableModel::RatingRefused, this,
            [this](const QString& cell, const QString& text) {
                Say(QStringLiteral("Rated capacity of %1 not changed: \"%2\" is not a number "
                                   "above 0 (like %3)")
                        .arg(cell, text, QString::fromStdString(FormatFixed(2.5, 1))),
                    true);
            });
}

TCellsWindow::~TCellsWindow() {
    // Closing the window below moves the focus out of an editor still open in the table, which
    // then commits what was typed: not into a window half destroyed.
    disconnect(FCells, nullptr, this, nullptr);
    // A read is of no use any more; a write gets a moment. A server that does not answer is
    // left at once after that.
    FWorker->Finish(kExitBound);
}

template <typename TWork, typename TDone>
void TCellsWindow::Ask(const QString& what, TWork work, TDone done) {
    using TValue = std::invoke_result_t<TWork&, TRegister&>;
    FWorker->Post(
        [side = FSide, work = std::move(work)]() mutable {
            TAnswer<TValue> answer;
            try {
                if (!side->Register) throw TRegisterError(side->Error);
                answer.Value.emplace(work(*side->Register));
            } catch (const std::exception& error) {
                answer.Error = error.what();
            }
            return answer;
        },
        std::move(done));
    FBusy->setText(what);
    ShowBusy();
}

void TCellsWindow::ShowBusy() {
    FBusy->setVisible(Busy());
}

bool TCellsWindow::Busy() const {
    return FWorker->Pending() > 0;
}

void TCellsWindow::BuildMenu() {
    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Register"));
    QAction* importFolder = menu->addAction(QStringLiteral("Import folder..."));
    importFolder->setObjectName(QStringLiteral("aImportFolder"));
    importFolder->setToolTip(QStringLiteral("Record the verdicts (*_test*.json) in a folder"));
    connect(importFolder, &QAction::triggered, this, [this] { ChooseImport(true); });
    QAction* importFiles = menu->addAction(QStringLiteral("Import files..."));
    importFiles->setObjectName(QStringLiteral("aImportFiles"));
    connect(importFiles, &QAction::triggered, this, [this] { ChooseImport(false); });
    QAction* exportCsv = menu->addAction(QStringLiteral("Export..."));
    exportCsv->setObjectName(QStringLiteral("aExport"));
    connect(exportCsv, &QAction::triggered, this, &TCellsWindow::ChooseExport);
    QAction* pack = menu->addAction(QStringLiteral("Build pack..."));
    pack->setObjectName(QStringLiteral("aBuildPack"));
    pack->setToolTip(QStringLiteral("Group the cells shown into a pack of balanced groups"));
    connect(pack, &QAction::triggered, this, &TCellsWindow::BuildPack);
    menu->addSeparator();
    // No F5: at the bench that key starts the next test.
    QAction* reload = menu->addAction(QStringLiteral("Reload"));
    connect(reload, &QAction::triggered, this, &TCellsWindow::Refresh);
    QAction* close = menu->addAction(QStringLiteral("Close"));
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, &QWidget::close);
}

QWidget* TCellsWindow::BuildTables() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);

    auto* filterRow = new QHBoxLayout;
    auto* filterLabel = new QLabel(QStringLiteral("&Cell:"), page);
    FFilterBox = new QLineEdit(page);
    FFilterBox->setObjectName(QStringLiteral("CellsFilter"));
    FFilterBox->setPlaceholderText(QStringLiteral("part of a cell's name"));
    FFilterBox->setClearButtonEnabled(true);
    filterLabel->setBuddy(FFilterBox);
    FCount = new QLabel(page);
    FCount->setObjectName(QStringLiteral("CellsCount"));
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(FFilterBox, 1);
    filterRow->addWidget(FCount);
    layout->addLayout(filterRow);

    FCellsView = new QTableView(page);
    FCellsView->setObjectName(QStringLiteral("CellsTable"));
    SetUpTableView(FCellsView);
    FCellsView->setSelectionMode(QAbstractItemView::SingleSelection);
    FCellsView->setEditTriggers(QAbstractItemView::DoubleClicked |
                                QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed);
    FCellsView->setModel(FFilter);
    FCellsView->horizontalHeader()->setSortIndicator(TCellsTableModel::kCell, Qt::AscendingOrder);
    FCellsView->setSortingEnabled(true);

    auto* testsPage = new QWidget(page);
    auto* testsLayout = new QVBoxLayout(testsPage);
    testsLayout->setContentsMargins(0, 0, 0, 0);
    FTestsView = new QTableView(testsPage);
    FTestsView->setObjectName(QStringLiteral("CellTests"));
    SetUpTableView(FTestsView);
    FTestsView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FTestsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTestsView->setModel(FTests);
    testsLayout->addWidget(FTestsView);
    auto* buttons = new QHBoxLayout;
    FOpenLog = new QPushButton(QStringLiteral("Open log folder"), testsPage);
    FOpenLog->setObjectName(QStringLiteral("bOpenLogFolder"));
    FCompare = new QPushButton(QStringLiteral("Compare"), testsPage);
    FCompare->setObjectName(QStringLiteral("bCompare"));
    FCompare->setToolTip(QStringLiteral("Draw the selected tests' logs on the console's chart"));
    FAssign = new QPushButton(QStringLiteral("Assign to cell..."), testsPage);
    FAssign->setObjectName(QStringLiteral("bAssign"));
    buttons->addWidget(FOpenLog);
    buttons->addWidget(FCompare);
    buttons->addWidget(FAssign);
    buttons->addStretch(1);
    testsLayout->addLayout(buttons);

    FChart = new TCellFadeChart(page);
    FChart->setObjectName(QStringLiteral("FadeChart"));
    FChart->setMinimumHeight(200);

    auto* splitter = new QSplitter(Qt::Vertical, page);
    splitter->addWidget(FCellsView);
    splitter->addWidget(testsPage);
    splitter->addWidget(FChart);
    splitter->setChildrenCollapsible(false);
    splitter->setSizes({240, 220, 300});
    layout->addWidget(splitter, 1);

    connect(FFilterBox, &QLineEdit::textChanged, this, [this](const QString& text) {
        FFilter->SetText(text);
        SelectFirstWhenNone();
        ShowCount();
    });
    connect(FFilterBox, &QLineEdit::returnPressed, FCellsView, qOverload<>(&QWidget::setFocus));
    connect(FCellsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TCellsWindow::ShowSelectedCell);
    connect(FTestsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TCellsWindow::UpdateButtons);
    connect(FOpenLog, &QPushButton::clicked, this, &TCellsWindow::OpenSelectedLogFolder);
    connect(FCompare, &QPushButton::clicked, this, &TCellsWindow::CompareSelectedTests);
    connect(FAssign, &QPushButton::clicked, this, &TCellsWindow::ChooseCellForTests);
    UpdateButtons();
    return page;
}

QWidget* TCellsWindow::BuildErrorPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    FError = new QLabel(page);
    FError->setObjectName(QStringLiteral("CellsError"));
    FError->setWordWrap(true);
    FError->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FError->setAlignment(Qt::AlignCenter);
    auto* retry = new QPushButton(QStringLiteral("Try again"), page);
    connect(retry, &QPushButton::clicked, this, &TCellsWindow::Refresh);
    layout->addStretch(1);
    layout->addWidget(FError);
    layout->addWidget(retry, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return page;
}

void TCellsWindow::SetColumnWidths() {
    FitColumns(FCellsView, {"LGHG2-2024-0001", "1000", "00.000", "0000.0", "100.0", "00.000",
                            "2024-12-31 23:59"});
    FitColumns(FTestsView, {"100000", "2024-12-31 23:59", "connection-lost", "00.000", "000.000",
                            "00.000", "0000.0", "100:00:00", "bench-station"});
}

void TCellsWindow::Present() {
    Refresh();
    show();
    raise();
    activateWindow();
}

void TCellsWindow::Refresh() {
    QSet<int64_t> tests;
    for (const int row : SelectedTestRows()) tests.insert(FTests->Test(row).Id);
    Load(SelectedCell().isEmpty() ? FShownCell : SelectedCell(), tests);
}

void TCellsWindow::Load(const QString& cell, const QSet<int64_t>& tests) {
    if (FLoading) {
        FNextLoad.emplace(cell, tests);
        return;
    }
    FLoading = true;
    ++FLoads;
    FWorker->Post(
        [side = FSide, where = FLocation()] {
            TLoaded loaded;
            try {
                side->Register.reset();  // one connection at a time
                side->Register = TRegister::Open(where);
                loaded.Location = side->Register->Location();
                loaded.Cells = side->Register->Cells();
                loaded.Unassigned = side->Register->UnassignedCount();
            } catch (const std::exception& error) {
                side->Register.reset();
                side->Error = error.what();
                loaded.Error = error.what();
            }
            return loaded;
        },
        [this, cell, tests](TLoaded loaded) {
            FLoading = false;
            if (loaded.Error) {
                ShowError(QString::fromStdString(*loaded.Error));
            } else {
                FReadable = true;
                setWindowTitle(
                    QStringLiteral("Cells - %1").arg(QString::fromStdString(loaded.Location)));
                {
                    // The selection the new rows end is made again below: the tests shown stay
                    // until the cell's are read anew.
                    const QSignalBlocker quiet(FCellsView->selectionModel());
                    FCells->SetCells(std::move(loaded.Cells), loaded.Unassigned);
                }
                FPages->setCurrentIndex(kTablesPage);
                ShowCount();
                FShownCell.clear();  // the selected cell's tests are read anew
                FTestsToSelect = tests;
                if (!cell.isEmpty()) SelectCell(cell);
                SelectFirstWhenNone();
            }
            if (FNextLoad) {
                const auto [nextCell, nextTests] = *std::exchange(FNextLoad, std::nullopt);
                Load(nextCell, nextTests);
            }
        });
    FBusy->setText(kReading);
    ShowCount();
    ShowBusy();
}

void TCellsWindow::ShowCount() {
    if (FLoading && !FReadable) {
        FCount->setText(kReading);
        return;
    }
    FCount->setText(
        FFilter->rowCount() == FCells->rowCount()
            ? QStringLiteral("%1 cells").arg(FCells->rowCount())
            : QStringLiteral("%1 of %2 cells").arg(FFilter->rowCount()).arg(FCells->rowCount()));
}

void TCellsWindow::ShowError(const QString& text) {
    FReadable = false;
    FTestsToSelect.clear();
    FHistoryOf.clear();
    FError->setText(text);
    FPages->setCurrentIndex(kErrorPage);
    FCells->SetCells({});
    FTests->SetTests({});
    FShownCell.clear();
    FChart->ShowNothing();
    UpdateButtons();
}

QString TCellsWindow::ErrorText() const {
    return FPages->currentIndex() == kErrorPage ? FError->text() : QString();
}

QString TCellsWindow::Message() const {
    return FMessage->text();
}

void TCellsWindow::Say(const QString& text, bool problem, const QString& details) {
    FMessage->setText(text);
    FMessage->setToolTip(details.isEmpty() ? text : details);
    FMessage->setStyleSheet(problem ? QStringLiteral("color: #c00000") : QString());
}

QString TCellsWindow::SelectedCell() const {
    const QModelIndexList rows = FCellsView->selectionModel()->selectedRows();
    if (rows.isEmpty()) return {};
    return FCells->Name(FFilter->mapToSource(rows.front()).row());
}

void TCellsWindow::SelectCell(const QString& cell) {
    const int row = FCells->RowOf(cell);
    if (row < 0) return;
    const QModelIndex shown = FFilter->mapFromSource(FCells->index(row, 0));
    if (!shown.isValid()) return;  // filtered out
    FCellsView->selectionModel()->setCurrentIndex(
        shown, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    FCellsView->scrollTo(shown);
}

void TCellsWindow::SelectFirstWhenNone() {
    if (FCellsView->selectionModel()->hasSelection() || FFilter->rowCount() == 0) {
        ShowSelectedCell();
        return;
    }
    FCellsView->selectionModel()->setCurrentIndex(
        FFilter->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    FCellsView->scrollToTop();
}

void TCellsWindow::ShowSelectedCell() {
    const QString cell = SelectedCell();
    if (cell == FShownCell && !cell.isEmpty()) return;
    FShownCell = cell;
    const QSet<int64_t> tests = std::exchange(FTestsToSelect, {});
    // Another cell's tests go at once; the same cell's stay until they are read anew.
    if (cell != FHistoryOf || cell.isEmpty()) {
        FHistoryOf.clear();
        FTests->SetTests({});
        FChart->ShowNothing();
        UpdateButtons();
    }
    if (cell.isEmpty() || !FReadable) return;
    const uint64_t load = FLoads;
    Ask(
        kReading,
        [name = cell.toStdString(), unassigned = cell == TCellsTableModel::kNoCell](
            TRegister& reg) -> std::optional<TCellHistory> {
            // Tests imported from before cells were named: given one with Assign.
            if (unassigned) return TCellHistory{{}, reg.UnassignedTests()};
            return reg.Cell(name);
        },
        [this, cell, load, tests](TAnswer<std::optional<TCellHistory>> answer) {
            // Another cell was chosen meanwhile, or the register is being read anew.
            if (cell != FShownCell || load != FLoads || !FReadable) return;
            if (!answer.Value) {
                ShowError(QString::fromStdString(answer.Error));
            } else if (*answer.Value) {
                ShowHistory(cell, **answer.Value, tests);
            } else {
                ShowHistory(cell, {}, {});  // gone meanwhile
            }
        });
}

void TCellsWindow::ShowHistory(const QString& cell, const TCellHistory& history,
                               const QSet<int64_t>& tests) {
    FHistoryOf = cell;
    FTests->SetTests(history.Tests);
    FChart->Show(cell == TCellsTableModel::kNoCell ? QStringLiteral("(no cell)") : cell,
                 history.Tests, history.Cell.RatedAh);
    if (!tests.isEmpty()) {
        QItemSelection keep;
        for (int row = 0; row < FTests->rowCount(); ++row) {
            if (tests.contains(FTests->Test(row).Id)) {
                keep.select(FTests->index(row, 0), FTests->index(row, TCellTestsModel::kLog));
            }
        }
        FTestsView->selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect);
    }
    UpdateButtons();
}

void TCellsWindow::Rate(const QString& cell, double ratedAh) {
    if (!FReadable) return;
    Ask(
        kWriting,
        [name = cell.toStdString(), ratedAh](TRegister& reg) {
            reg.Rate(name, ratedAh);
            return reg.Cell(name);
        },
        [this, cell, ratedAh](TAnswer<std::optional<TCellHistory>> answer) {
            if (!answer.Value) {
                Say(QStringLiteral("Rated capacity of %1 not written: %2")
                        .arg(cell, QString::fromStdString(answer.Error)),
                    true);
                return;
            }
            if (!*answer.Value) return;
            const TCellHistory& history = **answer.Value;
            FCells->UpdateCell(history.Cell);
            if (cell == FShownCell) FChart->Show(cell, history.Tests, history.Cell.RatedAh);
            Say(QStringLiteral("Rated capacity of %1: %2 Ah")
                    .arg(cell, QString::fromStdString(FormatFixed(ratedAh, 3))),
                false);
        });
}

std::vector<int> TCellsWindow::SelectedTestRows() const {
    return SelectedRows(FTestsView);
}

void TCellsWindow::UpdateButtons() {
    const std::vector<int> rows = SelectedTestRows();
    bool logs = false;
    for (const int row : rows) logs = logs || !LogsOf(FTests->Test(row)).isEmpty();
    FOpenLog->setEnabled(rows.size() == 1 && logs);
    FCompare->setEnabled(logs);
    FAssign->setEnabled(!rows.empty() && FReadable);
}

void TCellsWindow::CompareSelectedTests() {
    QStringList logs, missing;
    for (const int row : SelectedTestRows()) {
        for (const QString& log : LogsOf(FTests->Test(row))) {
            if (logs.contains(log) || missing.contains(log)) continue;
            (QFileInfo(log).isFile() ? logs : missing).append(log);
        }
    }
    if (!missing.isEmpty()) {
        Say(QStringLiteral("%1 of the logs are not there any more: %2")
                .arg(missing.size())
                .arg(missing.front()),
            true, missing.join('\n'));
    } else if (!logs.isEmpty()) {
        Say(QStringLiteral("%1 logs handed to the console's chart").arg(logs.size()), false);
    }
    if (!logs.isEmpty()) emit CompareWanted(logs);
}

void TCellsWindow::OpenSelectedLogFolder() {
    const std::vector<int> rows = SelectedTestRows();
    if (rows.size() != 1) return;
    const QStringList logs = LogsOf(FTests->Test(rows.front()));
    if (logs.isEmpty()) return;
    const QString log = logs.back();  // the one the test ended in
    const QFileInfo file(log);
    if (file.isFile()) {
        platform::ShowFileInFileManager(QFile::encodeName(log).toStdString());
        Say(QString(), false);
    } else if (file.dir().exists()) {
        platform::ShowFolderInFileManager(QFile::encodeName(file.path()).toStdString());
        Say(QStringLiteral("The log is not there any more: %1").arg(log), true);
    } else {
        Say(QStringLiteral("Neither the log nor its folder is there any more: %1").arg(log), true);
    }
}

void TCellsWindow::AssignSelectedTests(const QString& cell) {
    const QString name = cell.trimmed();
    const std::vector<int> rows = SelectedTestRows();
    if (!FReadable || name.isEmpty() || rows.empty()) return;
    std::vector<int64_t> ids;
    for (const int row : rows) ids.push_back(FTests->Test(row).Id);
    struct TAssigned {
        QSet<int64_t> Ids;
        std::string Error;  // why the rest were not
    };
    Ask(
        kWriting,
        [ids, to = name.toStdString()](TRegister& reg) {
            TAssigned assigned;
            try {
                for (const int64_t id : ids) {
                    if (reg.Assign(id, to)) assigned.Ids.insert(id);
                }
            } catch (const std::exception& error) {
                assigned.Error = error.what();
            }
            return assigned;
        },
        [this, name](TAnswer<TAssigned> answer) {
            const TAssigned assigned = answer.Value.value_or(TAssigned{{}, answer.Error});
            if (!assigned.Error.empty()) {
                Say(QStringLiteral("Not assigned to %1: %2")
                        .arg(name, QString::fromStdString(assigned.Error)),
                    true);
            }
            if (assigned.Ids.isEmpty()) return;
            // The cell must be in sight, its tests (with the ones given to it) shown.
            if (!name.contains(FFilterBox->text(), Qt::CaseInsensitive)) FFilterBox->clear();
            Load(name, assigned.Ids);
            Say(QStringLiteral("%1 %2 assigned to cell %3")
                    .arg(assigned.Ids.size())
                    .arg(assigned.Ids.size() == 1 ? "test" : "tests", name),
                false);
        });
}

void TCellsWindow::Import(const QStringList& paths) {
    if (paths.isEmpty()) return;
    if (!FReadable) {
        Say(QStringLiteral("Nothing imported: the register cannot be opened"), true);
        return;
    }
    std::vector<std::string> files;
    for (const QString& path : paths) files.push_back(QFile::encodeName(path).toStdString());
    Ask(
        kWriting, [files](TRegister& reg) { return reg.Import(files, std::nullopt); },
        [this](TAnswer<TImportResult> answer) {
            if (!answer.Value) {
                Say(QStringLiteral("Import stopped: %1").arg(QString::fromStdString(answer.Error)),
                    true);
                return;
            }
            Refresh();
            QStringList unreadable;
            for (const std::string& file : answer.Value->Unreadable)
                unreadable.append(QFile::decodeName(file.c_str()));
            Say(QStringLiteral("Imported %1, already there %2, unreadable %3")
                    .arg(answer.Value->Imported)
                    .arg(answer.Value->AlreadyThere)
                    .arg(unreadable.size()),
                !unreadable.isEmpty(),
                unreadable.isEmpty() ? QString() : "Unreadable:\n" + unreadable.join('\n'));
        });
}

std::vector<TCellSummary> TCellsWindow::ShownCells() const {
    std::vector<TCellSummary> shown;
    shown.reserve(FFilter->rowCount());
    for (int row = 0; row < FFilter->rowCount(); ++row) {
        shown.push_back(FCells->Cell(FFilter->mapToSource(FFilter->index(row, 0)).row()));
    }
    return shown;
}

TPackDialog* TCellsWindow::BuildPack() {
    auto* dialog = new TPackDialog(ShownCells(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

bool TCellsWindow::ExportCsv(const QString& path) {
    const std::vector<TCellSummary> shown = ShownCells();
    const QByteArray csv = QByteArray::fromStdString(CellsCsv(shown));
    QSaveFile file(path);
    if (!(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size() && file.commit())) {
        Say(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()), true);
        return false;
    }
    Say(QStringLiteral("Exported %1 cells to %2").arg(shown.size()).arg(path), false);
    return true;
}

void TCellsWindow::ChooseImport(bool folder) {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QStringList paths;
    if (folder) {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Import verdicts from"), documents);
        if (!chosen.isEmpty()) paths.append(chosen);
    } else {
        paths = QFileDialog::getOpenFileNames(this, QStringLiteral("Import verdicts"), documents,
                                              QStringLiteral("Verdicts (*.json);;All files (*)"));
    }
    Import(paths);
}

void TCellsWindow::ChooseExport() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export cells"), documents + "/cells.csv",
                                     QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += ".csv";
    ExportCsv(path);
}

void TCellsWindow::ChooseCellForTests() {
    const std::vector<int> rows = SelectedTestRows();
    if (rows.empty()) return;
    bool ok = false;
    const QString cell = QInputDialog::getText(
        this, QStringLiteral("Assign to cell"),
        rows.size() == 1 ? QStringLiteral("Cell of test %1:").arg(FTests->Test(rows.front()).Id)
                         : QStringLiteral("Cell of the %1 selected tests:").arg(rows.size()),
        QLineEdit::Normal, FShownCell, &ok);
    if (ok) AssignSelectedTests(cell);
}
