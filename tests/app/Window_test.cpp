// The console window driven by its actions and keys, against the simulated tester over a
// pseudo-terminal, on the offscreen platform.
#include <QAction>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "app/ChartView.h"
#include "app/EllipsisEdit.h"
#include "app/ErrorBox.h"
#include "app/Indicator.h"
#include "app/ReadingLine.h"
#include "app/RememberedChoices.h"
#include "app/TestResults.h"
#include "app/uReader.h"
#include "platform/DebugOutput.h"
#include "sim/PtyTester.h"
#include "support/LocaleText.h"
#include "testrun/TestLog.h"
#include "tests/fixtures/FullFolder.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kBound = 30000;  // ms: generous bound for anything the worker does

const QColor kGreen(0x00, 0xFF, 0x00);
const QColor kGrey(0xC0, 0xC0, 0xC0);

// A number text as the window shows it under the current locale.
QString L(const char* text) {
    return QString(text).replace('.', QChar(LocaleDecimalSeparator()));
}

// Points of the voltage series (every reading charts one point in each series).
int PointCount(const TChartView& chart) {
    return static_cast<int>(chart.Readings().Size());
}

bool IsWrite(const Bytes& frame) {
    return frame[2] >= 0x01 && frame[2] <= 0x05;
}

std::vector<Bytes> Writes(const sim::PtyTester& tester) {
    std::vector<Bytes> writes;
    for (const auto& frame : tester.Requests()) {
        if (IsWrite(frame)) writes.push_back(frame);
    }
    return writes;
}

// Owns the watches for dialogs of the running test function; cleared after each.
QObject* dialogWatches = nullptr;

// Answers the next modal dialog of type Dialog once it is shown: `answer` gets it and closes it.
template <class Dialog>
void WhenDialogOpens(std::function<void(Dialog*)> answer) {
    auto* poll = new QTimer(dialogWatches);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        answer(dialog);
    });
    poll->start();
}

// Types `text` into the input box and presses OK; records its title and prompt.
struct InputAnswer {
    QString title, prompt;
    void Arm(const QString& text) {
        WhenDialogOpens<QInputDialog>([this, text](QInputDialog* input) {
            title = input->windowTitle();
            prompt = input->labelText();
            input->setTextValue(text);
            input->accept();
        });
    }
};

// Closes the next error box, recording its message.
struct ErrorAnswer {
    QString message;
    void Arm() {
        WhenDialogOpens<QMessageBox>([this](QMessageBox* box) {
            message = box->text();
            box->accept();
        });
    }
};

// Answers the next question box with `button`; records its text and its default button.
struct QuestionAnswer {
    QString text;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    void Arm(QMessageBox::StandardButton button) {
        WhenDialogOpens<QMessageBox>([this, button](QMessageBox* box) {
            text = box->text();
            defaultButton = box->standardButton(box->defaultButton());
            box->button(button)->click();
        });
    }
};

const Bytes kStart{0xB1, 0xB2, 0x01, 0x01, 0x00, 0xB6};

bool StartSent(const sim::PtyTester& tester) {
    const std::vector<Bytes> writes = Writes(tester);
    return std::find(writes.begin(), writes.end(), kStart) != writes.end();
}

