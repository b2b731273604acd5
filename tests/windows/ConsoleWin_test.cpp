// The console window under Wine, on COM5, which scripts/windows maps to kelvo-sim (KELVO_TEST_PORT
// names the port): readings shown and logged, F5 starts the test, a WM_DEVICECHANGE removal of
// the port closes the connection, and the simulator killed mid-test (the script kills it when
// the file KELVO_SIM_KILL_FILE appears) ends it with the operator told. The log of the first
// connection is copied to KELVO_CONSOLE_LOG_COPY, for the script to set beside the Linux run's.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "app/EllipsisEdit.h"
#include "app/Indicator.h"
#include "app/uReader.h"
#include "device/SerialLink.h"
#include "testrun/TestLog.h"
#include "tests/fixtures/LogLines.h"
#include "tests/fixtures/ReadingTap.h"
#include "tests/windows/DeviceChangeSender.h"

namespace {

constexpr int kBound = 60000;  // ms: Wine on a loaded machine
const QColor kGreen(0x00, 0xFF, 0x00);
const QColor kGrey(0xC0, 0xC0, 0xC0);

// Types `text` into the next dialog that opens and confirms it.
void AnswerNextDialog(const QString& text) {
    QTimer::singleShot(0, [text] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        dialog->findChild<QLineEdit*>()->setText(text);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
}

}  // namespace

class ConsoleWinTest : public QObject {
    Q_OBJECT

  private:
    const QString port = qEnvironmentVariable("KELVO_TEST_PORT", "COM5");
    std::unique_ptr<TForm1> form;

  private slots:
    void init() {
        form = std::make_unique<TForm1>();
        form->aReconnect->setChecked(false);
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        const int index = form->cbPort->findText(port);
        QVERIFY2(index >= 0, qPrintable(port + " is not listed"));
        form->cbPort->setCurrentIndex(index);
    }
    void cleanup() {
        form.reset();  // and with it its link, closed
        QCoreApplication::removePostedEvents(nullptr);
    }

    // The operator sets 1 A and 3.00 V, presses F5, and the test runs; the system then says
    // that the port was removed: the connection closes as for an unplugged adapter.
    void testStartedWithF5EndsWhenThePortIsRemoved() {
        ReadingTap tap;
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
        const QString log = form->StatusPanel->text();
        QTRY_VERIFY_WITH_TIMEOUT(!form->eVoltage->text().isEmpty() && tap.rows.size() >= 2, kBound);
        AnswerNextDialog("1.00");
        emit form->ceA->ButtonClick();
        AnswerNextDialog("3.00");
        emit form->ceV->ButtonClick();
        QTRY_COMPARE_WITH_TIMEOUT(form->ceV->Text(), QString("3.00"), kBound);
        QTest::keyClick(form.get(), Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(form->TestRunning(), kBound);
        // Rows of the running test, however many came while the setpoints were given.
        const qsizetype rowsAtStart = tap.rows.size();
        QTRY_VERIFY_WITH_TIMEOUT(tap.rows.size() >= rowsAtStart + 30, kBound);

        QVERIFY(SendPortRemoval(form->winId(), port));
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        QVERIFY(!form->Link().IsOpen());
        QVERIFY2(form->StatusMessage->text().startsWith("Connection to " + port + " lost at "),
                 qPrintable(form->StatusMessage->text()));
        QStringList expected{kLogHeader};
        expected << tap.rows;
        QCOMPARE(LogLines(log), expected);
        if (qEnvironmentVariableIsSet("KELVO_CONSOLE_LOG_COPY")) {
            const QString copy = qEnvironmentVariable("KELVO_CONSOLE_LOG_COPY");
            QFile::remove(copy);
            QVERIFY(QFile::copy(log, copy));
        }
        QFile::remove(log);
    }

    // The tester goes mid-test: the port closes and the status bar says what was kept.
    void killedTesterEndsTheConnectionAndIsSaid() {
        if (!qEnvironmentVariableIsSet("KELVO_SIM_KILL_FILE")) QSKIP("no KELVO_SIM_KILL_FILE");
        ReadingTap tap;
        form->aOpen->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGreen, kBound);
        const QString log = form->StatusPanel->text();
        QTRY_VERIFY_WITH_TIMEOUT(tap.rows.size() >= 3, kBound);
        QFile request(qEnvironmentVariable("KELVO_SIM_KILL_FILE"));
        QVERIFY(request.open(QIODevice::WriteOnly));
        request.close();
        QTRY_COMPARE_WITH_TIMEOUT(form->shPort->BrushColor(), kGrey, kBound);
        const QString message = form->StatusMessage->text();
        QVERIFY2(message.startsWith("Connection to " + port + " lost at ") &&
                     message.contains(QString("readings were logged in %1").arg(log)),
                 qPrintable(message));
        if (qEnvironmentVariableIsSet("KELVO_SCREENSHOT_DIR")) {
            form->grab().save(qEnvironmentVariable("KELVO_SCREENSHOT_DIR") +
                              "/kelvo-windows-lost.png");
        }
        QStringList expected{kLogHeader};
        expected << tap.rows;
        QCOMPARE(LogLines(log), expected);
        QFile::remove(log);
    }
};

QTEST_MAIN(ConsoleWinTest)
#include "ConsoleWin_test.moc"
