#include "app/BenchWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolBar>
#include <cmath>

#include "app/BenchTile.h"
#include "app/ErrorBox.h"
#include "app/PortList.h"
#include "app/PortWatcher.h"
#include "app/uReader.h"
#include "device/KelvoProtocol.h"
#include "support/Errors.h"
#include "support/NumberText.h"
#include "testrun/SetpointRules.h"
#include "testrun/TestLog.h"

namespace {

// How long closing waits for Stop to reach the testers before it closes their connections.
constexpr int kStopBoundMs = 10000;

}  // namespace

TBenchWindow::TBenchWindow(TRememberedChoices remembered, TConsoleOptions options,
                           TLogMaker makeLog, QWidget* parent)
    : QMainWindow(parent),
      FRemembered(std::move(remembered)),
      FOptions(std::move(options)),
      FMakeLog(makeLog ? std::move(makeLog) : [] { return std::make_unique<TTestLog>(); }) {
    setObjectName("Bench");
    setWindowTitle("Bench");
    auto* bar = new QToolBar("Bench", this);
    bar->setMovable(false);
    addToolBar(bar);
    auto box = [this](const QString& name, const QString& placeholder) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setPlaceholderText(placeholder);
        edit->setMaximumWidth(90);
        connect(edit, &QLineEdit::returnPressed, this,
                [this] { RunGuarded([this] { ApplySetpoints(); }); });
        return edit;
    };
    eCurrent = box("BenchCurrent", "A");
    eCutoff = box("BenchCutoff", "V");
    eTime = box("BenchTime", "H:M:S");
    bApply = new QPushButton("Apply", this);
    bApply->setToolTip("Send these setpoints to every connected tester that is not running");
    cbAddPort = new QComboBox(this);
    cbAddPort->setObjectName("BenchPorts");
    cbAddPort->setMinimumContentsLength(8);
    bAdd = new QPushButton("Add", this);
    bAdd->setToolTip("Add a tile for the port chosen");
    bar->addWidget(new QLabel(" Current ", this));
    bar->addWidget(eCurrent);
    bar->addWidget(new QLabel(" Cutoff ", this));
    bar->addWidget(eCutoff);
    bar->addWidget(new QLabel(" Time ", this));
    bar->addWidget(eTime);
    bar->addWidget(bApply);
    bar->addSeparator();
    aConnectAll = bar->addAction("Connect all");
    aStartAll = bar->addAction("Start all");
    aStartAll->setShortcut(QKeySequence(Qt::Key_F5));
    aStartAll->setToolTip("Start every connected idle tester (F5)");
    aStopAll = bar->addAction("Stop all");
    aStopAll->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    aStopAll->setToolTip("Stop every running tester (Shift+F5)");
    bar->addSeparator();
    bar->addWidget(cbAddPort);
    bar->addWidget(bAdd);
    BenchMessage = new QLabel(this);
    statusBar()->addWidget(BenchMessage, 1);

    auto* tiles = new QWidget(this);
    FGrid = new QGridLayout(tiles);
    FGrid->setContentsMargins(4, 4, 4, 4);
    setCentralWidget(tiles);
    resize(1280, 800);

    connect(bApply, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { ApplySetpoints(); }); });
    connect(aConnectAll, &QAction::triggered, this,
            [this] { RunGuarded([this] { ConnectAll(); }); });
    connect(aStartAll, &QAction::triggered, this, [this] { RunGuarded([this] { StartAll(); }); });
    connect(aStopAll, &QAction::triggered, this, [this] { RunGuarded([this] { StopAll(); }); });
    connect(bAdd, &QPushButton::clicked, this, [this] {
        if (cbAddPort->currentIndex() >= 0) AddTester(cbAddPort->currentText());
    });

    // The same port list as the console's; the bench itself never holds a port open.
    FPortWatcher = std::make_unique<TPortWatcher>(this);
    FPortList = std::make_unique<TPortList>(cbAddPort, [] {});
    connect(FPortWatcher.get(), &TPortWatcher::DeviceChanged, this,
            [this](quint32 code, quint32 type, const QString& name) {
                FPortList->WMDeviceChange(code, type, name);
            });
    FPortList->Fill();
}

TBenchWindow::~TBenchWindow() {
    for (TBenchTile* tile : FTiles) delete tile;  // each ends its connection
}

TBenchTile* TBenchWindow::AddTester(const QString& port) {
    if (Ports().contains(port)) {
        Say(QString("Port %1 has a tile already.").arg(port));
        return nullptr;
    }
    if (static_cast<int>(FTiles.size()) >= kMostTesters) {
        Say(QString("A bench holds %1 testers.").arg(kMostTesters));
        return nullptr;
    }
    auto view = std::make_unique<TForm1>(FMakeLog());
    view->BecomeBenchView();
    view->ApplySessionChoices(FRemembered, FOptions);
    auto* tile = new TBenchTile(port, std::move(view), centralWidget());
    connect(tile, &TBenchTile::RemoveWanted, this, [this, tile] {
        if (tile->State() == TBenchTile::TState::Running &&
            QMessageBox::question(this, "Bench",
                                  QString("A test runs on %1. Remove its tile all the same? The "
                                          "tester goes on to its own cutoff or time.")
                                      .arg(tile->Port())) != QMessageBox::Yes) {
            return;
        }
        RemoveTester(tile);
    });
    FTiles.push_back(tile);
    LayOutTiles();
    return tile;
}

