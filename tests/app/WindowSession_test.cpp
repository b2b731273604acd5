// The console window end to end: every reading received while connected becomes one log row,
// in order; and simulated testers published in the virtual port folder while the window runs
// come and go like USB adapters (a real inotify watch).
#include <QFile>
#include <QtTest>
#include <cstring>
#include <memory>

#include "app/EllipsisEdit.h"
#include "app/Indicator.h"
#include "app/TestLog.h"
#include "app/uReader.h"
#include "device/SerialLink.h"
#include "platform/DebugOutput.h"
#include "platform/VirtualPorts.h"
#include "sim/PtyTester.h"
#include "tests/fixtures/LogLines.h"
#include "threads/InterThreadMsg.h"

namespace {

constexpr int kBound = 30000;  // ms
const QColor kGreen(0x00, 0xFF, 0x00);
const QColor kGrey(0xC0, 0xC0, 0xC0);

// Sees every reading before the window does (filters run newest first) and keeps its log row.
class ReadingTap : public QObject {
  public:
    ReadingTap() { qApp->installEventFilter(this); }
    ~ReadingTap() override { qApp->removeEventFilter(this); }
    QStringList rows;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        const auto* message = AsThreadMessage(event);
        if (message != nullptr && message->Msg() == SendStringToMainFormMsg) {
            TDeviceReading reading{};
            std::memcpy(&reading, message->Block(), sizeof reading);
            rows << QString::fromStdString(LogRow(reading));
        }
        return false;
    }
};

}  // namespace

class WindowSessionTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TForm1> form;

    void Open() {
        form = std::make_unique<TForm1>();
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }

  private slots:
    void init() {
        platform::SetDebugSink([](const std::string&) {});
        PortConnected = false;
        TestRunning = false;
    }
    void cleanup() {
        form.reset();
        ClosePort();
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
        QVERIFY(!PortConnected);
        QVERIFY(form->cbPort->isEnabled());
        QCOMPARE(form->cbPort->count(), 1);
        QCOMPARE(form->cbPort->currentText(), QString("ttyKELVOb"));  // item 0
    }
};

QTEST_MAIN(WindowSessionTest)
#include "WindowSession_test.moc"
