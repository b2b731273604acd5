#include "app/PackDialog.h"

#include <qcustomplot.h>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

#include "records/PackReport.h"
#include "records/qt/PackSheet.h"
#include "support/LocaleText.h"

namespace {

constexpr int kMostInPack = 10000;

QLineEdit* FilterBox(const char* name, const QString& hint, QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setPlaceholderText(hint);
    box->setClearButtonEnabled(true);
    return box;
}

QString Number(const std::optional<double>& value, int decimals) {
    if (!value) return QStringLiteral("-");
    return QString::number(*value, 'f', decimals).replace('.', QChar(LocaleDecimalSeparator()));
}

}  // namespace

TPackDialog::TPackDialog(std::vector<TCellSummary> cells, QWidget* parent)
    : QDialog(parent), FCells(std::move(cells)) {
    setWindowTitle(QStringLiteral("Build pack"));
    auto* layout = new QVBoxLayout(this);
    auto* shape = new QFormLayout;
    FSeries = new QSpinBox(this);
    FSeries->setObjectName("PackSeries");
    FParallel = new QSpinBox(this);
    FParallel->setObjectName("PackParallel");
    for (QSpinBox* count : {FSeries, FParallel}) count->setRange(1, kMostInPack);
    shape->addRow(QStringLiteral("Groups in series (S):"), FSeries);
    shape->addRow(QStringLiteral("Cells in parallel (P):"), FParallel);
    FMinSoh = FilterBox("PackMinSoh", QStringLiteral("any"), this);
    FMaxIr =
        FilterBox("PackMaxIr", QStringLiteral("any (a cell without a known IR fails it)"), this);
    FMinCapacity = FilterBox("PackMinCapacity", QStringLiteral("any"), this);
    FTestedSince = FilterBox("PackTestedSince", QStringLiteral("YYYY-MM-DD"), this);
    shape->addRow(QStringLiteral("State of health at least, %:"), FMinSoh);
    shape->addRow(QString::fromUtf8("IR at most, mΩ:"), FMaxIr);
    shape->addRow(QStringLiteral("Capacity at least, Ah:"), FMinCapacity);
    shape->addRow(QStringLiteral("Tested since:"), FTestedSince);
    layout->addLayout(shape);
    auto* build = new QPushButton(QStringLiteral("Build"), this);
    build->setObjectName("PackBuild");
    build->setDefault(true);
    layout->addWidget(build, 0, Qt::AlignLeft);
    FMessage = new QLabel(this);
    FMessage->setObjectName("PackMessage");
    FMessage->setWordWrap(true);
    layout->addWidget(FMessage);

    FGroups = new QTableWidget(0, 6, this);
    FGroups->setObjectName("PackGroups");
    FGroups->setHorizontalHeaderLabels(
        {QStringLiteral("Group"), QStringLiteral("mAh"), QString::fromUtf8("IR mean, mΩ"),
         QString::fromUtf8("IR max, mΩ"), QString::fromUtf8("IR parallel, mΩ"),
         QStringLiteral("Cells")});
    FGroups->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FGroups->verticalHeader()->hide();
    FGroups->horizontalHeader()->setStretchLastSection(true);
    FBars = new QCustomPlot(this);
    FBars->setObjectName("PackBars");
    FBars->setMinimumHeight(180);
    FBars->xAxis->setLabel(QStringLiteral("Group"));
    auto groupNumbers = QSharedPointer<QCPAxisTickerFixed>::create();  // whole groups only
    groupNumbers->setTickStep(1);
    groupNumbers->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    FBars->xAxis->setTicker(groupNumbers);
    FBars->yAxis->setLabel(QStringLiteral("Capacity, mAh"));
    auto* results = new QHBoxLayout;
    results->addWidget(FGroups, 3);
    results->addWidget(FBars, 2);
    layout->addLayout(results, 1);

    auto* buttons = new QHBoxLayout;
    FSaveCsv = new QPushButton(QStringLiteral("Save CSV..."), this);
    FSaveSheet = new QPushButton(QStringLiteral("Save sheet..."), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    buttons->addWidget(FSaveCsv);
    buttons->addWidget(FSaveSheet);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
    for (QPushButton* save : {FSaveCsv, FSaveSheet}) save->setEnabled(false);
    resize(900, 600);

    connect(build, &QPushButton::clicked, this, &TPackDialog::Build);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    const auto choose = [this](const QString& title, const QString& types) {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        return QFileDialog::getSaveFileName(this, title, documents, types);
    };
    connect(FSaveCsv, &QPushButton::clicked, this, [this, choose] {
        const QString path = choose(QStringLiteral("Save pack"), QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty()) SaveCsv(path);
    });
    connect(FSaveSheet, &QPushButton::clicked, this, [this, choose] {
        const QString path =
            choose(QStringLiteral("Save sheet"), QStringLiteral("PDF (*.pdf);;PNG images (*.png)"));
        if (!path.isEmpty()) SaveSheet(path);
    });
}

void TPackDialog::SetShape(int series, int parallel) {
    FSeries->setValue(series);
    FParallel->setValue(parallel);
}

bool TPackDialog::Build() {
    TPackFilter filter;
    const auto text = [](const QLineEdit* box) { return box->text().toStdString(); };
    if (const std::optional<TPackFilterFault> fault = ReadPackFilter(
            {text(FMinSoh), text(FMaxIr), text(FMinCapacity), text(FTestedSince)}, filter)) {
        static const char* const kNames[] = {"The state of health", "The IR", "The capacity",
                                             "Tested since"};
        Say(QStringLiteral("%1 is %2.")
                .arg(kNames[fault->Which], QString::fromStdString(fault->Why)),
            true);
        return false;
    }
    const std::vector<TPackCell> candidates = PackCandidates(FCells, filter);
    const int series = FSeries->value(), parallel = FParallel->value();
    const size_t needed = static_cast<size_t>(series) * parallel;
    if (candidates.size() < needed) {
        FPack.reset();
        ShowPack();
        Say(QStringLiteral("%1 cells with a measured capacity pass; a %2S%3P pack needs %4: %5 "
                           "missing.")
                .arg(candidates.size())
                .arg(series)
                .arg(parallel)
                .arg(needed)
                .arg(needed - candidates.size()),
            true);
        return false;
    }
    FPack = BuildPack(candidates, series, parallel);
    ShowPack();
    Say(QString::fromStdString(PackTitle(*FPack)) +
            QStringLiteral("; no grouping has a spread below %1 mAh; %2 cells unused.")
                .arg(FPack->LowerBoundMah)
                .arg(FPack->Unused.size()),
        false);
    return true;
}

void TPackDialog::ShowPack() {
    FGroups->setRowCount(0);
    FBars->clearPlottables();
    for (QPushButton* save : {FSaveCsv, FSaveSheet}) save->setEnabled(FPack.has_value());
    if (!FPack) return FBars->replot();
    const auto& groups = FPack->Groups;
    FGroups->setRowCount(static_cast<int>(groups.size()));
    QVector<double> keys, totals;
    for (int g = 0; g < static_cast<int>(groups.size()); ++g) {
        const TPackGroup& group = groups[g];
        QStringList cells;
        for (const TPackCell& cell : group.Cells) cells << QString::fromStdString(cell.Id);
        const QStringList texts = {
            QString::number(g + 1),          QString::number(group.CapacityMah),
            Number(group.IrMohmMean, 1),     Number(group.IrMohmMax, 1),
            Number(group.IrMohmParallel, 2), cells.join(' ')};
        for (int column = 0; column < texts.size(); ++column) {
            auto* item = new QTableWidgetItem(texts[column]);
            if (column < 5) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            FGroups->setItem(g, column, item);
        }
        keys << g + 1;
        totals << group.CapacityMah;
    }
    FGroups->resizeColumnsToContents();
    auto* bars = new QCPBars(FBars->xAxis, FBars->yAxis);
    bars->setData(keys, totals);
    bars->setBrush(QColor(70, 130, 200));
    // The groups differ by a few mAh out of thousands: the axis starts near the weakest, so that
    // the differences show; the labels say where it starts.
    const double margin = std::max(5.0, 2.0 * FPack->SpreadMah);
    FBars->yAxis->setRange(FPack->PackCapacityMah - margin,
                           FPack->PackCapacityMah + FPack->SpreadMah + margin);
    FBars->xAxis->setRange(0.4, groups.size() + 0.6);
    FBars->replot();
}

bool TPackDialog::SaveCsv(const QString& path) {
    if (!FPack) return false;
    const QByteArray csv = QByteArray::fromStdString(PackCsv(*FPack));
    QSaveFile file(path);
    if (!(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size() && file.commit())) {
        Say(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()), true);
        return false;
    }
    Say(QStringLiteral("Saved %1").arg(path), false);
    return true;
}

bool TPackDialog::SaveSheet(const QString& path) {
    if (!FPack) return false;
    QString file = path;
    if (!file.endsWith(".pdf", Qt::CaseInsensitive) &&
        !file.endsWith(".png", Qt::CaseInsensitive)) {
        file += QStringLiteral(".pdf");
    }
    try {
        const auto written = WritePackSheet(file.toStdString(), *FPack, PackTitle(*FPack));
        Say(written.size() == 1
                ? QStringLiteral("Saved %1").arg(file)
                : QStringLiteral("Saved %1 pages, the first as %2").arg(written.size()).arg(file),
            false);
        return true;
    } catch (const std::runtime_error& error) {
        Say(QString::fromStdString(error.what()), true);
        return false;
    }
}

QString TPackDialog::Message() const {
    return FMessage->text();
}

void TPackDialog::Say(const QString& text, bool problem) {
    FMessage->setStyleSheet(problem ? QStringLiteral("color: #c00000") : QString());
    FMessage->setText(text);
}
