// The console window's controls, actions and menu, at their design positions (pixels within
// the window's client area); the chart grows with the window.
#include <QAction>
#include <QMenuBar>
#include <QPainter>

#include "app/ChartView.h"
#include "app/EllipsisEdit.h"
#include "app/Indicator.h"
#include "app/ValueBoxStyle.h"
#include "app/uReader.h"
#include "records/Register.h"
#include "telemetry/TelemetrySettings.h"

namespace {

// The client area at the design size; the chart keeps its distance to the right and bottom
// edges when the window is resized.
// One row below the design's controls holds the cell under test; the chart grows by that row.
constexpr int kDesignWidth = 745;
constexpr int kCellRow = 28;
constexpr int kDesignHeight = 456 + kCellRow;
constexpr QRect kChartAtDesign(216, 8, 522, 440 + kCellRow);
constexpr int kChartRightMargin = kDesignWidth - (216 + 522);
constexpr int kChartBottomMargin = 8;

QFont ValueFont(bool bold) {
    QFont font("Arial");
    font.setPixelSize(19);
    font.setBold(bold);
    // Digits need no shaping, and the boxes lay their text out again with every reading.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y, bool big, bool bold,
                  const QColor& color = Qt::black) {
    auto* label = new QLabel(text, parent);
    if (big) label->setFont(ValueFont(bold));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->adjustSize();
    label->move(x, y);
    return label;
}

QLineEdit* MakeValueBox(QWidget* parent, const QRect& at, const QString& hint,
                        const QColor& color = Qt::black) {
    auto* box = new QLineEdit(parent);
    box->setReadOnly(true);
    box->setGeometry(at);
    box->setFont(ValueFont(true));
    box->setToolTip(hint);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    palette.setColor(QPalette::Text, color);
    box->setPalette(palette);
    box->setTextMargins(0, 0, 0, 0);
    box->setStyle(TValueBoxStyle::Instance());
    return box;
}

// A status bar field whose text, when longer than the field, is drawn cut with an ellipsis
// (`mode` says where) rather than clipped mid-letter; text() stays the whole text.
class TElidedLabel : public QLabel {
  public:
    TElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), FMode(mode) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        const QRect area = contentsRect();
        painter.drawText(area, static_cast<int>(alignment()),
                         fontMetrics().elidedText(text(), FMode, area.width()));
    }

  private:
    const Qt::TextElideMode FMode;
};

// A push button that shows and follows an action: caption, hint, enabled state; a click
// triggers the action.
QPushButton* MakeActionButton(QWidget* parent, QAction* action, const QRect& at) {
    auto* button = new QPushButton(parent);
    button->setGeometry(at);
    auto follow = [button, action] {
        button->setText(action->text());
        button->setToolTip(action->toolTip());
        button->setEnabled(action->isEnabled());
    };
    follow();
    QObject::connect(action, &QAction::changed, button, follow);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    return button;
}

}  // namespace

