#include "app/uReader.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <cerrno>
#include <utility>

#include "app/AboutBox.h"
#include "app/CellsWindow.h"
#include "app/ChartView.h"
#include "app/ConnectionMessages.h"
#include "app/EllipsisEdit.h"
#include "app/ErrorBox.h"
#include "app/Indicator.h"
#include "app/PortList.h"
#include "app/PortWatcher.h"
#include "app/ReadingDisplay.h"
#include "app/RegisterChoice.h"
#include "app/SetpointInputs.h"
#include "app/TestResults.h"
#include "app/uProtoInfo.h"
#include "device/SerialLink.h"
#include "platform/DebugOutput.h"
#include "platform/DeviceChange.h"
#include "platform/FileManager.h"
#include "records/Register.h"
#include "support/CommonTools.h"
#include "support/Errors.h"
#include "support/LocaleText.h"
#include "support/NumberText.h"
#include "support/Overloaded.h"
#include "testrun/SetpointRules.h"
#include "testrun/TestLog.h"
#include "threads/qt/BackgroundWorker.h"
#include "threads/qt/QtMessageSink.h"

namespace {

const QColor kOn(0x00, 0xFF, 0x00);              // lime
const QColor kOff(0xC0, 0xC0, 0xC0);             // silver
constexpr double kInitialBottomMax = 1.0 / 144;  // 10 minutes, in days
constexpr int kDisplayFrameMs = 33;              // the numbers change at most this often

// What the operator can do about a Start that the tester left alone.
QString FixFor(TNotStarted::TKind kind) {
    switch (kind) {
        case TNotStarted::TKind::CutoffAtOrAboveCell:
            return " Set a lower minimum voltage.";
        case TNotStarted::TKind::TestTimeUsedUp:
            return " Reset (Ctrl+0) starts the tester's clock again, or set a longer test time.";
        case TNotStarted::TKind::Other:
            break;
    }
    return {};
}

}  // namespace

TForm1::TForm1(QWidget* parent) : TForm1(std::make_unique<TTestLog>(), parent) {}

TForm1::TForm1(std::unique_ptr<TTestLog> log, QWidget* parent)
    : QMainWindow(parent),
      LogStream(std::move(log)),
      FTestResults(std::make_unique<TTestResults>(this)),
      FTelemetry(std::make_unique<TTelemetryLink>()) {
    BuildActions();
    BuildLayout();
    FormCreate();
}

TForm1::~TForm1() {
    FormDestroy();
}

