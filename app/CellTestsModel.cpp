#include "app/CellTestsModel.h"

#include <QFileInfo>
#include <cmath>
#include <utility>

#include "app/CellsTableModel.h"
#include "support/LocaleText.h"
#include "support/TimeText.h"

namespace {

QString Fixed(double value, int decimals) {
    return QString::fromStdString(FormatFixed(value, decimals));
}

QString Fixed(const std::optional<double>& value, int decimals) {
    return value ? Fixed(*value, decimals) : QString();
}

}  // namespace

QStringList LogsOf(const TRegisteredTest& test) {
    QStringList logs;
    for (const std::string& log : test.Summary.Logs) {
        if (!log.empty()) logs.append(QString::fromStdString(log));
    }
    if (logs.isEmpty() && !test.Summary.Log.empty()) {
        logs.append(QString::fromStdString(test.Summary.Log));
    }
    return logs;
}

TCellTestsModel::TCellTestsModel(QObject* parent) : QAbstractTableModel(parent) {}

void TCellTestsModel::SetTests(std::vector<TRegisteredTest> tests) {
    beginResetModel();
    FTests = std::move(tests);
    endResetModel();
}

int TCellTestsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FTests.size());
}

int TCellTestsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TCellTestsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TTestSummary& test = FTests[index.row()].Summary;
    const int column = index.column();
    if (role == Qt::TextAlignmentRole) {
        if (column == kEnd || column == kReason || column == kStation || column == kLog) return {};
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role == Qt::ToolTipRole && column == kLog) return LogsOf(FTests[index.row()]).join('\n');
    if (role != Qt::DisplayRole) return {};
    switch (column) {
        case kId:
            return QString::number(FTests[index.row()].Id);
        case kEnd:
            return LocalMinutesText(test.End);
        case kReason:
            return QString::fromLatin1(ReasonName(test.Reason));
        case kAh:
            return Fixed(test.Ah, 3);
        case kWh:
            return Fixed(test.Wh, 3);
        case kMeanA:
            return Fixed(test.MeanA, 3);
        case kIr:
            if (test.InternalResistanceOhm) return Fixed(*test.InternalResistanceOhm * 1000, 1);
            return {};
        case kDuration:
            return QString::fromStdString(LongDurationText(std::llround(test.DurationS)));
        case kStation:
            return QString::fromStdString(test.Station);
        case kLog: {
            // The file's name; the tool tip has every log with its folder.
            const QStringList logs = LogsOf(FTests[index.row()]);
            if (logs.isEmpty()) return {};
            QString shown = QFileInfo(logs.front()).fileName();
            if (logs.size() > 1) shown += QString(" (+%1)").arg(logs.size() - 1);
            return shown;
        }
        default:
            return {};
    }
}

QVariant TCellTestsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const titles[kColumnCount] = {
        "Id", "End", "Reason", "Ah", "Wh", "Mean A", "IR (mΩ)", "Duration", "Station", "Log"};
    return section >= 0 && section < kColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}
