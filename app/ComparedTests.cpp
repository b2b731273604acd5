#include "app/ComparedTests.h"

#include <QFileInfo>
#include <array>
#include <cmath>

namespace {

constexpr int kFadedAlpha = 120;
// Colours apart from the live curves' blue, red and green, one per compared test in turn.
constexpr std::array<QRgb, 6> kPalette = {0x8000C0, 0xE07000, 0x008080,
                                          0x806000, 0xC00080, 0x404040};

QColor FadedColour(int test) {
    QColor colour = QColor::fromRgb(kPalette[static_cast<size_t>(test) % kPalette.size()]);
    colour.setAlpha(kFadedAlpha);
    return colour;
}

QString FileNameOf(const TLoggedTests& log) {
    return QFileInfo(QString::fromStdString(log.Path)).fileName();
}

}  // namespace

QString UnreadableRowsText(int64_t rows) {
    if (rows == 0) return {};
    return QString("%1 %2 could not be read").arg(rows).arg(rows == 1 ? "row" : "rows");
}

QString UnreadableRowsMessage(const TLoggedTests& log) {
    if (log.UnreadableRows == 0) return {};
    return FileNameOf(log) + ": " + UnreadableRowsText(log.UnreadableRows);
}

struct TComparedTests::TLog {
    TEntry Entry;
    std::vector<TReadingLine*> Lines;  // owned by the plot; removed with the log
};

TComparedTests::TComparedTests(QCPAxis* keyAxis, QCPAxis* voltageAxis, QCPAxis* currentAxis)
    : FKeyAxis(keyAxis), FVoltageAxis(voltageAxis), FCurrentAxis(currentAxis) {}

TComparedTests::~TComparedTests() = default;

TComparedTests::TEntry TComparedTests::Add(const TLoggedTests& log) {
    auto drawn = std::make_unique<TLog>();
    const QString name = FileNameOf(log);
    drawn->Entry = {FNextId++, name};
    const QString date = log.Date.empty() ? name : QString::fromStdString(log.Date);
    for (const TLoggedTest& test : log.Tests) {
        if (test.Points.empty()) continue;
        auto readings = std::make_shared<TChartReadings>();
        for (const TLoggedPoint& point : test.Points) {
            readings->Append(point.Seconds, point.Volts, point.Amperes, 0, point.AmpHours);
        }
        const QColor colour = FadedColour(FTestsDrawn++);
        auto* voltage =
            new TReadingLine(FKeyAxis, FVoltageAxis, readings, TChartReadings::kVoltage);
        QString legend = QString("%1 #%2").arg(date).arg(test.Number);
        if (test.UnreadableRows > 0) legend += " (" + UnreadableRowsText(test.UnreadableRows) + ")";
        voltage->setName(legend);
        voltage->setPen(QPen(colour, 1));
        auto* current =
            new TReadingLine(FKeyAxis, FCurrentAxis, readings, TChartReadings::kCurrent);
        current->setPen(QPen(colour, 1, Qt::DashLine));
        current->removeFromLegend();
        for (TReadingLine* line : {voltage, current}) {
            line->SetKey(FKey);
            line->setAntialiased(false);
            drawn->Lines.push_back(line);
        }
    }
    FLogs.push_back(std::move(drawn));
    return FLogs.back()->Entry;
}

void TComparedTests::Remove(int id) {
    for (auto it = FLogs.begin(); it != FLogs.end(); ++it) {
        if ((*it)->Entry.Id != id) continue;
        for (TReadingLine* line : (*it)->Lines) line->parentPlot()->removePlottable(line);
        FLogs.erase(it);
        return;
    }
}

std::vector<TComparedTests::TEntry> TComparedTests::Entries() const {
    std::vector<TEntry> entries;
    for (const auto& log : FLogs) entries.push_back(log->Entry);
    return entries;
}

void TComparedTests::SetKey(TReadingLine::TKey key) {
    FKey = key;
    for (const auto& log : FLogs) {
        for (TReadingLine* line : log->Lines) line->SetKey(key);
    }
}

std::vector<const TReadingLine*> TComparedTests::Lines() const {
    std::vector<const TReadingLine*> lines;
    for (const auto& log : FLogs) lines.insert(lines.end(), log->Lines.begin(), log->Lines.end());
    return lines;
}