void TForm1::BuildActions() {
    auto make = [this](const QString& text, const QString& hint, const QKeySequence& key) {
        auto* action = new QAction(text, this);
        action->setToolTip(hint.isEmpty() ? text : hint);
        action->setStatusTip(hint);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        return action;
    };
    aOpen = make("Connect", "Connect to device", QKeySequence(Qt::CTRL | Qt::Key_R));
    aOpen->setCheckable(true);
    aStart = make("Start", "", QKeySequence(Qt::Key_F5));
    aStop = make("Stop", "", QKeySequence(Qt::Key_F5));
    aReset = make("Reset", "Reset counters", QKeySequence(Qt::CTRL | Qt::Key_0));
    aClear = make("Clear", "Clear chart", QKeySequence(Qt::Key_F8));
    aReconnect = new QAction("Reconnect automatically", this);
    aReconnect->setCheckable(true);
    aReconnect->setChecked(true);
    aOpenLogFolder = new QAction("Open log folder", this);
    aLastResult = new QAction("Last test result...", this);
    aLastResult->setEnabled(false);
    aCells = make("Cells...", "The register's cells and their tests",
                  QKeySequence(Qt::CTRL | Qt::Key_L));
    aChooseRegister = new QAction("Register...", this);
    aChooseRegister->setStatusTip("Choose the register that verdicts are recorded in");
    aTelemetry = new QAction("Telemetry...", this);
    aTelemetry->setStatusTip("Publish readings and verdicts to the lab's MQTT broker");
    // A build without the MQTT library (Windows) says why the entry is there but off; likewise
    // for a register on a server, which its Register... dialog refuses.
    if (!kTelemetryBuilt) {
        aTelemetry->setEnabled(false);
        aTelemetry->setToolTip(QString("Telemetry: ") + kTelemetryNeedsLinux);
        aTelemetry->setStatusTip(aTelemetry->toolTip());
    }
    if (!kRegisterServersBuilt) {
        aChooseRegister->setToolTip(QString("A register file; ") + kRegisterServerNeedsLinux);
    }
    aFitVoltage = new QAction("Fit voltage", this);
    aAhAxis = new QAction("Bottom axis in Ah", this);
    aAhAxis->setCheckable(true);
    aCompare = new QAction("Compare with log...", this);
    aSaveChart = new QAction("Save chart...", this);
    aBench = new QAction("Bench...", this);
    aBench->setStatusTip("Several testers side by side, a tile for each");
    Exit1 = new QAction("Exit", this);
    Protocolinfo1 = new QAction("Protocol info", this);
    About1 = new QAction("About", this);

    QMenu* connection = menuBar()->addMenu("Connection");
    connection->addAction(aOpen);
    connection->addAction(aReconnect);
    connection->addAction(aTelemetry);
    connection->addAction(aBench);
    connection->addSeparator();
    connection->addAction(Exit1);
    connection->setToolTipsVisible(true);
    QMenu* test = menuBar()->addMenu("Test");
    test->addAction(aStart);
    test->addAction(aStop);
    test->addSeparator();
    test->addAction(aReset);
    test->addAction(aClear);
    test->addSeparator();
    test->addAction(aLastResult);
    test->addAction(aOpenLogFolder);
    test->addSeparator();
    test->addAction(aCells);
    test->addAction(aChooseRegister);
    test->setToolTipsVisible(true);
    QMenu* chart = menuBar()->addMenu("Chart");
    chart->addAction(aFitVoltage);
    chart->addAction(aAhAxis);
    chart->addSeparator();
    chart->addAction(aCompare);
    RemoveCompared = chart->addMenu("Remove compared log");
    RemoveCompared->setEnabled(false);
    chart->addSeparator();
    chart->addAction(aSaveChart);
    QMenu* help = menuBar()->addMenu("?");
    help->addAction(Protocolinfo1);
    help->addSeparator();
    help->addAction(About1);
    // Shortcuts work while the menus are closed.
    addActions({aOpen, aStart, aStop, aReset, aClear});
}

