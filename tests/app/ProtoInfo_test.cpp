// The protocol description window: its text, how it closes and how it lays out.
#include "app/uProtoInfo.h"

#include <QFrame>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

// The text as the operator must read it, line by line.
QStringList ExpectedLines() {
    static const char* const kLines[] = {
        "Start",
        "---",
        "B1B2010100B6",
        "===",
        "6F",
        "",
        "Stop",
        "---",
        "B1B2010000B6",
        "===",
        "6F",
        "",
        "Read start/stop status",
        "---",
        "B1B2100000B6",
        "===",
        "answer:",
        "CACB000000CECF = off",
        "CACB000001CECF = on",
        "",
        "Read voltage",
        "---",
        "B1B2110000B6",
        "===",
        "answer",
        "CACB000BF4CECF => 000BF4 hex => 3060 dec = 3.060 ",
        "V",
        "",
        "Read current",
        "---",
        "B1B2120000B6",
        "===",
        "answer",
        "CACB0012C1CECF => 0012C1 hex => 4801 dec = 4.801 ",
        "A",
        "",
        "Read test time/time to end",
        "---",
        "B1B2130000B6",
        "===",
        "answer",
        "CACB010220CECF => 010220H =>01,02,32 dec = ",
        "01:02:32",
        "",
        "Read amper*hour",
        "---",
        "B1B2140000B6",
        "===",
        "answer",
        "CACB00000ACECF => 00000A hex => 10 dec = 0.01 ",
        "A*H",
        "",
        "Read Watt*hour",
        "---",
        "B1B2150000B6",
        "===",
        "answer",
        "CACB000023CECF => 000023 hex => 35 dec = 0.035 ",
        "W*H",
        "",
        "Read temperature",
        "---",
        "B1B2160000B6",
        "===",
        "answer",
        "CACB00001ACECF => 00001A hex => 26 dec = 26°",
        "",
        "Read discharge current setpoint",
        "---",
        "B1B2170000B6",
        "===",
        "answer",
        "CACB0000C8CECF => 0000C8 hex => 200 dec = 2.00 A",
        "",
        "Write discharge current setpoint",
        "---",
        "B1B2020405B6 => 0405 hex => 4,5 dec = 4.5 A",
        "===",
        "6F",
        "",
        "Read cutoff voltage setpoint",
        "---",
        "B1B2180000B6",
        "===",
        "answer",
        "CACB000320CECF => 000320 hex => 800 dec = 8.00 V",
        "",
        "Write cutoff voltage setpoint",
        "---",
        "B1B2030600B6 => 0600 hex => 6,0 dec = 6.0 V",
        "===",
        "6F",
        "",
        "Read test time setpoint",
        "---",
        "B1B2190000B6",
        "===",
        "answer",
        "CACB010203CECF => 010203 hex => 01,02,03 dec = ",
        "01:02:03",
        "",
        "Write test time setpoint",
        "---",
        "B1B2040E8BB6 => 0E8B hex => 3723 sec = ",
        "3600+120+3 sec = 01:02:03",
        "===",
        "6F",
        "",
        "Reset counters",
        "---",
        "B1B2050000B6",
        "===",
        "6F",
    };
    QStringList lines;
    for (const char* line : kLines) lines << QString::fromUtf8(line);
    return lines;
}

}  // namespace

class ProtoInfoTest : public QObject {
    Q_OBJECT

  private slots:
    void memoHoldsTheExact113Lines() {
        TFProtoInfo window;
        const QStringList shown = window.Memo1->toPlainText().split(u'\n');
        QCOMPARE(shown.size(), 113);
        QCOMPARE(shown, ExpectedLines());
        QCOMPARE(ProtocolDescriptionText(), ExpectedLines().join(u'\n'));
        // Blanks at the ends of lines are part of the text.
        for (int line : {26, 34, 42, 50, 58, 99, 104}) QVERIFY(shown[line - 1].endsWith(u' '));
        QVERIFY(shown[65].endsWith(QStringLiteral("26\u00B0")));
        QVERIFY(window.Memo1->isReadOnly());
    }

    void everyWayOfClosingEndsWithResultTwo_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Esc") << "esc";
        QTest::newRow("Enter") << "enter";
        QTest::newRow("Close button") << "button";
        QTest::newRow("close box") << "close";
    }

    void everyWayOfClosingEndsWithResultTwo() {
        QFETCH(QString, how);
        TFProtoInfo window;
        QTimer::singleShot(0, &window, [&] {
            // Keys go where the operator's would: to the memo, which has the focus at first.
            if (how == "esc") QTest::keyClick(window.Memo1, Qt::Key_Escape);
            if (how == "enter") QTest::keyClick(window.Memo1, Qt::Key_Return);
            if (how == "button") QTest::mouseClick(window.bClose, Qt::LeftButton);
            if (how == "close") window.close();
        });
        QCOMPARE(window.exec(), 2);
        QVERIFY(!window.isVisible());
    }

    void windowHasTheCaptionAndNoMinimiseOrMaximiseBox() {
        TFProtoInfo window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Protocol description"));
        QCOMPARE(window.size(), QSize(301, 290));
        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(window.bClose->isDefault());
        QCOMPARE(window.bClose->text(), QStringLiteral("Close"));
    }

    void closeButtonStaysAtTheRightEdgeAndTheMemoTakesTheRest_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("initial") << QSize(301, 290);
        QTest::newRow("wider and taller") << QSize(640, 480);
        QTest::newRow("narrow") << QSize(200, 150);
    }

    void closeButtonStaysAtTheRightEdgeAndTheMemoTakesTheRest() {
        QFETCH(QSize, size);
        TFProtoInfo window;
        window.show();
        window.resize(size);
        QTRY_COMPARE_WITH_TIMEOUT(window.size(), size, 20000);
        window.layout()->activate();

        QCOMPARE(window.Panel1->geometry(), QRect(0, size.height() - 33, size.width(), 33));
        QCOMPARE(window.bClose->geometry(), QRect(size.width() - 3 - 75, 5, 75, 25));
        QCOMPARE(window.Memo1->geometry(), QRect(0, 0, size.width(), size.height() - 33));
    }
};

QTEST_MAIN(ProtoInfoTest)
#include "ProtoInfo_test.moc"
