// The console window end to end: every reading received while connected becomes one log row,
// in order; simulated testers published in the virtual port folder while the window runs come
// and go like USB adapters (a real inotify watch); a tester program killed mid-connection ends it
// with the operator told, and is connected again when it comes back.
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/CellsWindow.h"
#include "app/ChartView.h"
#include "app/EllipsisEdit.h"
#include "app/Indicator.h"
#include "app/TestResults.h"
#include "app/uReader.h"
#include "device/SerialLink.h"
#include "platform/DebugOutput.h"
#include "platform/PortNames.h"
#include "platform/VirtualPorts.h"
#include "records/Register.h"
#include "sim/PtyTester.h"
#include "telemetry/TelemetryMessages.h"
#include "testrun/Station.h"
#include "testrun/TestLog.h"
#include "tests/fixtures/LogLines.h"
#include "tests/fixtures/MosquittoBroker.h"
#include "tests/fixtures/ReadingTap.h"
#include "tests/fixtures/SimProgram.h"
#include "threads/qt/QtMessageSink.h"

namespace {

constexpr int kBound = 30000;  // ms
const QColor kGreen(0x00, 0xFF, 0x00);
const QColor kGrey(0xC0, 0xC0, 0xC0);

// Runs the event loop for `ms` and tells whether `happened` stayed false all along: a check that
// something never occurs, watched over a span longer than whatever would make it occur.
template <typename Condition>
bool NeverWithin(int ms, Condition happened) {
    QElapsedTimer watch;
    watch.start();
    while (watch.elapsed() < ms) {
        if (happened()) return false;
        QTest::qWait(20);  // events, timers included, run meanwhile
    }
    return !happened();
}

}  // namespace

class WindowSessionTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TForm1> form;

    void Open() {
        form = std::make_unique<TForm1>();
        form->aReconnect->setChecked(false);  // tests that connect by hand; on where they test it
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }

  private slots:
    void initTestCase() {
        // Entries left by an earlier run that was cut short would hold the names used here.
        std::filesystem::remove_all(platform::VirtualPortFolder());
    }
    void init() {
        platform::SetDebugSink([](const std::string&) {});
    }
    void cleanup() {
        form.reset();  // and with it its link, closed
        QCoreApplication::removePostedEvents(nullptr);
        platform::SetDebugSink({});
    }

    void everyReadingBecomesOneRowAndAReconnectionANewFile() {
        sim::PtyTester tester;
        platform::PublishedPort port("ttyKELVOlog", tester.DevicePath());
        Open();
        const int index = form->cbPort->findText("ttyKELVOlog");
        QVERIFY(index >= 0);  // listed at start, after any hardware ports
        form->cbPort->setCurrentIndex(index);
        ReadingTap tap;

        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
        const QString firstLog = form->StatusPanel->text();
        QTRY_VERIFY_WITH_TIMEOUT(tap.rows.size() >= 5, kBound);
        form->aOpen->trigger();  // disconnect
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        const QStringList firstRows = tap.rows;
        QStringList expected{kLogHeader};
        expected << firstRows;
        QCOMPARE(LogLines(firstLog), expected);

        tap.rows.clear();
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
        const QString secondLog = form->StatusPanel->text();
        QVERIFY(secondLog != firstLog);
        QTRY_VERIFY_WITH_TIMEOUT(tap.rows.size() >= 2, kBound);
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        expected = QStringList{kLogHeader};
        expected << tap.rows;
        QCOMPARE(LogLines(secondLog), expected);
        QCOMPARE(LogLines(firstLog).size(), firstRows.size() + 1);  // the first file is kept
        QFile::remove(firstLog);
        QFile::remove(secondLog);
    }

    // Telemetry chosen in Connection > Telemetry...: each tester connection is an MQTT connection
    // of its own (the broker's will names the port), online while it lasts, with its readings.
    void telemetryIsOneBrokerConnectionPerTesterConnection() {
        TMosquittoBroker broker;
        if (!broker.Failure().empty()) QSKIP(("no broker: " + broker.Failure()).c_str());
        TMqttWatcher watcher(broker);
        QVERIFY(watcher.Connected());
        sim::PtyTester tester;
        platform::PublishedPort port("ttyKELVOtel", tester.DevicePath());
        Open();
        form->cbPort->setCurrentIndex(form->cbPort->findText("ttyKELVOtel"));
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog != nullptr);
            dialog->findChild<QLineEdit*>("TelemetryLocation")
                ->setText(QString::fromStdString(broker.Location()));
            dialog->findChild<QLineEdit*>("TelemetryPasswordFile")
                ->setText(QString::fromStdString(broker.PasswordFile()));
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        form->aTelemetry->trigger();

        const TTelemetryTopics topics(StationName(), "ttyKELVOtel");
        for (int connection = 1; connection <= 2; ++connection) {
            const size_t before = watcher.Messages(topics.Reading).size();
            form->aOpen->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
            QTRY_VERIFY_WITH_TIMEOUT(watcher.Messages(topics.Reading).size() >= before + 5, kBound);
            form->aOpen->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
            QFile::remove(form->StatusPanel->text());
        }
        form.reset();  // closes the last MQTT connection
        QStringList said;
        for (const TMqttMessage& status : watcher.Messages(topics.Status)) {
            said << QString::fromStdString(status.Payload);
        }
        QCOMPARE(said, QStringList({"online", "offline", "online", "offline"}));
        std::stringstream log;
        log << std::ifstream(broker.Folder() + "/broker.log").rdbuf();
        QCOMPARE(QString::fromStdString(log.str()).count("u'kelvo'"), 2);
    }

    // The console connects to a 1 A test that has run for 30 minutes, whose tester counts down a
    // 2 h test time: the chart runs forward from 0:30:00 (not backwards from the 1:30:00 left),
    // and the summary says the figures are the tester's for the whole test.
    void joinedTimedTestIsChartedForwardAndSummarisedAsJoined() {
        sim::Options options;
        options.acceleration = 10;
        options.currentSetpoint_cA = 100;
        options.runningSince_s = 1800;
        sim::PtyTester tester(options);
        platform::PublishedPort port("ttyKELVOjoin", tester.DevicePath());
        Open();
        form->cbPort->setCurrentIndex(form->cbPort->findText("ttyKELVOjoin"));
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
        form->QueueCommand(cmdSetTestTime, 7200);
        const TChartReadings& chart = form->Chart1->Readings();
        // Until the tester's clock has counted down for a few seconds.
        QTRY_VERIFY_WITH_TIMEOUT(tester.State().testTimeSetpoint_s == 7200 && !chart.Empty() &&
                                     chart.Seconds(chart.Size() - 1) - chart.Seconds(0) >= 5,
                                 kBound);
        QVERIFY2(chart.Seconds(0) >= 1800 && chart.Seconds(chart.Size() - 1) < 3600,
                 qPrintable(QString("charted from %1 s to %2 s")
                                .arg(chart.Seconds(0))
                                .arg(chart.Seconds(chart.Size() - 1))));
        form->aStop->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(form->TestResults().Last().has_value(), kBound);
        const TTestSummary& summary = *form->TestResults().Last();
        QCOMPARE(summary.Reason, TEndReason::Operator);
        QVERIFY(summary.JoinedAtS >= 1800 && summary.JoinedAtS < 1860);
        QVERIFY(std::abs(summary.MeanA.value_or(0) - 1.0) < 0.01);
        const auto* text = form->findChild<QPlainTextEdit*>("TestResultText");
        QVERIFY(text != nullptr);
        QVERIFY2(text->toPlainText().contains("Joined at 0:30:") &&
                     text->toPlainText().contains(
                         "of the test; the figures are the tester's for the whole test."),
                 qPrintable(text->toPlainText()));
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        QFile::remove(form->StatusPanel->text());
        QFile::remove(QString(form->TestResults().LastJson()));
        QFile::remove(QString(form->TestResults().LastPicture()));
    }

    // The operator scans a cell's label (keys typed into the box, then Enter) and runs a test to
    // its cutoff: the verdict names the cell, the register holds the test under it, the box is
    // ready for the next scan, and the Cells window shows the cell.
    void scannedCellEndsInTheRegisterAndTheCellsWindow() {
        const auto testsOfTheCell = [] {
            const auto history = TRegister::Open(TRegister::DefaultLocation())->Cell("C-017");
            return history ? history->Tests.size() : size_t{0};
        };
        const size_t before = testsOfTheCell();  // of an earlier run
        sim::Options options;
        options.acceleration = 60;
        options.cell.capacityAh = 0.1;
        sim::PtyTester tester(options);
        sim::Registers full;
        full.voltage_mV = 4200;
        tester.SetRegisters(full);
        platform::PublishedPort port("ttyKELVOcell", tester.DevicePath());
        Open();
        form->cbPort->setCurrentIndex(form->cbPort->findText("ttyKELVOcell"));
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
        QTRY_VERIFY_WITH_TIMEOUT(form->eCell->hasFocus(), kBound);  // ready for a scan
        QTest::keyClicks(form->eCell, "C-017");
        QTest::keyClick(form->eCell, Qt::Key_Return);
        form->QueueCommand(cmdSetCurrent, 1.5);
        form->QueueCommand(cmdSetCutoffVoltage, 3.0);
        form->QueueCommand(cmdStartStop, 1.0);
        QTRY_VERIFY_WITH_TIMEOUT(form->TestResults().Last().has_value(), kBound);
        const TTestSummary& summary = *form->TestResults().Last();
        QCOMPARE(summary.Reason, TEndReason::Cutoff);
        QCOMPARE(summary.Cell.value_or(""), std::string("C-017"));
        // The console's keyboard focus (the summary beside it does not take it from a desktop).
        QCOMPARE(form->focusWidget(), static_cast<QWidget*>(form->eCell));
        QCOMPARE(form->eCell->selectedText(), QString("C-017"));  // the next scan replaces it

        QTRY_COMPARE_WITH_TIMEOUT(testsOfTheCell(), before + 1, kBound);  // recorded in a thread
        const auto history = TRegister::Open(TRegister::DefaultLocation())->Cell("C-017");
        // As the verdict writes it: 3 decimals.
        QVERIFY(std::abs(history->Cell.CapacityAh.value_or(-1) - summary.Ah) < 0.0005);

        form->aCells->trigger();
        auto* cells = form->findChild<TCellsWindow*>();
        QVERIFY(cells != nullptr && cells->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!cells->Busy(), kBound);  // read by the window's worker
        QCOMPARE(cells->SelectedCell(), QString("C-017"));
        if (qEnvironmentVariableIsSet("KELVO_SCREENSHOT_DIR")) {
            cells->grab().save(qEnvironmentVariable("KELVO_SCREENSHOT_DIR") +
                               "/kelvo-cells-window.png");
        }
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        QFile::remove(form->StatusPanel->text());
        QFile::remove(form->TestResults().LastJson());
        QFile::remove(form->TestResults().LastPicture());
    }

    void publishedTestersComeAndGoLikeAdapters() {
        Open();
        form->cbPort->clear();  // as on a machine without serial ports

        sim::PtyTester first;
        auto firstPort = std::make_unique<platform::PublishedPort>("ttyKELVOa", first.DevicePath());
        QTRY_COMPARE_WITH_TIMEOUT(form->cbPort->count(), 1, kBound);
        QCOMPARE(form->cbPort->currentText(),
                 QString("ttyKELVOa"));  // selected: the list was empty
        sim::PtyTester second;
        platform::PublishedPort secondPort("ttyKELVOb", second.DevicePath());
        QTRY_COMPARE_WITH_TIMEOUT(form->cbPort->count(), 2, kBound);
        QCOMPARE(form->cbPort->currentText(), QString("ttyKELVOa"));  // selection unchanged

        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
        firstPort.reset();  // the selected tester is unplugged while connected
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        QVERIFY(!form->PortConnected());
        QVERIFY(form->cbPort->isEnabled());
        QCOMPARE(form->cbPort->count(), 1);
        QCOMPARE(form->cbPort->currentText(), QString("ttyKELVOb"));  // item 0
    }

    // The selection moves to item 0 whenever any port goes, so it cannot tell which port is
    // open: the removal of the open port must close it even when another one is selected.
    void removalClosesTheOpenPortWhateverIsSelected() {
        Open();
        form->cbPort->clear();
        sim::PtyTester a, b, c;
        platform::PublishedPort portA("ttyKELVOa", a.DevicePath());
        auto portB = std::make_unique<platform::PublishedPort>("ttyKELVOb", b.DevicePath());
        auto portC = std::make_unique<platform::PublishedPort>("ttyKELVOc", c.DevicePath());
        QTRY_COMPARE_WITH_TIMEOUT(form->cbPort->count(), 3, kBound);
        form->cbPort->setCurrentIndex(form->cbPort->findText("ttyKELVOb"));
        ReadingTap tap;
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);

        portC.reset();  // another port goes: the connection stays, the selection moves
        QTRY_COMPARE_WITH_TIMEOUT(form->cbPort->count(), 2, kBound);
        QCOMPARE(form->cbPort->currentText(), QString("ttyKELVOa"));
        const int rows = tap.rows.size();
        QTRY_VERIFY_WITH_TIMEOUT(tap.rows.size() > rows, kBound);
        QVERIFY(form->PortConnected());

        portB.reset();  // the open port goes
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        QVERIFY(!form->Link().IsOpen());
        QVERIFY2(form->StatusMessage->text().startsWith("Connection to ttyKELVOb lost at "),
                 qPrintable(form->StatusMessage->text()));
        QFile::remove(form->StatusPanel->text());
    }

    // The tester program is killed mid-connection: its terminal hangs up, its entry stays. The
    // console closes the connection at once, with at most one row of failed values, says so, and
    // connects again by itself once a tester is published under that name again.
    void killedTesterEndsTheConnectionAndIsReconnectedWhenItComesBack() {
        auto sim = std::make_unique<SimProgram>("ttyKELVOre");
        QVERIFY(sim->Running());
        Open();
        form->aReconnect->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(form->cbPort->findText("ttyKELVOre") >= 0, kBound);
        form->cbPort->setCurrentIndex(form->cbPort->findText("ttyKELVOre"));
        ReadingTap tap;
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
        const QString firstLog = form->StatusPanel->text();
        QTRY_VERIFY_WITH_TIMEOUT(tap.rows.size() >= 3, kBound);

        QElapsedTimer lost;
        lost.start();
        sim->Kill();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        qInfo("hang-up to disconnected state: %lld ms", static_cast<long long>(lost.elapsed()));
        const QString message = form->StatusMessage->text();
        QVERIFY2(
            message.startsWith("Connection to ttyKELVOre lost at ") &&
                message.contains("ttyKELVOre is gone") &&
                message.contains(
                    QString("%1 readings were logged in %2").arg(tap.rows.size()).arg(firstLog)),
            qPrintable(message));
        QVERIFY(tap.failedRows <= 1);
        if (qEnvironmentVariableIsSet("KELVO_SCREENSHOT_DIR")) {
            form->grab().save(qEnvironmentVariable("KELVO_SCREENSHOT_DIR") + "/kelvo-lost.png");
        }
        QStringList expected{kLogHeader};
        expected << tap.rows;
        QCOMPARE(LogLines(firstLog), expected);

        sim = std::make_unique<SimProgram>("ttyKELVOre");  // replaces the entry left behind
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
        QVERIFY2(form->StatusMessage->text().startsWith("Reconnected to ttyKELVOre after "),
                 qPrintable(form->StatusMessage->text()));
        const QString secondLog = form->StatusPanel->text();
        QVERIFY(secondLog != firstLog);
        QTRY_VERIFY_WITH_TIMEOUT(LogLines(secondLog).size() >= 2, kBound);

        form->aOpen->trigger();  // the operator's disconnect is never undone
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        sim->Kill();
        sim = std::make_unique<SimProgram>("ttyKELVOre");
        QTRY_VERIFY_WITH_TIMEOUT(form->cbPort->findText("ttyKELVOre") >= 0, kBound);
        // Watched for longer than the reconnection's 1 s retry: no connect comes.
        QVERIFY(NeverWithin(2500, [&] { return form->PortConnected() || form->Link().IsOpen(); }));
        QFile::remove(firstLog);
        QFile::remove(secondLog);
    }
};

QTEST_MAIN(WindowSessionTest)
#include "WindowSession_test.moc"
