#include "app/CellsTableModel.h"

#include <utility>

#include "support/DateTime.h"
#include "support/LocaleText.h"
#include "support/qt/QtDateTime.h"
#include "testrun/VerdictRead.h"

namespace {

// An unknown figure shows as "-", as kelvo-cells prints it.
QString Fixed(const std::optional<double>& value, int decimals) {
    return value ? QString::fromStdString(FormatFixed(*value, decimals)) : QStringLiteral("-");
}

}  // namespace

QString LocalMinutesText(const TLocalStamp& stamp) {
    const auto [date, time] = DateAndTime(stamp.DateTime);
    return date.toString(QStringLiteral("yyyy-MM-dd")) + ' ' +
           time.toString(QStringLiteral("HH:mm"));
}

bool NaturalLess(const QString& left, const QString& right) {
    qsizetype i = 0, j = 0;
    while (i < left.size() && j < right.size()) {
        if (left[i].isDigit() && right[j].isDigit()) {
            // Compare the runs as numbers: without their leading zeros, the longer is larger.
            while (i < left.size() && left[i] == '0') ++i;
            while (j < right.size() && right[j] == '0') ++j;
            qsizetype endI = i, endJ = j;
            while (endI < left.size() && left[endI].isDigit()) ++endI;
            while (endJ < right.size() && right[endJ].isDigit()) ++endJ;
            if (endI - i != endJ - j) return endI - i < endJ - j;
            for (; i < endI; ++i, ++j) {
                if (left[i] != right[j]) return left[i] < right[j];
            }
            continue;
        }
        const QChar a = left[i].toCaseFolded(), b = right[j].toCaseFolded();
        if (a != b) return a < b;
        ++i, ++j;
    }
    if ((left.size() - i) != (right.size() - j)) return left.size() - i < right.size() - j;
    return left < right;  // "cell 02" and "cell 2", "A" and "a": some order, always the same
}

const QString TCellsTableModel::kNoCell = QStringLiteral("\u0001(no cell)");

TCellsTableModel::TCellsTableModel(QObject* parent) : QAbstractTableModel(parent) {}

TCellsTableModel::TRow TCellsTableModel::MakeRow(TCellSummary cell) {
    TRow row;
    row.Name = QString::fromStdString(cell.Cell);
    row.LastTestedText = QStringLiteral("-");
    if (cell.LastTested) {
        if (const std::optional<TLocalStamp> stamp = ParseIsoStamp(*cell.LastTested)) {
            row.LastTestedS = UtcSecond(*stamp);
            row.LastTestedText = LocalMinutesText(*stamp);
        } else {
            row.LastTestedText = QString::fromStdString(*cell.LastTested);
        }
    }
    row.Summary = std::move(cell);
    return row;
}

void TCellsTableModel::SetCells(std::vector<TCellSummary> cells, int64_t unassigned) {
    beginResetModel();
    FRows.clear();
    FRows.reserve(cells.size() + 1);
    for (TCellSummary& cell : cells) FRows.push_back(MakeRow(std::move(cell)));
    if (unassigned > 0) {
        TCellSummary none;
        none.Cell = kNoCell.toStdString();
        none.Tests = unassigned;
        FRows.push_back(MakeRow(std::move(none)));
    }
    endResetModel();
}