void TForm1::FormCreate() {
    // The watch comes before the listing, so that no port arriving in between is missed.
    FPortWatcher = std::make_unique<TPortWatcher>(this);
    connect(FPortWatcher.get(), &TPortWatcher::DeviceChanged, this,
            [this](quint32 code, quint32 type, const QString& name) {
                RunGuarded([&] { WMDeviceChange(code, type, name); });
            });
    // A port that goes is matched against the one the link has open, whatever is selected now;
    // its close is a loss (ENODEV), not a close that was asked for.
    FPortList = std::make_unique<TPortList>(
        cbPort,
        [this] {
            if (FWorker) FWorker->Link().Close(FWorker->Link().IsOpen() ? ENODEV : 0);
        },
        [this] { return FWorker ? QString::fromStdString(FWorker->PortInUse()) : QString(); });
    FPortList->Fill();  // selects the first port when there is one

    // The hook comes before the worker, so that no message of the worker can pass it by.
    qApp->installEventFilter(this);  // then the worker's messages come as events

    for (int i = 0; i < cbSpeed->count(); ++i)
        cbSpeed->setItemData(i, cbSpeed->itemText(i).toInt());
    cbSpeed->setCurrentIndex(0);

    for (QLineEdit* box : {eVoltage, eCurrent, eWatt, eWH, eAH}) box->setText("0.000");
    eTime->setText("00:00:00");
    eTemp->setText("0");
    cbT->SetText("00:00:00");
    ceA->SetText("0.00");
    ceV->SetText("0.00");

    Chart1->SetBottomAxisMax(kInitialBottomMax);

    connect(cbPort, &QComboBox::currentIndexChanged, this, &TForm1::PublishPortSelection);
    connect(cbSpeed, &QComboBox::currentIndexChanged, this, &TForm1::PublishPortSelection);
    PublishPortSelection();

    auto guarded = [](auto handler) { return [handler] { RunGuarded(handler); }; };
    connect(aOpen, &QAction::triggered, this, guarded([this] { aOpenExecute(); }));
    connect(aStart, &QAction::triggered, this, guarded([this] { StartTest(); }));
    connect(aStop, &QAction::triggered, this, guarded([this] {
                FTestResults->OperatorStopped();
                QueueCommand(cmdStartStop, 0.0);
            }));
    connect(aReset, &QAction::triggered, this,
            guarded([this] { QueueCommand(cmdResetCounters, 0.0); }));
    connect(aClear, &QAction::triggered, this, guarded([this] { bClearClick(); }));
    connect(bClear, &QPushButton::clicked, this, guarded([this] { bClearClick(); }));
    connect(Exit1, &QAction::triggered, this, guarded([this] { Exit1Click(); }));
    connect(aOpenLogFolder, &QAction::triggered, this,
            guarded([this] { platform::ShowFolderInFileManager(LogStream->Folder()); }));
    connect(Protocolinfo1, &QAction::triggered, this, guarded([this] { bSaveClick(); }));
    connect(About1, &QAction::triggered, this, guarded([this] { About1Click(); }));
    connect(ceA, &TEllipsisEdit::ButtonClick, this, guarded([this] { ceAButtonClick(); }));
    connect(ceV, &TEllipsisEdit::ButtonClick, this, guarded([this] { ceVButtonClick(); }));
    connect(cbT, &TEllipsisEdit::ButtonClick, this, guarded([this] { cbTButtonClick(); }));
    connect(Chart1, &TChartView::LeftAxisButtonClicked, this,
            guarded([this] { bLeftAxisClick(); }));
    connect(Chart1, &TChartView::RightAxisButtonClicked, this,
            guarded([this] { bRightAxisClick(); }));
    connect(aReconnect, &QAction::toggled, this, [this](bool on) {
        if (!on) GiveUpReconnection();
    });
    connect(aLastResult, &QAction::triggered, this, [this] { FTestResults->ShowLast(); });
    connect(FTestResults.get(), &TTestResults::WriteFailed, this,
            [this](const QString& message) { ShowMessage(message, true); });
    connect(FTestResults.get(), &TTestResults::TestEnded, this, [this] {
        FocusCellBox();
        emit StateChanged();
    });
    connect(eCell, &QLineEdit::textChanged, this, [this](const QString& text) {
        FTestResults->SetCell(text.trimmed().toStdString());
        FTelemetry->SetCell(CellInBox());
    });
    connect(FTestResults.get(), &TTestResults::VerdictMade, this,
            [this](const QString& json) { FTelemetry->Verdict(json.toStdString()); });
    connect(FTelemetry.get(), &TTelemetryLink::Message, this,
            [this](const QString& text) { ShowMessage(text, true); });
    connect(aTelemetry, &QAction::triggered, this, guarded([this] {
                if (const auto chosen = AskTelemetryChoice(this, FTelemetry->Choice())) {
                    FTelemetry->SetChoice(*chosen);
                }
            }));
    connect(aChooseRegister, &QAction::triggered, this, guarded([this] {
                const auto chosen =
                    AskRegisterLocation(this, QString::fromStdString(FTestResults->Register()));
                if (!chosen) return;
                FTestResults->SetRegister(chosen->toStdString());
                RefreshCells();
            }));
    connect(aCells, &QAction::triggered, this, guarded([this] { ShowCells(); }));
    connect(FTestResults.get(), &TTestResults::Recorded, this, &TForm1::RefreshCells);
    connect(aFitVoltage, &QAction::triggered, Chart1, &TChartView::FitVoltage);
    connect(aAhAxis, &QAction::toggled, this, [this](bool inAh) {
        Chart1->SetBottomKey(inAh ? TChartView::kAmpHoursKey : TChartView::kTestTimeKey);
    });
    connect(aCompare, &QAction::triggered, this, guarded([this] {
                const QString path = QFileDialog::getOpenFileName(
                    this, "Compare with log", QString::fromStdString(LogStream->Folder()),
                    "Test logs (*.csv);;All files (*)");
                if (!path.isEmpty()) CompareWithLog(path);
            }));
    connect(aSaveChart, &QAction::triggered, this, guarded([this] {
                QString filter;
                const QString path = QFileDialog::getSaveFileName(
                    this, "Save chart", QString::fromStdString(LogStream->Folder()),
                    "PNG image (*.png);;PDF document (*.pdf)", &filter);
                if (path.isEmpty()) return;
                const bool pdf =
                    filter.contains("pdf") || path.endsWith(".pdf", Qt::CaseInsensitive);
                const QString suffix = pdf ? ".pdf" : ".png";
                SaveChart(path.endsWith(suffix, Qt::CaseInsensitive) ? path : path + suffix);
            }));
    connect(&FReconnection, &TReconnection::ConnectWanted, this, &TForm1::Reconnect);
    StatusPanel->installEventFilter(this);

    // The actions' rules run whenever the application falls idle.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            &TForm1::UpdateActions);
    UpdateActions();

    FDisplayFrame = new QTimer(this);
    FDisplayFrame->setSingleShot(true);
    FDisplayFrame->setInterval(kDisplayFrameMs);
    connect(FDisplayFrame, &QTimer::timeout, this, &TForm1::ShowReadingTexts);

    FWorker =
        std::make_unique<TReaderWorker>([this] { return FPortSelection.Current(); }, &FMessageSink);
    FWorker->Start();
}

