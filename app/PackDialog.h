#pragma once
// Cells > Register > Build pack...: the cells the Cells window shows (its filter), grouped into a
// pack of S groups in series of P cells in parallel, with the same filters as kelvo-cells pack;
// the groups in a table and their capacities as bars, saved as CSV or as a sheet to print.
// Errors are said in the dialog's message line. Window's thread.

#include <QDialog>
#include <optional>
#include <vector>

#include "records/Pack.h"
#include "records/Register.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QCustomPlot;

class TPackDialog : public QDialog {
    Q_OBJECT

  public:
    TPackDialog(std::vector<TCellSummary> cells, QWidget* parent = nullptr);

    // What its controls do, without their file dialogs.
    void SetShape(int series, int parallel);
    // Groups the cells that pass the filters; false (said why) when too few do or a filter is
    // not a number.
    bool Build();
    bool SaveCsv(const QString& path);
    bool SaveSheet(const QString& path);

    const std::optional<TPack>& Pack() const { return FPack; }
    QString Message() const;

  private:
    void Say(const QString& text, bool problem);
    void ShowPack();

    const std::vector<TCellSummary> FCells;
    std::optional<TPack> FPack;
    QSpinBox* FSeries;
    QSpinBox* FParallel;
    QLineEdit* FMinSoh;
    QLineEdit* FMaxIr;
    QLineEdit* FMinCapacity;
    QLineEdit* FTestedSince;
    QTableWidget* FGroups;
    QCustomPlot* FBars;
    QLabel* FMessage;
    QPushButton* FSaveCsv;
    QPushButton* FSaveSheet;
};