void TCellsTableModel::UpdateCell(const TCellSummary& cell) {
    const int row = RowOf(QString::fromStdString(cell.Cell));
    if (row < 0) return;
    FRows[row] = MakeRow(cell);
    emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

int TCellsTableModel::RowOf(const QString& cell) const {
    for (size_t row = 0; row < FRows.size(); ++row) {
        if (FRows[row].Name == cell) return static_cast<int>(row);
    }
    return -1;
}

std::optional<double> TCellsTableModel::Number(int column, int row) const {
    const TRow& line = FRows[row];
    switch (column) {
        case kTests:
            return static_cast<double>(line.Summary.Tests);
        case kCapacity:
            return line.Summary.CapacityAh;
        case kIr:
            if (line.Summary.IrOhm) return *line.Summary.IrOhm * 1000;
            return {};
        case kSoh:
            return line.Summary.SohPct;
        case kRated:
            return line.Summary.RatedAh;
        case kLastTested:
            if (line.LastTestedS) return static_cast<double>(*line.LastTestedS);
            return {};
        default:
            return {};
    }
}

bool TCellsTableModel::Unknown(int column, int row) const {
    if (column == kCell) return false;
    if (column == kLastTested) return !FRows[row].Summary.LastTested;
    return !Number(column, row);
}

bool TCellsTableModel::Less(int column, int left, int right) const {
    if (column == kCell) return NaturalLess(FRows[left].Name, FRows[right].Name);
    if (column == kLastTested && (!FRows[left].LastTestedS || !FRows[right].LastTestedS)) {
        // A date the register wrote some other way: by its text.
        return FRows[left].Summary.LastTested.value_or("") <
               FRows[right].Summary.LastTested.value_or("");
    }
    const std::optional<double> a = Number(column, left), b = Number(column, right);
    return a && b && *a < *b;
}

int TCellsTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TCellsTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TCellsTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TRow& row = FRows[index.row()];
    const int column = index.column();
    if (role == Qt::TextAlignmentRole) {
        if (column == kCell || column == kLastTested) return {};
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role == Qt::EditRole && column == kRated) {
        return row.Summary.RatedAh ? Fixed(row.Summary.RatedAh, 3) : QString();
    }
    if (role != Qt::DisplayRole) return {};
    switch (column) {
        case kCell:
            return row.Name == kNoCell ? QStringLiteral("(no cell)") : row.Name;
        case kTests:
            return QString::number(row.Summary.Tests);
        case kCapacity:
            return Fixed(row.Summary.CapacityAh, 3);
        case kIr:
            return Fixed(Number(kIr, index.row()), 1);
        case kSoh:
            return Fixed(row.Summary.SohPct, 1);
        case kRated:
            return Fixed(row.Summary.RatedAh, 3);
        case kLastTested:
            return row.LastTestedText;
        default:
            return {};
    }
}

QVariant TCellsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
        static const char* const titles[kColumnCount] = {
            "Cell", "Tests", "Capacity (Ah)", "IR (mΩ)", "SoH (%)", "Rated (Ah)", "Last tested"};
        return section >= 0 && section < kColumnCount ? QString::fromUtf8(titles[section])
                                                      : QVariant();
    }
    if (role == Qt::ToolTipRole) {
        switch (section) {
            case kCapacity:
                return QStringLiteral("Ah of the newest test that ended at the cutoff voltage");
            case kIr:
                return QStringLiteral("The newest internal resistance measured");
            case kSoh:
                return QStringLiteral(
                    "State of health: capacity / rated capacity; without a rating, / the first "
                    "capacity measured, once two tests have measured one");
            case kRated:
                return QStringLiteral("The maker's capacity; double-click to enter it");
            default:
                return {};
        }
    }
    return {};
}

Qt::ItemFlags TCellsTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == kRated && FRows[index.row()].Name != kNoCell) {
        flags |= Qt::ItemIsEditable;
    }
    return flags;
}

bool TCellsTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.column() != kRated) return false;
    const QString text = value.toString().trimmed();
    if (text.isEmpty()) return false;
    const QString& cell = FRows[index.row()].Name;
    double ratedAh = 0;
    if (!TryLocaleTextToFloat(text.toStdString(), ratedAh) || !(ratedAh > 0)) {
        emit RatingRefused(cell, text);
        return false;
    }
    emit RatingEntered(cell, ratedAh);
    return true;
}

TCellsFilter::TCellsFilter(TCellsTableModel* cells, QObject* parent)
    : QSortFilterProxyModel(parent), FCells(cells) {
    setSourceModel(cells);
}

void TCellsFilter::SetText(const QString& text) {
    if (text == FText) return;
    FText = text;
    invalidateFilter();
}

bool TCellsFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    return FText.isEmpty() || FCells->Name(sourceRow).contains(FText, Qt::CaseInsensitive);
}

bool TCellsFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    // A descending sort asks lessThan(right, left): unknown values are taken as the least there,
    // so that they still come last.
    const int column = left.column();
    // The tests without a cell come after every cell, in either direction.
    const bool leftNone = FCells->Name(left.row()) == TCellsTableModel::kNoCell;
    const bool rightNone = FCells->Name(right.row()) == TCellsTableModel::kNoCell;
    if (leftNone || rightNone) {
        if (leftNone == rightNone) return false;
        return rightNone == (sortOrder() == Qt::AscendingOrder);
    }
    const bool leftUnknown = FCells->Unknown(column, left.row());
    const bool rightUnknown = FCells->Unknown(column, right.row());
    if (leftUnknown || rightUnknown) {
        if (leftUnknown == rightUnknown) return false;
        return rightUnknown == (sortOrder() == Qt::AscendingOrder);
    }
    return FCells->Less(column, left.row(), right.row());
}