void TForm1::FormDestroy() {
    if (!FWorker) return;
    // What is not sent yet waits in the outbox: a server that does not answer is left at once
    // (a connection attempt under way ends first, bounded by its time-out).
    if (FOutboxSender) FOutboxSender->Finish(std::chrono::milliseconds(0));
    FTestResults->Shutdown();  // a test still running ends with its connection
    FTelemetry->Shutdown();    // bounded: its verdict and "offline" get their chance
    qApp->removeEventFilter(this);
    FWorker->Shutdown();  // clears the connected flag, ends the worker, frees it and the queue
    FWorker.reset();
}

void TForm1::ApplyStartChoices(const TRememberedChoices& remembered,
                               const TConsoleOptions& options) {
    if (!remembered.Geometry.isEmpty()) restoreGeometry(remembered.Geometry);
    ApplySessionChoices(remembered, options);
    const QString port = options.Port.isEmpty() ? remembered.Port : options.Port;
    if (!SelectPort(port) && !options.Port.isEmpty()) {
        ShowMessage(QString("Port %1 is not listed.").arg(options.Port), true);
    }
    SendOutbox();
    if (options.Connect) aOpen->trigger();
}

void TForm1::ApplySessionChoices(const TRememberedChoices& remembered,
                                 const TConsoleOptions& options) {
    aReconnect->setChecked(remembered.Reconnect);
    const int speed = cbSpeed->findData(remembered.Baud);
    if (speed >= 0) cbSpeed->setCurrentIndex(speed);
    PublishPortSelection();
    FTestResults->SetStation(options.Station.toStdString());
    FTelemetry->SetStation(options.Station.toStdString());
    FTelemetry->SetChoice(options.Telemetry ? *options.Telemetry : remembered.Telemetry);
    FTestResults->SetRegister(
        (options.Register.isEmpty() ? remembered.Register : options.Register).toStdString());
}

