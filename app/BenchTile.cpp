#include "app/BenchTile.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>

#include "app/ErrorBox.h"
#include "app/TestResults.h"
#include "app/TileChart.h"
#include "app/uReader.h"
#include "support/TimeText.h"
#include "testrun/TestVerdict.h"

namespace {

// The big digits grow with the tile: a ninth of its height, never below legible.
constexpr int kDigitsPerHeight = 9;
constexpr int kSmallestDigits = 14;

QLabel* MakeValue(QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// Mirrors `from`'s text with `unit` after it into `to`.
void Mirror(QLineEdit* from, QLabel* to, const QString& unit) {
    auto show = [from, to, unit] {
        to->setText(unit.isEmpty() ? from->text() : from->text() + " " + unit);
    };
    QObject::connect(from, &QLineEdit::textChanged, to, show);
    show();
}

}  // namespace

QString TBenchTile::StateText(TState state) {
    switch (state) {
        case TState::NotConnected:
            return "not connected";
        case TState::Idle:
            return "idle";
        case TState::Running:
            return "running";
        case TState::Ended:
            return "ended";
        case TState::ConnectionLost:
            return "connection lost";
    }
    return {};
}

TBenchTile::TBenchTile(const QString& port, std::unique_ptr<TForm1> view, QWidget* parent)
    : QFrame(parent), FPort(port), FView(std::move(view)) {
    setObjectName("Tile_" + port);
    setFrameShape(QFrame::StyledPanel);
    FView->setWindowTitle(FView->windowTitle() + " " + port);

    auto* portLabel = new QLabel("<b>" + port.toHtmlEscaped() + "</b>", this);
    CellBox = new QLineEdit(this);
    CellBox->setObjectName("TileCell");
    CellBox->setPlaceholderText("Cell");
    StateLabel = new QLabel(this);
    RemoveButton = new QToolButton(this);
    RemoveButton->setText("×");
    RemoveButton->setToolTip("Remove this tester from the bench");
    Voltage = MakeValue(this, "TileVoltage");
    Current = MakeValue(this, "TileCurrent");
    AmpHours = MakeValue(this, "TileAmpHours");
    WattHours = MakeValue(this, "TileWattHours");
    Temperature = MakeValue(this, "TileTemperature");
    Elapsed = MakeValue(this, "TileElapsed");
    Elapsed->setText(QString::fromStdString(LongDurationText(0)));
    Chart = new TTileChart(this);
    Chart->setMinimumHeight(60);
    VerdictLine = new QLabel(this);
    VerdictLine->setObjectName("TileVerdict");
    MessageLine = new QLabel(this);
    MessageLine->setWordWrap(true);
    ConnectButton = new QPushButton(this);
    StartButton = new QPushButton(this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(portLabel, 0, 0);
    grid->addWidget(CellBox, 0, 1);
    grid->addWidget(StateLabel, 0, 2);
    grid->addWidget(RemoveButton, 0, 3, Qt::AlignRight);
    grid->addWidget(Voltage, 1, 0, 1, 2);
    grid->addWidget(Current, 1, 2, 1, 2);
    grid->addWidget(AmpHours, 2, 0);
    grid->addWidget(WattHours, 2, 1);
    grid->addWidget(Temperature, 2, 2);
    grid->addWidget(Elapsed, 2, 3);
    grid->addWidget(Chart, 3, 0, 1, 4);
    grid->addWidget(VerdictLine, 4, 0, 1, 4);
    grid->addWidget(MessageLine, 5, 0, 1, 4);
    grid->addWidget(ConnectButton, 6, 0, 1, 2);
    grid->addWidget(StartButton, 6, 2, 1, 2);
    grid->setRowStretch(3, 1);

    Mirror(FView->eVoltage, Voltage, "V");
    Mirror(FView->eCurrent, Current, "A");
    Mirror(FView->eAH, AmpHours, "Ah");
    Mirror(FView->eWH, WattHours, "Wh");
    Mirror(FView->eTemp, Temperature, "");  // the box's text carries its unit
    // The cell goes with the test either way: typed here or in the full view.
    connect(CellBox, &QLineEdit::textChanged, FView.get(), [this](const QString& text) {
        if (FView->eCell->text() != text) FView->eCell->setText(text);
    });
    connect(FView->eCell, &QLineEdit::textChanged, CellBox, [this](const QString& text) {
        if (CellBox->text() != text) CellBox->setText(text);
    });
    // A scan ends with Enter: the next one replaces it.
    connect(CellBox, &QLineEdit::returnPressed, CellBox, &QLineEdit::selectAll);
    connect(FView.get(), &TForm1::StateChanged, this, &TBenchTile::ShowState);
    connect(FView.get(), &TForm1::ChartPointAdded, this, &TBenchTile::ShowReading);
    connect(&FView->TestResults(), &TTestResults::TestEnded, this, [this] {
        FEnded = true;
        ShowVerdict();
        ShowState();
    });
    connect(FView.get(), &TForm1::MessageShown, this, &TBenchTile::ShowMessage);
    connect(ConnectButton, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { FView->PortConnected() ? Disconnect() : Connect(); }); });
    connect(StartButton, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { FView->TestRunning() ? Stop() : Start(); }); });
    connect(RemoveButton, &QToolButton::clicked, this, &TBenchTile::RemoveWanted);
    ShowState();
}

