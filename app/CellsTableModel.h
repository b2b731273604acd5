#pragma once
// The register's cells as a table for a view: cell, tests, capacity (Ah), IR (mΩ), state of
// health (%), rated capacity (Ah), last tested; one row per cell, no widget per row, so ten
// thousand cells cost no more than the rows on screen. Numbers are written in the user's locale
// (FormatFixed), "-" where unknown; the rated capacity is typed the same way, and an entry is
// handed on through RatingEntered for the owner to write to the register: the model itself holds
// no register.
//
// TCellsFilter over it narrows the rows to cells whose name holds a text and sorts any column:
// names in natural order ("cell 2" before "cell 10"), numbers as numbers, unknown values last in
// either direction.
//
// Window's thread only.

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <optional>
#include <vector>

#include "records/Register.h"

class TCellsTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum TColumn { kCell, kTests, kCapacity, kIr, kSoh, kRated, kLastTested, kColumnCount };

    explicit TCellsTableModel(QObject* parent = nullptr);

    // The name of the row that stands for the tests without a cell: shown as "(no cell)", never
    // the name of a cell (those have no control characters), not rated.
    static const QString kNoCell;

    // Replaces every row; `unassigned` tests without a cell add the row kNoCell.
    void SetCells(std::vector<TCellSummary> cells, int64_t unassigned = 0);
    // Replaces the row of `cell.Cell`, when there is one.
    void UpdateCell(const TCellSummary& cell);

    const TCellSummary& Cell(int row) const { return FRows[row].Summary; }
    const QString& Name(int row) const { return FRows[row].Name; }
    // The row of `cell`, or -1.
    int RowOf(const QString& cell) const;
    // Whether row `left` goes before row `right` by `column` in ascending order; unknown values
    // compare as neither (the filter places them).
    bool Less(int column, int left, int right) const;
    // Whether `column` of `row` has no value.
    bool Unknown(int column, int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The rated capacity column takes a decimal number in the user's locale, above 0; an empty
    // text changes nothing. Emits RatingEntered or RatingRefused; the row itself changes only
    // through UpdateCell, with what the register then holds.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  signals:
    void RatingEntered(const QString& cell, double ratedAh);
    void RatingRefused(const QString& cell, const QString& text);

  private:
    struct TRow {
        TCellSummary Summary;
        QString Name;
        std::optional<int64_t> LastTestedS;  // LastTested as seconds since the epoch, UTC
        QString LastTestedText;              // as shown
    };
    static TRow MakeRow(TCellSummary cell);
    std::optional<double> Number(int column, int row) const;

    std::vector<TRow> FRows;  // by name, as the register lists them
};

class TCellsFilter : public QSortFilterProxyModel {
    Q_OBJECT

  public:
    // `cells` must outlive the filter.
    explicit TCellsFilter(TCellsTableModel* cells, QObject* parent = nullptr);

    // Rows whose cell name holds `text` (any case); an empty text passes every row.
    void SetText(const QString& text);

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

  private:
    TCellsTableModel* FCells;
    QString FText;
};

// A moment as the Cells window shows it, "yyyy-MM-dd HH:mm", as its station's clock read it.
QString LocalMinutesText(const TLocalStamp& stamp);

// Natural order of names: runs of digits compare as numbers, the rest without regard to case.
bool NaturalLess(const QString& left, const QString& right);