void TBenchWindow::RemoveTester(TBenchTile* tile) {
    const auto found = std::find(FTiles.begin(), FTiles.end(), tile);
    if (found == FTiles.end()) return;
    FTiles.erase(found);
    FGrid->removeWidget(tile);
    tile->deleteLater();  // not inside its own button's signal
    tile->hide();
    LayOutTiles();
}

QStringList TBenchWindow::Ports() const {
    QStringList ports;
    for (const TBenchTile* tile : FTiles) ports << tile->Port();
    return ports;
}

void TBenchWindow::LayOutTiles() {
    for (TBenchTile* tile : FTiles) FGrid->removeWidget(tile);
    const int count = static_cast<int>(FTiles.size());
    // As square as the count allows, wider than tall: 4 in 2 x 2, 8 in 3 x 3, 16 in 4 x 4.
    const int columns = std::max(1, static_cast<int>(std::ceil(std::sqrt(count))));
    for (int i = 0; i < count; ++i) FGrid->addWidget(FTiles[i], i / columns, i % columns);
    for (int c = 0; c < FGrid->columnCount(); ++c) FGrid->setColumnStretch(c, c < columns ? 1 : 0);
    const int rows = (count + columns - 1) / columns;
    for (int r = 0; r < FGrid->rowCount(); ++r) FGrid->setRowStretch(r, r < rows ? 1 : 0);
}

void TBenchWindow::ApplySetpoints() {
    struct TSetpoint {
        int32_t Kind;
        double Value;
    };
    std::vector<TSetpoint> setpoints;
    auto read = [&](QLineEdit* box, int32_t kind) {
        const std::string text = box->text().trimmed().toStdString();
        if (text.empty()) return;
        const double value =
            kind == cmdSetTestTime ? TestTimeFromText(text) : ParseFloatDef(text, 0);
        if (const auto refusal = SetpointRefusal(kind, value)) throw Exception(*refusal);
        setpoints.push_back({kind, value});
    };
    read(eCurrent, cmdSetCurrent);
    read(eCutoff, cmdSetCutoffVoltage);
    read(eTime, cmdSetTestTime);
    if (setpoints.empty())
        throw Exception("Type a current, a cutoff voltage or a test time first.");
    int testers = 0;
    for (TBenchTile* tile : FTiles) {
        TForm1& view = tile->View();
        if (!view.PortConnected() || view.TestRunning()) continue;
        for (const TSetpoint& setpoint : setpoints)
            view.QueueCommand(setpoint.Kind, setpoint.Value);
        ++testers;
    }
    Say(QString("Setpoints sent to %1 testers.").arg(testers));
}

void TBenchWindow::ConnectAll() {
    for (TBenchTile* tile : FTiles) tile->Connect();
}

void TBenchWindow::StartAll() {
    for (TBenchTile* tile : FTiles) {
        if (tile->State() == TBenchTile::TState::Idle || tile->State() == TBenchTile::TState::Ended)
            tile->Start();
    }
}

void TBenchWindow::StopAll() {
    for (TBenchTile* tile : FTiles) {
        if (tile->State() == TBenchTile::TState::Running) tile->Stop();
    }
}

void TBenchWindow::StopAllAndWait() {
    StopAll();
    const QDeadlineTimer bound(kStopBoundMs);
    while (AnyRunning() && !bound.hasExpired()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}

bool TBenchWindow::AnyRunning() const {
    return std::any_of(FTiles.begin(), FTiles.end(), [](const TBenchTile* tile) {
        return tile->State() == TBenchTile::TState::Running;
    });
}

void TBenchWindow::Say(const QString& text) {
    BenchMessage->setText(text);
}

void TBenchWindow::closeEvent(QCloseEvent* event) {
    if (AnyRunning()) {
        QMessageBox question(QMessageBox::Question, "Bench",
                             "Tests are running. Stop them all before the bench closes, or leave "
                             "them running (each tester goes on to its own cutoff or time)?",
                             QMessageBox::Cancel, this);
        question.setObjectName("BenchCloseQuestion");
        QPushButton* stop = question.addButton("Stop all", QMessageBox::DestructiveRole);
        QPushButton* leave = question.addButton("Leave running", QMessageBox::AcceptRole);
        question.setDefaultButton(QMessageBox::Cancel);
        question.setEscapeButton(QMessageBox::Cancel);
        question.exec();
        if (question.clickedButton() == stop) {
            StopAllAndWait();
        } else if (question.clickedButton() != leave) {
            event->ignore();
            return;
        }
    }
    for (TBenchTile* tile : FTiles) tile->View().hide();  // the views go with the bench
    emit Closing(Ports());
    event->accept();
}