TBenchTile::~TBenchTile() = default;

TBenchTile::TState TBenchTile::State() const {
    if (!FView->PortConnected()) {
        return FView->ConnectionLost() ? TState::ConnectionLost : TState::NotConnected;
    }
    if (FView->TestRunning()) return TState::Running;
    return FEnded ? TState::Ended : TState::Idle;
}

void TBenchTile::Connect() {
    if (FView->PortConnected() || FView->Connected()) return;
    if (!FView->SelectPort(FPort)) {
        ShowMessage(QString("Port %1 is not listed.").arg(FPort), true);
        return;
    }
    FView->UpdateActions();  // the check mark as the link has it now
    FView->aOpen->trigger();
}

void TBenchTile::Disconnect() {
    FView->UpdateActions();
    if (FView->aOpen->isChecked()) FView->aOpen->trigger();
}

void TBenchTile::Start() {
    FView->UpdateActions();
    FView->aStart->trigger();  // nothing unless connected and idle
}

void TBenchTile::Stop() {
    FView->UpdateActions();
    FView->aStop->trigger();  // nothing unless a test runs
}

void TBenchTile::ShowState() {
    const TState state = State();
    if (state == TState::Running) FEnded = false;
    StateLabel->setText(StateText(state));
    StateLabel->setStyleSheet(state == TState::ConnectionLost ? "color: red"
                              : state == TState::Running      ? "color: green"
                                                              : "");
    const bool connected = FView->PortConnected();
    ConnectButton->setText(connected ? "Disconnect" : "Connect");
    StartButton->setText(state == TState::Running ? "Stop" : "Start");
    StartButton->setEnabled(connected);
}

void TBenchTile::ShowMessage(const QString& text, bool problem) {
    MessageLine->setStyleSheet(problem ? "color: red" : "");
    MessageLine->setText(text);
}

void TBenchTile::ShowVerdict() {
    const auto& last = FView->TestResults().Last();
    if (!last) return;
    const QLocale locale;
    QString text = QString("%1 · %2 Ah · %3 Wh")
                       .arg(QString::fromLatin1(ReasonName(last->Reason)),
                            locale.toString(last->Ah, 'f', 3), locale.toString(last->Wh, 'f', 3));
    if (last->InternalResistanceOhm) {
        text += QString(" · IR %1 mΩ")
                    .arg(locale.toString(*last->InternalResistanceOhm * 1000, 'f', 1));
    }
    VerdictLine->setText(text);
}

void TBenchTile::ShowReading(const TDeviceReading& reading) {
    Chart->Add(reading);
    Elapsed->setText(QString::fromStdString(LongDurationText(std::max(0, reading.TestTime))));
}

void TBenchTile::mouseDoubleClickEvent(QMouseEvent* event) {
    FView->show();
    FView->raise();
    FView->activateWindow();
    event->accept();
}

void TBenchTile::mousePressEvent(QMouseEvent* event) {
    CellBox->setFocus(Qt::MouseFocusReason);
    QFrame::mousePressEvent(event);
}

void TBenchTile::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    const int big = std::max(kSmallestDigits, height() / kDigitsPerHeight);
    for (QLabel* label : {Voltage, Current}) {
        QFont font = label->font();
        font.setPixelSize(big);
        font.setBold(true);
        label->setFont(font);
    }
    for (QLabel* label : {AmpHours, WattHours, Temperature, Elapsed}) {
        QFont font = label->font();
        font.setPixelSize(std::max(kSmallestDigits * 2 / 3, big / 2));
        label->setFont(font);
    }
}
