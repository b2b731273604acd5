#include "app/CellFadeChart.h"

#include <algorithm>

#include "support/LocaleText.h"

namespace {

constexpr double kUnixEpochDay = 25569;      // 1970-01-01 in days since 1899-12-30
constexpr double kHeadroom = 1.15;           // above the highest point, as a part of it
constexpr double kResistanceHeadroom = 1.4;  // IR rides below the capacity curve
const QColor kCapacityColour(0, 0, 255);
const QColor kResistanceColour(200, 0, 0);

QFont ChartFont(int pixels, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace

TCellFadeChart::TCellFadeChart(QWidget* parent) : QCustomPlot(parent) {
    setBackground(Qt::white);
    plotLayout()->insertRow(0);
    FTitle = new QCPTextElement(this, QString(), ChartFont(13, true));
    plotLayout()->addElement(0, 0, FTitle);

    FDates = QSharedPointer<QCPAxisTickerDateTime>::create();
    // Keys are the station's clock taken as UTC: labels show its dates, whatever the zone here.
    FDates->setDateTimeSpec(Qt::UTC);
    FDates->setTickCount(6);
    xAxis->setTicker(FDates);
    xAxis->setTickLabelFont(ChartFont(11, false));

    yAxis->setLabel(QStringLiteral("Capacity, Ah"));
    yAxis->setLabelColor(kCapacityColour);
    yAxis->setTickLabelColor(kCapacityColour);
    yAxis->setLabelFont(ChartFont(11, true));
    yAxis->setTickLabelFont(ChartFont(11, false));
    yAxis2->setVisible(true);
    yAxis2->setLabel(QString::fromUtf8("IR, mΩ"));
    yAxis2->setLabelColor(kResistanceColour);
    yAxis2->setTickLabelColor(kResistanceColour);
    yAxis2->setLabelFont(ChartFont(11, true));
    yAxis2->setTickLabelFont(ChartFont(11, false));
    for (QCPAxis* axis : {yAxis, yAxis2}) {
        axis->setNumberFormat(QStringLiteral("g"));
        axis->setNumberPrecision(4);
    }

    FCapacity = addGraph(xAxis, yAxis);
    FCapacity->setName(QStringLiteral("Capacity (Ah)"));
    FCapacity->setPen(QPen(kCapacityColour, 2));
    FCapacity->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 7));
    FResistance = addGraph(xAxis, yAxis2);
    FResistance->setName(QString::fromUtf8("IR (mΩ)"));
    FResistance->setPen(QPen(kResistanceColour, 1.5, Qt::DashLine));
    FResistance->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssSquare, kResistanceColour, Qt::white, 6));

    FRated = new QCPItemStraightLine(this);
    FRated->setPen(QPen(Qt::gray, 1, Qt::DashLine));
    FRated->setClipToAxisRect(true);
    FRatedLabel = new QCPItemText(this);
    FRatedLabel->setColor(Qt::darkGray);
    FRatedLabel->setFont(ChartFont(11, false));
    FRatedLabel->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
    FRatedLabel->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
    FRatedLabel->position->setTypeY(QCPItemPosition::ptPlotCoords);

    legend->setVisible(true);
    legend->setBorderPen(Qt::NoPen);
    legend->setBrush(QColor(255, 255, 255, 200));
    legend->setFont(ChartFont(11, false));
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignBottom | Qt::AlignLeft);
    ShowNothing();
}

void TCellFadeChart::ShowNothing() {
    Show(QString(), {}, std::nullopt);
}

void TCellFadeChart::Show(const QString& cell, const std::vector<TRegisteredTest>& tests,
                          const std::optional<double>& ratedAh) {
    QVector<QCPGraphData> capacity, resistance;
    for (const TRegisteredTest& test : tests) {
        const double key = (test.Summary.End.DateTime - kUnixEpochDay) * kSecondsPerDay;
        if (test.Summary.Reason == TEndReason::Cutoff) capacity.append({key, test.Summary.Ah});
        if (test.Summary.InternalResistanceOhm) {
            resistance.append({key, *test.Summary.InternalResistanceOhm * 1000});
        }
    }
    FCapacity->data()->set(capacity);  // sorts by key
    FResistance->data()->set(resistance);
    FTitle->setText(cell.isEmpty() ? QString() : QStringLiteral("%1: capacity and IR").arg(cell));
    FRated->setVisible(ratedAh.has_value());
    FRatedLabel->setVisible(ratedAh.has_value());
    if (ratedAh) {
        FRated->point1->setCoords(0, *ratedAh);
        FRated->point2->setCoords(1, *ratedAh);
        FRatedLabel->position->setCoords(0.01, *ratedAh);
        FRatedLabel->setText(
            QStringLiteral("rated %1 Ah").arg(QString::fromStdString(FormatFixed(*ratedAh, 3))));
    }
    FitAxes(ratedAh);
    replot();
}

void TCellFadeChart::FitAxes(const std::optional<double>& ratedAh) {
    bool found = false;
    const QCPRange capacityKeys = FCapacity->data()->keyRange(found);
    bool foundIr = false;
    const QCPRange resistanceKeys = FResistance->data()->keyRange(foundIr);
    QCPRange keys;
    if (found && foundIr) {
        keys = QCPRange(std::min(capacityKeys.lower, resistanceKeys.lower),
                        std::max(capacityKeys.upper, resistanceKeys.upper));
    } else if (found || foundIr) {
        keys = found ? capacityKeys : resistanceKeys;
    } else {
        const double today = QDateTime::currentSecsSinceEpoch();
        keys = QCPRange(today - 30 * kSecondsPerDay, today);
    }
    // A day at least, and some room at both ends, so that the first and last points show whole.
    const double margin = std::max(keys.size() * 0.05, kSecondsPerDay / 2.0);
    xAxis->setRange(keys.lower - margin, keys.upper + margin);
    FDates->setDateTimeFormat(xAxis->range().size() < 3 * kSecondsPerDay
                                  ? QStringLiteral("MM-dd HH:mm")
                                  : QStringLiteral("yyyy-MM-dd"));

    bool foundValues = false;
    const QCPRange ah = FCapacity->data()->valueRange(foundValues);
    const double mostAh = std::max(foundValues ? ah.upper : 0.0, ratedAh.value_or(0.0));
    yAxis->setRange(0, mostAh > 0 ? mostAh * kHeadroom : 1);
    bool foundOhm = false;
    const QCPRange ir = FResistance->data()->valueRange(foundOhm);
    yAxis2->setRange(0, foundOhm && ir.upper > 0 ? ir.upper * kResistanceHeadroom : 100);
}