bool TForm1::SelectPort(const QString& name) {
    const int index = cbPort->findText(name);
    if (index >= 0) cbPort->setCurrentIndex(index);
    PublishPortSelection();
    return index >= 0;
}

void TForm1::BecomeBenchView() {
    FBenchView = true;
    FTestResults->SetSummaryWindows(false);
    aBench->setVisible(false);
}

TRememberedChoices TForm1::Choices() const {
    return {cbPort->currentText(),
            cbSpeed->currentData().toUInt(),
            saveGeometry(),
            aReconnect->isChecked(),
            QString::fromStdString(FTestResults->Register()),
            FTelemetry->Choice(),
            {},
            {}};
}

void TForm1::ShowCells() {
    if (!FCells) {
        FCells = new TCellsWindow(
            [this] {
                const std::string& where = FTestResults->Register();
                return where.empty() ? TRegister::DefaultLocation() : where;
            },
            this);
        connect(FCells, &TCellsWindow::CompareWanted, this, [this](const QStringList& logs) {
            QStringList failed;  // one box for all of them, not one per log
            for (const QString& log : logs) {
                try {
                    CompareWithLog(log);
                } catch (const std::exception& error) {
                    failed << error.what();
                }
            }
            if (!failed.isEmpty()) ShowErrorBox(failed.join('\n'));
        });
    }
    FCells->Present();
}

std::optional<std::string> TForm1::CellInBox() const {
    const QString cell = eCell->text().trimmed();
    if (cell.isEmpty()) return std::nullopt;
    return cell.toStdString();
}

void TForm1::RefreshCells() {
    if (FCells && FCells->isVisible()) FCells->Refresh();
}

void TForm1::SendOutbox() {
    const std::string location = FTestResults->Register();
    if (!IsServerLocation(location)) return;
    if (!FOutboxSender) FOutboxSender = new TBackgroundWorker(this);
    if (FOutboxSender->Pending() > 0) return;  // a sending is on its way
    // Off the window's thread: a server that is away costs a connection attempt, not the window.
    FOutboxSender->Post(
        [location] { return TRegister::SendOutbox(location); },
        [this](const TOutboxReport& report) {
            if (!report.Error.empty()) {
                ShowMessage(QString::fromStdString("Register: " + report.Error + "; " +
                                                   std::to_string(report.Pending) +
                                                   " verdicts wait to be sent"),
                            true);
            } else if (report.Sent > 0) {
                ShowMessage(QString("Register: %1 waiting verdicts sent").arg(report.Sent), false);
            }
        });
}

void TForm1::FocusCellBox() {
    // The next scan replaces the cell, and never lands in a setpoint's box.
    eCell->setFocus(Qt::OtherFocusReason);
    eCell->selectAll();
}

void TForm1::PublishPortSelection() {
    FPortSelection.Publish({cbPort->currentText().toStdString(), cbSpeed->currentData().toUInt()});
}

void TForm1::QueueCommand(int32_t kind, double value) {
    FSetpointsAhead.Queued(kind, value);
    FWorker->QueueCommand(kind, value);
}

void TForm1::UpdateActions() {
    aOpenUpdate();
    aStartUpdate();
    aStopUpdate();
    aResetUpdate();
}

void TForm1::aOpenUpdate() {
    const bool checked = FWorker && FWorker->FConnected;
    aOpen->setChecked(checked);
    aOpen->setText(checked ? "Disconnect" : "Connect");
}

void TForm1::GiveUpReconnection() {
    if (!FReconnection.Armed()) return;
    FReconnection.Disarm();
    FTestResults->ReconnectionGivenUp();
    ChartPlacedReadings();
}

void TForm1::aOpenExecute() {
    // A checkable action has already flipped its check mark when this runs.
    const bool wasChecked = !aOpen->isChecked();
    GiveUpReconnection();  // the operator decides from here on
    if (wasChecked) {
        FWorker->FConnected = false;  // at once: the worker stops polling from its next pass
        QueueCommand(cmdConnect, 0.0);
    } else {
        Connect(TConnectOrigin::Operator);
    }
    aOpenUpdate();
}