sim::Registers ShownRegisters() {
    sim::Registers r;
    r.status = 0;
    r.voltage_mV = 12346;  // 12.346 V
    r.current_mA = 1500;
    r.testTime_s = 100 * 3600;
    r.ampHours_mAh = 20;
    r.wattHours_mWh = 250;
    r.temperature = 25;
    r.currentSetpoint_cA = 250;
    r.cutoffVoltage_cV = 310;
    r.testTimeSetpoint_s = 3723;
    return r;
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<sim::PtyTester> tester;
    std::unique_ptr<TForm1> form;

    void SelectSimulatedPort() {
        const QString name = QString::fromStdString(tester->DevicePath().substr(5));  // pts/N
        form->cbPort->addItem(name);
        form->cbPort->setCurrentIndex(form->cbPort->count() - 1);
    }
    void Connect() {
        SelectSimulatedPort();
        QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
    }
    // Rows in the window's log of the connection: one for each reading the window has handled.
    int LoggedRows() const {
        QFile log(form->StatusPanel->text());
        if (!log.open(QIODevice::ReadOnly)) return 0;
        return static_cast<int>(log.readAll().count("\r\n")) - 1;  // less the header
    }
    // Waits until the tester has served `count` more poll cycles and the window has handled as
    // many more readings.
    void WaitForReadings(int count) {
        const size_t target = tester->Requests().size() + 10 * static_cast<size_t>(count);
        const int rows = LoggedRows() + count;
        QTRY_VERIFY_WITH_TIMEOUT(tester->Requests().size() >= target && LoggedRows() >= rows,
                                 kBound);
    }

    void ShowForm(std::unique_ptr<TForm1> window) {
        form = std::move(window);
        form->aReconnect->setChecked(false);  // these tests connect by hand
        form->show();
        QApplication::setActiveWindow(form.get());  // shortcuts reach the active window only
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }

  private slots:
    void init() {
        dialogWatches = new QObject;
        platform::SetDebugSink([](const std::string&) {});
        tester = std::make_unique<sim::PtyTester>();
        tester->SetRegisters(ShownRegisters());
        ShowForm(std::make_unique<TForm1>());
    }
    void cleanup() {
        delete dialogWatches;  // a watch whose dialog never came
        dialogWatches = nullptr;
        form.reset();  // and with it its link, closed
        QCoreApplication::removePostedEvents(nullptr);
        tester.reset();
        platform::SetDebugSink({});
    }

    void startUpStateIsDisconnected() {
        QCOMPARE(form->shPort->BrushColor(), QColor(Qt::white));
        QVERIFY(!form->ceA->isEnabled() && !form->ceV->isEnabled() && !form->cbT->isEnabled());
        QVERIFY(form->cbPort->isEnabled() && form->cbSpeed->isEnabled());
        QCOMPARE(form->aOpen->text(), QString("Connect"));
        QVERIFY(!form->aOpen->isChecked());
        QVERIFY(!form->aStart->isEnabled() && !form->aStop->isEnabled() &&
                !form->aReset->isEnabled());
        QStringList bauds;
        for (int i = 0; i < form->cbSpeed->count(); ++i) bauds << form->cbSpeed->itemText(i);
        QCOMPARE(bauds, QStringList({"9600", "19200", "38400", "57600", "115200"}));
        QCOMPARE(form->cbSpeed->currentText(), QString("9600"));
        QCOMPARE(form->cbSpeed->currentData().toInt(), 9600);
        QCOMPARE(form->eVoltage->text(),
                 QString("0.000"));  // the start-up text, whatever the locale
        QCOMPARE(form->eTime->text(), QString("00:00:00"));
        QCOMPARE(form->eTemp->text(), QString("0"));
        QCOMPARE(form->ceA->Text(), QString("0.00"));
        QCOMPARE(form->cbT->Text(), QString("00:00:00"));
        QCOMPARE(form->windowTitle(), QString("Kelvo"));
    }

    void connectShowsOpenStateAndReadings() {
        Connect();
        QVERIFY(form->ceA->isEnabled() && form->ceV->isEnabled() && form->cbT->isEnabled());
        QVERIFY(!form->cbPort->isEnabled() && !form->cbSpeed->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(form->eVoltage->text(), L("12.346"), kBound);
        form->UpdateActions();
        QCOMPARE(form->aOpen->text(), QString("Disconnect"));
        QVERIFY(form->aOpen->isChecked());
        QVERIFY(form->aStart->isEnabled());
        QVERIFY(!form->aStop->isEnabled());
        QVERIFY(form->aReset->isEnabled());
        QCOMPARE(form->eCurrent->text(), L("1.500"));
        QCOMPARE(form->eWatt->text(), L("18.519"));
        QCOMPARE(form->eWH->text(), L("0.250"));
        QCOMPARE(form->eAH->text(), L("0.020"));
        QCOMPARE(form->eTime->text(), QString("100:00:00"));
        QCOMPARE(form->eTemp->text(), QString("25°C"));
        QCOMPARE(form->ceA->Text(), L("2.50"));
        QCOMPARE(form->ceV->Text(), L("3.10"));
        QCOMPARE(form->cbT->Text(), QString("01:02:03"));
        QCOMPARE(form->shStarted->BrushColor(), kGrey);
    }

    void disconnectTurnsCaptionAtOnceAndStateOnTheNotice() {
        Connect();
        form->UpdateActions();
        QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier);
        // Before the port-closed notice has been handled:
        QCOMPARE(form->aOpen->text(), QString("Connect"));
        QVERIFY(!form->aOpen->isChecked());
        QCOMPARE(form->shPort->BrushColor(), kGreen);
        QVERIFY(form->aReset->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        form->UpdateActions();
        QVERIFY(!form->ceA->isEnabled());
        QVERIFY(form->cbPort->isEnabled() && form->cbSpeed->isEnabled());
        QVERIFY(!form->aStart->isEnabled() && !form->aStop->isEnabled() &&
                !form->aReset->isEnabled());
    }

    // What the operator picked comes back at the next start, whatever damaged the file since
    // (it is then ignored, and replaced at the next exit); a port named on the command line
    // wins, and one that is not listed is said.
    void choicesComeBackAndTheCommandLineWins() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        auto list = [](TForm1& window) {
            window.cbPort->clear();
            window.cbPort->addItems({"ttyKELVOone", "ttyKELVOtwo"});
        };
        list(*form);
        form->cbPort->setCurrentIndex(1);
        form->cbSpeed->setCurrentIndex(form->cbSpeed->findText("57600"));
        form->aReconnect->setChecked(false);
        SaveChoices(form->Choices());

        TForm1 next;
        list(next);
        next.ApplyStartChoices(LoadChoices(), {});
        QCOMPARE(next.cbPort->currentText(), QString("ttyKELVOtwo"));
        QCOMPARE(next.cbSpeed->currentText(), QString("57600"));
        QVERIFY(!next.aReconnect->isChecked());
        QVERIFY(next.StatusMessage->isHidden());
        TConsoleOptions chosen;
        chosen.Port = "ttyKELVOone";
        next.ApplyStartChoices(LoadChoices(), chosen);
        QCOMPARE(next.cbPort->currentText(), QString("ttyKELVOone"));
        chosen.Port = "ttyKELVOnone";
        next.ApplyStartChoices(LoadChoices(), chosen);
        QCOMPARE(next.StatusMessage->text(), QString("Port ttyKELVOnone is not listed."));

        QFile damaged(config.path() + "/Kelvo/kelvo-console.conf");
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("[connection\n\xff\xfe=\n[[[");
        damaged.close();
        QCOMPARE(LoadChoices().Port, QString());
        QVERIFY(LoadChoices().Reconnect);
        SaveChoices(next.Choices());
        QCOMPARE(LoadChoices().Port, QString("ttyKELVOone"));
        qunsetenv("XDG_CONFIG_HOME");
    }

    // A test run to its cutoff under the window: beside its log, the verdict names the cutoff and
    // the charge and energy the tester counted, with a picture of its curves; a test stopped
    // with F5 is the operator's; and the summary window does not block the console.
    void verdictOfATestAtItsCutoffAndOfOneStoppedByTheOperator() {
        sim::Options options;
        options.acceleration = 60;
        options.cell.capacityAh = 0.05;
        tester = std::make_unique<sim::PtyTester>(options);
        sim::Registers full;
        full.voltage_mV = 4200;
        full.currentSetpoint_cA = 150;
        full.cutoffVoltage_cV = 300;
        tester->SetRegisters(full);
        Connect();
        WaitForReadings(1);
        QTest::keyClick(form.get(), Qt::Key_F5);  // Start
        auto& results = form->TestResults();
        QTRY_VERIFY_WITH_TIMEOUT(results.Last().has_value(), kBound);
        QCOMPARE(ReasonName(results.Last()->Reason), "cutoff");
        const QString log = form->StatusPanel->text();
        QString json = log;
        json.replace(".csv", "_test1.json");
        QCOMPARE(results.LastJson(), json);
        QFile file(json);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject verdict = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(verdict["reason"].toString(), QString("cutoff"));
        const sim::Registers end = tester->State();
        QCOMPARE(verdict["ah"].toDouble(), end.ampHours_mAh / 1000.0);
        QCOMPARE(verdict["wh"].toDouble(), end.wattHours_mWh / 1000.0);
        QCOMPARE(verdict["log"].toString(), log);
        QVERIFY(QFileInfo(QString(json).replace(".json", ".png")).size() > 0);
        auto* summary = form->findChild<QDialog*>("TestResult");
        QVERIFY(summary != nullptr && summary->isVisible() && !summary->isModal());

        tester->SetRegisters(full);               // a fresh cell
        QTest::keyClick(form.get(), Qt::Key_F5);  // Start
        QTRY_VERIFY_WITH_TIMEOUT(form->TestRunning(), kBound);
        QTest::keyClick(form.get(), Qt::Key_F5);  // Stop
        QTRY_COMPARE_WITH_TIMEOUT(form->TestResults().LastJson(),
                                  QString(json).replace("_test1", "_test2"), kBound);
        QCOMPARE(ReasonName(results.Last()->Reason), "operator");
        QVERIFY(summary->findChild<QPlainTextEdit*>()->toPlainText().contains(
            "stopped by the operator"));
        for (const char* file : {"_test1.json", "_test1.png", "_test2.json", "_test2.png"}) {
            QFile::remove(QString(log).replace(".csv", file));
        }
    }

    // The operator who pressed Connect is told why it failed, in a box and in the status bar.
    void failedConnectShowsClosedStateAndTheCause() {
        form->cbPort->addItem("kelvo-no-such-port");
        form->cbPort->setCurrentIndex(form->cbPort->count() - 1);
        ErrorAnswer error;
        error.Arm();
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        form->UpdateActions();
        QCOMPARE(form->aOpen->text(), QString("Connect"));
        QVERIFY(!form->aReset->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!error.message.isEmpty(), kBound);
        QVERIFY2(error.message.startsWith("Cannot connect to kelvo-no-such-port: "
                                          "kelvo-no-such-port is gone"),
                 qPrintable(error.message));
        QCOMPARE(form->StatusMessage->text(), error.message);
    }

    void startAndStopFollowTheTestAndOnlyRunningReadingsAreCharted() {
        Connect();
        WaitForReadings(1);
        QCOMPARE(PointCount(*form->Chart1), 0);
        QTest::keyClick(form.get(), Qt::Key_F5);  // reaches Start, the enabled one
        QTRY_COMPARE_WITH_TIMEOUT(form->shStarted->BrushColor(), kGreen, kBound);
        QVERIFY(form->TestRunning());
        QVERIFY(!form->aStart->isEnabled());
        QVERIFY(form->aStop->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(PointCount(*form->Chart1) >= 2, kBound);
        QTest::keyClick(form.get(), Qt::Key_F8);  // Test > Clear
        QCOMPARE(PointCount(*form->Chart1), 0);
        QTest::keyClick(form.get(), Qt::Key_F5);  // now reaches Stop
        QTRY_COMPARE_WITH_TIMEOUT(form->shStarted->BrushColor(), kGrey, kBound);
        const int charted = PointCount(*form->Chart1);
        WaitForReadings(2);
        QCOMPARE(PointCount(*form->Chart1), charted);
        const std::vector<Bytes> expected{{0xB1, 0xB2, 0x01, 0x01, 0x00, 0xB6},
                                          {0xB1, 0xB2, 0x01, 0x00, 0x00, 0xB6}};
        QCOMPARE(Writes(*tester), expected);
    }

    void setpointInputsPutTheirFramesOnTheWire() {
        Connect();
        InputAnswer answer;
        answer.Arm("4.5");
        QTest::keyClick(form->ceA->Edit(), Qt::Key_X);  // any character key opens the box
        QCOMPARE(answer.title, QString("Enter discharge current"));
        QCOMPARE(answer.prompt, QString("A="));
        answer.Arm("3,1");
        form->ceV->Button()->click();
        QCOMPARE(answer.title, QString("Enter minimal voltage"));
        answer.Arm("1:30");
        form->cbT->Button()->click();
        QCOMPARE(answer.title, QString("Enter test time"));
        QCOMPARE(answer.prompt, QString("H:M:S="));
        answer.Arm("18:12:15");
        form->cbT->Button()->click();
        QTRY_VERIFY_WITH_TIMEOUT(Writes(*tester).size() >= 4, kBound);
        const std::vector<Bytes> expected{
            {0xB1, 0xB2, 0x02, 0x04, 0x32, 0xB6},
            {0xB1, 0xB2, 0x03, 0x03, 0x0A, 0xB6},
            {0xB1, 0xB2, 0x04, 0x15, 0x18, 0xB6},  // 5400 s
            {0xB1, 0xB2, 0x04, 0xFF, 0xFF, 0xB6},  // 65535 s, the largest the tester holds
        };
        QCOMPARE(Writes(*tester), expected);
    }

    void setpointsThatWouldWrapAreRefusedAndNothingIsSent() {
        Connect();
        const std::pair<TEllipsisEdit*, QString> cases[] = {
            {form->ceA, "300.5"}, {form->ceA, "-1.5"},     {form->ceA, "256"},
            {form->ceV, "-0.01"}, {form->cbT, "24:00:00"}, {form->cbT, "18:12:16"},
        };
        for (const auto& [box, text] : cases) {
            InputAnswer input;
            ErrorAnswer error;
            input.Arm(text);
            error.Arm();
            box->Button()->click();
            QVERIFY2(error.message.contains("was not sent"), qPrintable(text));
        }
        WaitForReadings(1);
        QVERIFY(Writes(*tester).empty());
        // Text that is not a number still means 0, which is sent.
        InputAnswer input;
        input.Arm("abc");
        form->ceA->Button()->click();
        QTRY_COMPARE_WITH_TIMEOUT(Writes(*tester).size(), size_t{1}, kBound);
        QCOMPARE(Writes(*tester)[0], (Bytes{0xB1, 0xB2, 0x02, 0x00, 0x00, 0xB6}));
    }

    // Start (F5, or its action once a box has had the focus) with setpoints that make no test: at
    // 0 A the tester would run and never end, so the
    // window refuses; without a cutoff or a time it would run the cell down to 0 V, so the window
    // asks, and not starting is the default. A current typed just before Start counts, although no
    // reading has reported it yet.
    void startWithSetpointsThatMakeNoTestIsRefusedOrAskedFirst() {
        sim::Registers r = ShownRegisters();
        r.currentSetpoint_cA = 0;
        tester->SetRegisters(r);
        Connect();
        WaitForReadings(1);
        ErrorAnswer refused;
        refused.Arm();
        QTest::keyClick(form.get(), Qt::Key_F5);
        QVERIFY2(refused.message.contains("below the tester's step of 0.01 A"),
                 qPrintable(refused.message));
        QCOMPARE(form->StatusMessage->text(), refused.message);
        WaitForReadings(1);
        QVERIFY(Writes(*tester).empty());

        InputAnswer current;
        current.Arm("1.5");
        form->ceA->Button()->click();
        form->aStart->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(StartSent(*tester), kBound);
        QCOMPARE(Writes(*tester).front(), (Bytes{0xB1, 0xB2, 0x02, 0x01, 0x32, 0xB6}));
        QTRY_VERIFY_WITH_TIMEOUT(form->TestRunning(), kBound);
        form->aStop->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!form->TestRunning(), kBound);

        r.currentSetpoint_cA = 150;
        r.cutoffVoltage_cV = 0;
        r.testTimeSetpoint_s = 0;
        tester->SetRegisters(r);
        // The window may lag behind the tester by a few readings: wait until it shows them.
        QTRY_COMPARE_WITH_TIMEOUT(form->ceV->Text(), L("0.00"), kBound);
        QTRY_COMPARE_WITH_TIMEOUT(form->cbT->Text(), QString("00:00:00"), kBound);
        tester->ClearLog();
        QuestionAnswer no;
        no.Arm(QMessageBox::No);
        form->aStart->trigger();
        QVERIFY2(no.text.contains("discharge the cell to 0 V"), qPrintable(no.text));
        QCOMPARE(no.defaultButton, QMessageBox::No);
        WaitForReadings(1);
        QVERIFY(Writes(*tester).empty());
        QuestionAnswer yes;
        yes.Arm(QMessageBox::Yes);
        form->aStart->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(form->TestRunning(), kBound);
        QCOMPARE(Writes(*tester), std::vector<Bytes>{kStart});
    }

    // A Start that the tester leaves alone is said with its cause: a cutoff at or above the
    // cell's voltage, or a test time that an earlier test used up, which Reset (Ctrl+0) mends.
    void startThatTheTesterIgnoresSaysWhy() {
        sim::Registers r = ShownRegisters();
        r.voltage_mV = 3200;
        r.cutoffVoltage_cV = 350;
        tester->SetRegisters(r);
        Connect();
        WaitForReadings(1);
        ErrorAnswer cutoff;
        cutoff.Arm();
        QTest::keyClick(form.get(), Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(!cutoff.message.isEmpty(), kBound);
        QVERIFY2(cutoff.message.startsWith("The test did not start: the cutoff of " + L("3.50") +
                                           " V is at or above the cell's " + L("3.200") + " V"),
                 qPrintable(cutoff.message));
        QCOMPARE(form->StatusMessage->text(), cutoff.message);
        QVERIFY(!form->TestRunning());

        r.voltage_mV = 3900;
        r.cutoffVoltage_cV = 300;
        r.testTimeSetpoint_s = 600;
        r.testTime_s = 0;  // counted down to nothing by the last test
        tester->SetRegisters(r);
        QTRY_COMPARE_WITH_TIMEOUT(form->cbT->Text(), QString("00:10:00"), kBound);
        QTRY_COMPARE_WITH_TIMEOUT(form->eTime->text(), QString("00:00:00"), kBound);
        ErrorAnswer usedUp;
        usedUp.Arm();
        form->aStart->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!usedUp.message.isEmpty(), kBound);
        QVERIFY2(usedUp.message.contains("the test time of 00:10:00 is used up") &&
                     usedUp.message.contains("Reset (Ctrl+0)"),
                 qPrintable(usedUp.message));
        form->aReset->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->eTime->text(), QString("00:10:00"), kBound);
        form->aStart->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(form->TestRunning(), kBound);
    }

    // The log's folder fills up under a test: the console says what of the test is missing, and
    // lists only the files that are there (no empty picture), in a message that is not cut off.
    void fullLogFolderNamesWhatIsMissingAndListsOnlyWhatExists() {
        TFullFolder full;
        if (!full.Mounted()) QSKIP(full.Why().c_str());
        QVERIFY(full.Fill(1));  // a page for the header and the first rows
        sim::Options options;
        options.stepPerStatusRead_s = 1;  // some 200 readings
        options.cell.capacityAh = 0.1;
        tester = std::make_unique<sim::PtyTester>(options);
        sim::Registers charged;
        charged.voltage_mV = 4200;
        charged.currentSetpoint_cA = 150;
        charged.cutoffVoltage_cV = 300;
        tester->SetRegisters(charged);
        ShowForm(std::make_unique<TForm1>(std::make_unique<TTestLog>(
            nullptr, [&full] { return full.Path() + "/kelvo-console"; })));
        Connect();
        const QString log = form->StatusPanel->text();
        QVERIFY2(log.startsWith(QString::fromStdString(full.Path())), qPrintable(log));
        WaitForReadings(1);  // the test is seen from its start
        QTest::keyClick(form.get(), Qt::Key_F5);
        auto& results = form->TestResults();
        QTRY_VERIFY_WITH_TIMEOUT(results.Last().has_value(), kBound);
        QCOMPARE(ReasonName(results.Last()->Reason), "cutoff");
        QCOMPARE(results.Last()->JoinedAtS, 0);

        const QString json = QString(log).replace(".csv", "_test1.json");
        const QString picture = QString(log).replace(".csv", "_test1.png");
        QVERIFY(results.LastJson().isEmpty());
        QVERIFY(results.LastPicture().isEmpty());
        QCOMPARE(full.Names(), std::vector<std::string>{QFileInfo(log).fileName().toStdString()});
        const QStringList missing = results.LastMissing();
        QCOMPARE(missing.size(), 3);
        QVERIFY2(missing[0].startsWith("Error write file " + log) &&
                     missing[0].endsWith("the log misses readings"),
                 qPrintable(missing[0]));
        QVERIFY2(missing[1].startsWith("Error write file " + json + ": "), qPrintable(missing[1]));
        QVERIFY2(missing[2].startsWith("Error write file " + picture + ": "),
                 qPrintable(missing[2]));
        const QString summary =
            form->findChild<QDialog*>("TestResult")->findChild<QPlainTextEdit*>()->toPlainText();
        QVERIFY2(!summary.contains("Curves:") && !summary.contains("Summary:") &&
                     summary.contains("Not kept: " + missing[2]),
                 qPrintable(summary));

        const QString message = form->StatusMessage->text();
        QCOMPARE(message, "Not all of the test was kept: " + missing.join("; "));
        const QString tip = form->StatusMessage->toolTip();
        QVERIFY2(Qt::mightBeRichText(tip) && tip.contains(message.toHtmlEscaped()),
                 qPrintable(tip));  // a rich tool tip wraps; a plain one runs off the screen
        QVERIFY(form->StatusMessage->width() > 2 * form->StatusPanel->width());
        form.reset();  // the log closes before its folder goes
    }

    void disabledSetpointBoxIgnoresKeys() {
        QTest::keyClick(form->ceA->Edit(), Qt::Key_X);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void negativeAxisMaximumIsRefusedInTheErrorBox() {
        InputAnswer input;
        ErrorAnswer error;
        input.Arm("-5");
        error.Arm();
        emit form->Chart1->LeftAxisButtonClicked();
        QCOMPARE(error.message, QString("Axis Maximum Value must be >= Minimum"));
        QCOMPARE(form->Chart1->LeftAxisMax(), 60.0);
        input.Arm("12,5");
        emit form->Chart1->RightAxisButtonClicked();
        QCOMPARE(input.title, QString("Maximum value for right axis"));
        QCOMPARE(form->Chart1->RightAxisMax(), 12.5);
    }

    // A log that failed writes and a damaged disk left rows in that cannot be read: its tests
    // are drawn all the same, and each one's legend entry says how many of its rows were lost.
    void comparedLogWithDamagedRowsSaysWhatCouldNotBeRead() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const auto row = [](int second, int testOn, double volts) {
            return QString("3 Feb 2027 09:05:07;00:00:%1;%2;%3;2.00;25.00;0.10;0.01;25\r\n")
                .arg(second, 2, 10, QChar('0'))
                .arg(testOn)
                .arg(volts, 0, 'f', 2)
                .toUtf8();
        };
        const QByteArray cut = "3 Feb 2027 09:05:07;00:00:0\r\n";
        QByteArray log = QByteArray(kLogHeader) + "\r\n";
        log += row(0, 1, 12.6) + cut + row(1, 1, 12.5) + row(2, 0, 12.7);  // test 1: 1 lost
        log += row(0, 1, 12.6) + QByteArray("\0\xFF;;\r\n", 6) + row(1, 1, 12.5) +
               "d;00:00:02;1;12,40;2,00;24,80;0,10;0,01;25\r\n" + row(3, 1, 12.3) + cut +
               row(4, 0, 12.7);                          // test 2: 3 lost
        log += cut + row(0, 1, 12.6) + row(1, 1, 12.5);  // outside every test, then test 3
        const QString path = folder.path() + "/Log_20270203_090507.csv";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(log) == log.size());
        file.close();

        form->CompareWithLog(path);
        QStringList legend;
        QList<int> points;
        for (int i = 0; i < form->Chart1->plottableCount(); ++i) {
            auto* line = qobject_cast<TReadingLine*>(form->Chart1->plottable(i));
            if (line == nullptr || !form->Chart1->legend->hasItemWithPlottable(line) ||
                !line->name().startsWith("2027-02-03")) {
                continue;
            }
            legend << line->name();
            points << static_cast<int>(line->Readings().Size());
        }
        QCOMPARE(legend,
                 QStringList({"2027-02-03 #1 (1 row could not be read)",
                              "2027-02-03 #2 (3 rows could not be read)", "2027-02-03 #3"}));
        QCOMPARE(points, QList<int>({2, 3, 2}));
    }

    // What an operator sees during a running test; saved for a look, not compared.
    void screenshotOfARunningTest() {
        sim::Options fast;
        fast.acceleration = 60;
        tester = std::make_unique<sim::PtyTester>(fast);
        sim::Registers r = ShownRegisters();
        r.voltage_mV = 4100;
        r.testTime_s = 0;
        r.currentSetpoint_cA = 150;
        r.cutoffVoltage_cV = 300;
        r.testTimeSetpoint_s = 0;
        tester->SetRegisters(r);
        Connect();
        QTest::keyClick(form.get(), Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(PointCount(*form->Chart1) >= 10, kBound);
        const QString folder = qEnvironmentVariable("KELVO_SCREENSHOT_DIR", QDir::tempPath());
        QDir().mkpath(folder);
        const QString path = folder + "/kelvo-window.png";
        QVERIFY(form->grab().save(path));
        qInfo("window screenshot: %s", qPrintable(path));
    }

    // Last: it makes the application quit.
    void exitWhilePollingASilentTesterEndsPromptly() {
        Connect();
        sim::FaultOptions silent;
        silent.silent = true;
        tester->SetFaults(silent);
        tester->ClearLog();
        QVERIFY(tester->WaitForRequests(1, std::chrono::seconds(30)));  // inside a 20 s cycle
        QTimer::singleShot(0, form->Exit1, &QAction::trigger);
        QCOMPARE(QApplication::exec(), 0);  // Exit ends the application's event loop
        form.reset();                       // the window's shutdown ends the worker at once
    }
};

QTEST_MAIN(WindowTest)
#include "Window_test.moc"
