// The console whose register is on a server that took the login and then went silent: the
// Cells window (opened with Ctrl+L) says it is reading and stays usable, while the console's own
// window goes on polling the simulated tester, logging every reading and taking F5; when the
// server finally hangs up, the Cells window shows why and the verdict recorded meanwhile waits in
// the outbox.
#include <QLabel>
#include <QLineEdit>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "app/CellsWindow.h"
#include "app/Indicator.h"
#include "app/TestResults.h"
#include "app/uReader.h"
#include "platform/DebugOutput.h"
#include "platform/PortNames.h"
#include "platform/VirtualPorts.h"
#include "sim/PtyTester.h"
#include "tests/fixtures/LogLines.h"
#include "tests/fixtures/SilentPostgres.h"

namespace {

constexpr int kBound = 30000;  // ms
const QColor kGreen(0x00, 0xFF, 0x00);
const QColor kGrey(0xC0, 0xC0, 0xC0);

}  // namespace

class SilentRegisterTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { std::filesystem::remove_all(platform::VirtualPortFolder()); }
    void init() {
        platform::SetDebugSink([](const std::string&) {});
    }
    void cleanup() {
        QCoreApplication::removePostedEvents(nullptr);
        platform::SetDebugSink({});
    }

    void consoleGoesOnWhileTheCellsWindowWaitsForASilentServer() {
        TSilentPostgres silent;
        if (!silent.Failure().empty()) QSKIP(silent.Failure().c_str());
        sim::PtyTester tester;
        sim::Registers full;  // a charged cell and setpoints that make a test
        full.voltage_mV = 4200;
        full.currentSetpoint_cA = 150;
        full.cutoffVoltage_cV = 300;
        tester.SetRegisters(full);
        platform::PublishedPort port("ttyKELVOsilent", tester.DevicePath());
        auto form = std::make_unique<TForm1>();
        form->aReconnect->setChecked(false);
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        // A limit far longer than this test: what ends the wait here is the server hanging up.
        const std::string location = silent.Location("-c statement_timeout=600000");
        form->TestResults().SetRegister(location);
        form->cbPort->setCurrentIndex(form->cbPort->findText("ttyKELVOsilent"));
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);

        QTest::keyClick(form.get(), Qt::Key_L, Qt::ControlModifier);  // Test > Cells...
        auto* cells = form->findChild<TCellsWindow*>();
        QVERIFY(cells != nullptr && cells->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(cells));
        QVERIFY(silent.WaitForUnanswered(1, std::chrono::milliseconds(kBound)));
        QVERIFY(cells->Busy());
        auto* busy = cells->findChild<QLabel*>("CellsBusy");
        QVERIFY(busy != nullptr && busy->isVisible());
        QCOMPARE(busy->text(), QString("Reading the register..."));
        if (qEnvironmentVariableIsSet("KELVO_SCREENSHOT_DIR")) {
            cells->grab().save(qEnvironmentVariable("KELVO_SCREENSHOT_DIR") +
                               "/kelvo-cells-reading.png");
        }

        // The console's window, back in front: every reading logged, F5 starting and stopping a
        // test.
        form->activateWindow();
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), form.get(), kBound);
        const QString log = form->StatusPanel->text();
        const qsizetype rows = LogLines(log).size();
        QTRY_VERIFY_WITH_TIMEOUT(LogLines(log).size() >= rows + 5, kBound);
        QTest::keyClick(form.get(), Qt::Key_F5);  // Start
        QTRY_COMPARE_WITH_TIMEOUT(form->shStarted->BrushColor(), kGreen, kBound);
        QTest::keyClick(form.get(), Qt::Key_F5);  // Stop
        QTRY_COMPARE_WITH_TIMEOUT(form->shStarted->BrushColor(), kGrey, kBound);
        QTRY_VERIFY_WITH_TIMEOUT(form->TestResults().Last().has_value(), kBound);

        // The Cells window itself: its filter takes what is typed, and it closes.
        auto* filter = cells->findChild<QLineEdit*>("CellsFilter");
        QTest::keyClicks(filter, "C-0");
        QCOMPARE(filter->text(), QString("C-0"));
        QVERIFY(cells->Busy());
        cells->close();
        QVERIFY(!cells->isVisible());

        silent.HangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!cells->Busy(), kBound);
        QVERIFY2(cells->ErrorText().startsWith(QString::fromStdString(location) + ": "),
                 qPrintable(cells->ErrorText()));
        // The verdict's record found the server gone: it waits in the outbox.
        QTRY_VERIFY_WITH_TIMEOUT(form->StatusMessage->text().contains("waits in the outbox"),
                                 kBound);

        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        form.reset();
        QFile::remove(log);
    }
};

QTEST_MAIN(SilentRegisterTest)
#include "SilentRegister_test.moc"