void TForm1::Connect(TConnectOrigin origin) {
    FConnectOrigin = origin;
    QueueCommand(cmdConnect, 1.0);
}

void TForm1::Reconnect(const QString& name, quint32 baud) {
    if (FWorker->FConnected || FPortConnected) return;  // connected again meanwhile
    const int port = cbPort->findText(name);
    const int speed = cbSpeed->findData(baud);
    if (port < 0 || speed < 0) return;
    cbPort->setCurrentIndex(port);
    cbSpeed->setCurrentIndex(speed);
    PublishPortSelection();
    Connect(TConnectOrigin::Automatic);
}

void TForm1::aStartUpdate() {
    aStart->setEnabled(FPortConnected && !FTestRunning);
}
void TForm1::aStopUpdate() {
    aStop->setEnabled(FPortConnected && FTestRunning);
}
void TForm1::aResetUpdate() {
    aReset->setEnabled(FPortConnected);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (const auto* message = AsThreadMessage(event)) {
        // Another link's message is its own receiver's (a program may hold several windows).
        if (!FWorker || message->From() != &FWorker->Link()) return false;
        return AppMessage(*message);
    }
    if (watched == centralWidget() && event->type() == QEvent::Resize) LayOutChart();
    if (watched == StatusPanel && event->type() == QEvent::MouseButtonRelease) {
        RunGuarded([this] { StatusBar1Click(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TForm1::AppMessage(const TThreadMessage& message) {
    const std::optional<TLinkEvent> event = LinkEventOf(message);
    if (!event) return false;
    std::visit(TOverloaded{
                   [this](const TReadingTaken& taken) {
                       RunGuarded([&] { HandleReading(taken.Reading); });
                   },
                   [this](const TPortOpened&) { PortOpened(); },
                   [this](const TPortClosed& closed) { PortClosed(closed.Error); },
                   [this](const TCommandDone& done) { CommandDone(done.Kind, done.On); },
               },
               *event);
    return true;
}

void TForm1::CommandDone(int kind, bool on) {
    // Otherwise the operator sees what the readings show.
    FSetpointsAhead.Done(kind);
    if (kind == cmdStartStop && on) FStartWatch.StartReached();
}

void TForm1::StartTest() {
    const auto current = FSetpointsAhead.Value(cmdSetCurrent);
    if (const auto why = current ? CurrentMakesNoTest(*current) : std::nullopt) {
        const QString text = "The test was not started. " + QString::fromStdString(*why) +
                             " Set a discharge current of 0.01 A or more.";
        ShowMessage(text, true);
        throw Exception(text.toStdString());
    }
    const auto cutoff = FSetpointsAhead.Value(cmdSetCutoffVoltage);
    const auto time = FSetpointsAhead.Value(cmdSetTestTime);
    if (cutoff && time && DrainsTheCell(*cutoff, static_cast<int>(*time))) {
        QMessageBox question(QMessageBox::Warning, "Start",
                             "The minimum voltage is 0 V and no test time is set: the test would "
                             "discharge the cell to 0 V, which damages most cells.\n\n"
                             "Start all the same?",
                             QMessageBox::Yes | QMessageBox::No, this);
        question.setObjectName("DrainQuestion");
        question.setDefaultButton(QMessageBox::No);
        question.setEscapeButton(QMessageBox::No);
        if (question.exec() != QMessageBox::Yes) return;
    }
    QueueCommand(cmdStartStop, 1.0);
}

void TForm1::SayNotStarted(const QString& text) {
    ShowMessage(text, true);
    QMetaObject::invokeMethod(
        this, [text] { ShowErrorBox(text); }, Qt::QueuedConnection);
}

void TForm1::PortOpened() {
    const TPortChoice opened = FWorker->LastConnect();
    FConnectedPort = {QString::fromStdString(opened.Name), opened.Baud,
                      platform::IdentityOfPort(opened.Name)};
    const bool reconnected =
        std::exchange(FConnectOrigin, TConnectOrigin::None) == TConnectOrigin::Automatic;
    FWorker->FConnected = true;
    FSetpointsAhead.Clear();
    FStartWatch = {};
    ShowConnectionState(true);
    ShowMessage({}, false);
    RunGuarded([this] { OpenLog(); });
    FTestResults->ConnectionOpened(opened.Name, LogStream->IsOpen() ? LogStream->Path() : "");
    FTelemetry->TesterConnected(opened.Name, CellInBox());
    if (reconnected && FReconnection.Armed()) {
        ShowMessage(ReconnectedText(opened.Name, FReconnection.Away()), false);
    }
    FReconnection.Disarm();
    FConnectionLost = false;
    UpdateActions();  // at once, not only when the application next falls idle
    FocusCellBox();
    emit StateChanged();
}

void TForm1::PortClosed(int error) {
    // Connected and not asked to disconnect: the connection was lost, not ended.
    const bool lost = FWorker->FConnected && error != 0;
    const bool wasOpen = FPortConnected;
    const int64_t rowsLogged = LogStream->RowsWritten();
    FWorker->FConnected = false;
    FSetpointsAhead.Clear();
    FStartWatch = {};
    ShowConnectionState(false);
    ReleaseSleepLock();
    RunGuarded([this] { CloseLog(); });
    UpdateActions();
    if (wasOpen) {
        FTestResults->ConnectionEnded(lost && aReconnect->isChecked());
        FTelemetry->TesterDisconnected();
        ChartPlacedReadings();
    }
    aLastResult->setEnabled(FTestResults->Last().has_value());
    if (wasOpen) FConnectionLost = lost;
    emit StateChanged();

    // A close that was asked for, or of nothing open (the selected port went), is no answer to a
    // connect: an open that fails, or that a close overtakes, always carries its error.
    if (error == 0) return;
    const TConnectOrigin origin = std::exchange(FConnectOrigin, TConnectOrigin::None);
    if (lost) {
        const std::string name = FConnectedPort.Name.toStdString();
        const bool reconnecting = aReconnect->isChecked();
        if (reconnecting) FReconnection.Lost(FConnectedPort);
        const QString text = LostConnectionText(name, error, QTime::currentTime(), rowsLogged,
                                                LogStream->Path(), reconnecting);
        platform::DebugOutput(text.toStdString());
        ShowMessage(text, true);
        return;
    }
    if (origin == TConnectOrigin::None) return;  // a notice of no connect of ours
    const std::string name = FWorker->LastConnect().Name;
    if (origin == TConnectOrigin::Automatic && FReconnection.ConnectFailed(error)) {
        ShowMessage(StillBusyText(name), true);
        return;
    }
    const QString text = FailedConnectText(name, error);
    ShowMessage(text, true);
    // The operator pressed Connect and waits for it: a box, once this notice is handled. An
    // automatic attempt says it in the message field only.
    if (origin == TConnectOrigin::Operator) {
        QMetaObject::invokeMethod(
            this, [text] { ShowErrorBox(text); }, Qt::QueuedConnection);
    }
}

void TForm1::ShowMessage(const QString& text, bool problem) {
    QPalette palette = StatusMessage->palette();
    palette.setColor(QPalette::WindowText, problem ? Qt::red : palette.color(QPalette::Text));
    StatusMessage->setPalette(palette);
    StatusMessage->setText(text);
    // As rich text, which a tool tip wraps: a plain one is a single line, cut at the screen's edge.
    StatusMessage->setToolTip(text.isEmpty() ? QString() : "<p>" + text.toHtmlEscaped() + "</p>");
    StatusMessage->setVisible(!text.isEmpty());
    emit MessageShown(text, problem);
}

void TForm1::ShowConnectionState(bool connected) {
    shPort->SetBrushColor(connected ? kOn : kOff);
    for (TEllipsisEdit* box : {ceA, ceV, cbT}) box->setEnabled(connected);
    FPortConnected = connected;
    cbPort->setEnabled(!connected);
    cbSpeed->setEnabled(!connected);
}

void TForm1::HandleReading(const TDeviceReading& reading) {
    // The numbers are shown at the display's pace: the texts of every reading since the last
    // frame are merged, so each box shows the latest value read for it.
    MergeTexts(FPendingTexts, ReadingTexts(reading));
    if (!FDisplayFrame->isActive()) FDisplayFrame->start();
    if (reading.Status == 1 || reading.Status == 0) {
        shStarted->SetBrushColor(reading.Status == 1 ? kOn : kOff);
        const bool wasRunning = std::exchange(FTestRunning, reading.Status == 1);
        if (wasRunning != FTestRunning) emit StateChanged();
        if (!FTestRunning) {
            ReleaseSleepLock();
        } else if (!std::exchange(FSleepLockAsked, true)) {
            // Asked once per test: where there is no login manager the answer stays no.
            FSleepLock.Acquire(
                platform::DischargeTestSleepReason(FConnectedPort.Name.toStdString()));
        }
    }
    WriteLogRow(reading);
    FSetpointsAhead.Reading(reading);
    if (const auto notStarted = FStartWatch.Reading(reading)) {
        SayNotStarted("The test did not start: " + QString::fromStdString(notStarted->Cause) +
                      FixFor(notStarted->Kind));
    }
    FTelemetry->Reading(reading);
    FTestResults->Reading(reading);
    ChartPlacedReadings();
    aLastResult->setEnabled(FTestResults->Last().has_value());
    aStartUpdate();
    aStopUpdate();
}

void TForm1::ReleaseSleepLock() {
    FSleepLock.Release();
    FSleepLockAsked = false;
}

void TForm1::ShowReadingTexts() {
    const TReadingTexts t = std::exchange(FPendingTexts, {});
    auto show = [](QLineEdit* box, const std::optional<QString>& text) {
        if (text && box->text() != *text) box->setText(*text);
    };
    show(eVoltage, t.Voltage);
    show(eCurrent, t.Current);
    show(eTime, t.Time);
    show(eWatt, t.Power);
    show(eWH, t.WattHours);
    show(eAH, t.AmpHours);
    if (t.CurrentSetpoint) ceA->SetText(*t.CurrentSetpoint);
    if (t.CutoffVoltage) ceV->SetText(*t.CutoffVoltage);
    show(eTemp, t.Temperature);
    if (t.TestTimeSetpoint) cbT->SetText(*t.TestTimeSetpoint);
}

void TForm1::ChartPlacedReadings() {
    // Running readings, on the elapsed time of their test: a tester that counts a timed test down
    // is drawn forward, in step with compared tests and the Ah axis.
    for (const TDeviceReading& reading : FTestResults->Placed()) AddChartPoints(reading);
}

void TForm1::AddChartPoints(const TDeviceReading& reading) {
    Chart1->AddChartPoints(reading);
    emit ChartPointAdded(reading);
}

void TForm1::bClearClick() {
    Chart1->Clear();
}

void TForm1::OpenLog() {
    // The path is shown also when the file cannot be created.
    struct ShowPath {
        TForm1* form;
        ~ShowPath() {
            const QString path = QString::fromStdString(form->LogStream->Path());
            form->StatusPanel->setText(path);
            form->StatusPanel->setToolTip(path);
        }
    } showPath{this};
    LogStream->OpenLog(FBenchView ? FConnectedPort.Name.toStdString() : std::string());
}

void TForm1::CloseLog() {
    if (LogStream->CloseLog()) LogWriteFailed();
}

void TForm1::WriteLogRow(const TDeviceReading& reading) {
    if (LogStream->WriteLogRow(reading)) LogWriteFailed();
}

void TForm1::LogWriteFailed() {
    // Once per log: the operator must know that the log misses rows from here on, and the test
    // that spans it says so at its end.
    ShowMessage(QString::fromStdString(LogStream->WriteFailureText()) + " - the log is incomplete",
                true);
    FTestResults->LogIncomplete(LogStream->Path(), LogStream->WriteFailureText());
}

void TForm1::SetpointInput(TEllipsisEdit* box, int32_t kind, const QString& title,
                           const QString& prompt) {
    if (!box->isEnabled()) return;
    const auto text = AskText(this, title, prompt, box->Text());
    if (!text) return;
    double value = 0;
    if (kind == cmdSetTestTime) {
        value = TestTimeFromText(text->toStdString());
    } else {
        value = ParseFloatDef(text->toStdString(), 0);
    }
    if (const auto refusal = SetpointRefusal(kind, value)) throw Exception(*refusal);
    QueueCommand(kind, value);
}

void TForm1::ceAButtonClick() {
    SetpointInput(ceA, cmdSetCurrent, "Enter discharge current", "A=");
}
void TForm1::ceVButtonClick() {
    SetpointInput(ceV, cmdSetCutoffVoltage, "Enter minimal voltage", "V=");
}
void TForm1::cbTButtonClick() {
    SetpointInput(cbT, cmdSetTestTime, "Enter test time", "H:M:S=");
}

void TForm1::bLeftAxisClick() {
    const QString initial = QString::fromStdString(FormatFixed(Chart1->LeftAxisMax(), 2));
    const auto text = AskText(this, "Maximum value for left axis", "maxV=", initial);
    if (text) Chart1->SetLeftAxisMax(ParseFloatDef(text->toStdString(), 0));
}

void TForm1::bRightAxisClick() {
    const QString initial = QString::fromStdString(FormatFixed(Chart1->RightAxisMax(), 2));
    const auto text = AskText(this, "Maximum value for right axis", "maxI=", initial);
    if (text) Chart1->SetRightAxisMax(ParseFloatDef(text->toStdString(), 0));
}

void TForm1::Exit1Click() {
    if (FBenchView) {
        close();  // the bench goes on
        return;
    }
    QApplication::quit();
}
void TForm1::bSaveClick() {
    TFProtoInfo protoInfo(this);  // a fresh window for every click
    protoInfo.exec();
}

void TForm1::About1Click() {
    ShowAboutBox("", "", nullptr);
}

void TForm1::StatusBar1Click() {
    OpenInExplorer(StatusPanel->text().toStdString());
}

void TForm1::CompareWithLog(const QString& path) {
    TLoggedTests log;
    try {
        log = ReadLoggedTests(QFile::encodeName(path).toStdString());
    } catch (const std::runtime_error& error) {
        throw Exception(error.what());
    }
    Chart1->CompareWith(log);
    // A clean log leaves the field as it is: it may be telling of a connection.
    if (log.UnreadableRows > 0) ShowMessage(UnreadableRowsMessage(log), true);
    FillRemoveComparedMenu();
}

void TForm1::FillRemoveComparedMenu() {
    RemoveCompared->clear();
    for (const TComparedTests::TEntry& entry : Chart1->ComparedLogs()) {
        QAction* remove = RemoveCompared->addAction(entry.Label);
        connect(remove, &QAction::triggered, this, [this, id = entry.Id] {
            Chart1->RemoveCompared(id);
            FillRemoveComparedMenu();
        });
    }
    RemoveCompared->setEnabled(!RemoveCompared->isEmpty());
}

void TForm1::SaveChart(const QString& path) {
    if (!Chart1->SaveChart(path))
        throw Exception(("Cannot save the chart as " + path).toStdString());
}

int TForm1::WMDeviceChange(uint32_t eventCode, uint32_t deviceType, const QString& name) {
    const int result = FPortList->WMDeviceChange(eventCode, deviceType, name);
    if (eventCode == platform::kDeviceArrival && deviceType == platform::kDeviceTypePort) {
        FReconnection.PortArrived(name);
    }
    return result;
}