void TForm1::BuildLayout() {
    setWindowTitle("Kelvo");
    // The design's small sans-serif face; Arial's metrics keep every caption within its place.
    QFont face("Arial");
    face.setPointSize(8);
    setFont(face);
    auto* client = new QWidget(this);
    setCentralWidget(client);

    cbPort = new QComboBox(client);
    cbPort->setGeometry(8, 8, 89, 21);
    cbPort->setEditable(false);
    cbSpeed = new QComboBox(client);
    cbSpeed->setGeometry(104, 8, 97, 21);
    cbSpeed->addItems({"9600", "19200", "38400", "57600", "115200"});
    bOpen = MakeActionButton(client, aOpen, QRect(7, 37, 75, 25));
    shPort = new TIndicator(client);
    shPort->setGeometry(174, 39, 25, 25);

    const QColor blue(0, 0, 255), red(255, 0, 0), green(0, 128, 0);
    Label1 = MakeLabel(client, "V", 8, 84, true, true, blue);
    eVoltage = MakeValueBox(client, QRect(24, 80, 73, 32), "Voltage", blue);
    Label2 = MakeLabel(client, "A", 112, 84, true, true, red);
    eCurrent = MakeValueBox(client, QRect(128, 80, 73, 32), "Discharge current", red);
    Label3 = MakeLabel(client, "T", 8, 124, true, true);
    eTime = MakeValueBox(client, QRect(24, 120, 89, 32), "Remaining time/Test time");
    Label7 = MakeLabel(client, "t", 135, 124, true, false, green);
    eTemp = MakeValueBox(client, QRect(144, 120, 57, 32), "Temperature", green);
    bStart = MakeActionButton(client, aStart, QRect(8, 160, 75, 25));
    bStop = MakeActionButton(client, aStop, QRect(96, 160, 75, 25));
    shStarted = new TIndicator(client);
    shStarted->setGeometry(176, 160, 25, 25);
    Label4 = MakeLabel(client, "W=", 40, 204, true, true);
    eWatt = MakeValueBox(client, QRect(80, 200, 81, 32), "");
    Label5 = MakeLabel(client, "WH=", 25, 244, true, true);
    eWH = MakeValueBox(client, QRect(80, 240, 81, 32), "");
    Label6 = MakeLabel(client, "AH=", 30, 284, true, true);
    eAH = MakeValueBox(client, QRect(80, 280, 81, 32), "");

    Label8 = MakeLabel(client, "Discharge current", 32, 324, false, false);
    ceA = new TEllipsisEdit(client);
    ceA->setGeometry(128, 320, 73, 21);
    Label9 = MakeLabel(client, "Minimum voltage", 32, 348, false, false);
    ceV = new TEllipsisEdit(client);
    ceV->setGeometry(128, 344, 73, 21);
    Label10 = MakeLabel(client, "Test time:", 32, 372, false, false);
    cbT = new TEllipsisEdit(client);
    cbT->setGeometry(128, 368, 73, 21);
    for (TEllipsisEdit* box : {ceA, ceV, cbT}) box->setEnabled(false);

    bReset = MakeActionButton(client, aReset, QRect(8, 400, 75, 25));
    bClear = new QPushButton("Clear", client);
    bClear->setGeometry(136, 400, 75, 25);
    bClear->setToolTip("Clear chart");

    LabelCell = MakeLabel(client, "Cell:", 8, 439, false, false);
    eCell = new QLineEdit(client);
    eCell->setObjectName("eCell");
    eCell->setGeometry(40, 436, 161, 21);
    eCell->setToolTip("The cell under test: type or scan its label");

    Chart1 = new TChartView(client);
    Chart1->setGeometry(kChartAtDesign);
    Chart1->setContextMenuPolicy(Qt::ActionsContextMenu);
    Chart1->addActions({aFitVoltage, aAhAxis, aCompare, aSaveChart});
    client->installEventFilter(this);  // resizes reach LayOutChart()

    StatusBar1 = statusBar();
    // The log's path keeps its file name in sight (the start of a long path gives way) and has
    // the whole bar while there is no message; a message takes three quarters of it. Neither
    // widens the window: what does not fit is cut with an ellipsis, and the tool tip holds it all.
    StatusPanel = new TElidedLabel(Qt::ElideLeft, StatusBar1);
    StatusPanel->setMinimumWidth(50);
    StatusPanel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusBar1->addWidget(StatusPanel, 1);
    StatusMessage = new TElidedLabel(Qt::ElideRight, StatusBar1);
    StatusMessage->setObjectName("StatusMessage");
    StatusMessage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusMessage->hide();
    StatusBar1->addWidget(StatusMessage, 3);

    setTabOrder(cbPort, cbSpeed);
    QWidget* order[] = {cbSpeed, bOpen, eVoltage, eCurrent, eTime, eTemp,  bStart, bStop, eWatt,
                        eWH,     eAH,   ceA,      ceV,      cbT,   bReset, bClear, eCell, Chart1};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    // The design size is that of the client area; the menu and the status bar come on top.
    const int frameExtra = menuBar()->sizeHint().height() + StatusBar1->sizeHint().height();
    resize(kDesignWidth, kDesignHeight + frameExtra);
    setMinimumSize(460 - 8, kDesignHeight + frameExtra);
    move(192, 114);
}

void TForm1::LayOutChart() {
    const QSize client = centralWidget()->size();
    Chart1->setGeometry(kChartAtDesign.x(), kChartAtDesign.y(),
                        std::max(0, client.width() - kChartAtDesign.x() - kChartRightMargin),
                        std::max(0, client.height() - kChartAtDesign.y() - kChartBottomMargin));
}
