// The bench against four simulated testers (three in this process, one a program of its own that
// is killed mid-test), on the offscreen platform.
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <vector>

#include "app/BenchTile.h"
#include "app/BenchWindow.h"
#include "app/EllipsisEdit.h"
#include "app/TestResults.h"
#include "app/TileChart.h"
#include "app/uReader.h"
#include "platform/VirtualPorts.h"
#include "records/Register.h"
#include "sim/PtyTester.h"
#include "testrun/TestLog.h"
#include "tests/fixtures/LogLines.h"
#include "tests/fixtures/SimProgram.h"

namespace {

constexpr int kBound = 30000;  // ms
using TState = TBenchTile::TState;

int LoggedRows(TBenchTile* tile) {
    return static_cast<int>(LogLines(tile->View().StatusPanel->text()).size()) - 1;
}

// The voltages of the log's rows, in volts (to the log's two decimals).
std::vector<double> LoggedVolts(const QString& log) {
    std::vector<double> volts;
    const QStringList lines = LogLines(log);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        volts.push_back(lines[i].split(';').value(3).replace(',', '.').toDouble());
    }
    return volts;
}

// The voltages that the tester answered, in volts.
std::vector<double> AnsweredVolts(sim::PtyTester& tester) {
    std::vector<double> volts;
    for (const sim::SentAnswer& answer : tester.TakeAnswers()) {
        if (answer.code != 0x11) continue;
        volts.push_back((answer.data[0] << 16 | answer.data[1] << 8 | answer.data[2]) / 1000.0);
    }
    return volts;
}

// Answers the next message box with the button whose text is `button`; records its text.
void AnswerNextBox(const QString& button, QString* text) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        poll->deleteLater();
        poll->stop();
        *text = box->text();
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == button) b->click();
        }
    });
    poll->start();
}

}  // namespace

class BenchTest : public QObject {
    Q_OBJECT

  private slots:
    // Start all reaches every tester; each log holds its own tester's answers, row for row; the
    // tester that is killed changes only its own tile; each test ends with its verdict and its
    // record, under its tile's cell.
    void fourTestersEachWithItsOwnLogVerdictAndRecord() {
        QTemporaryDir folder;
        const QString logs = folder.filePath("logs");
        QDir().mkpath(logs);
        std::vector<std::unique_ptr<sim::PtyTester>> testers;
        std::vector<std::unique_ptr<platform::PublishedPort>> published;
        for (int i = 0; i < 3; ++i) {
            testers.push_back(std::make_unique<sim::PtyTester>());
            sim::Registers full;
            full.voltage_mV = 4200 - 100 * i;  // each its own voltages
            testers.back()->SetRegisters(full);
            published.push_back(std::make_unique<platform::PublishedPort>(
                "ttyKELVOb" + std::to_string(i + 1), testers.back()->DevicePath()));
        }
        SimProgram killed("ttyKELVOb4");
        QVERIFY(killed.Running());

        TRememberedChoices remembered;
        remembered.Reconnect = false;  // the killed tester's test ends at once
        TConsoleOptions options;
        options.Register = folder.filePath("register.sqlite");
        options.Station = "bench-test";
        TBenchWindow bench(remembered, options, [logs] {
            return std::make_unique<TTestLog>(
                nullptr, [logs] { return (logs + "/kelvo-console").toStdString(); });
        });
        for (int i = 1; i <= 4; ++i) {
            TBenchTile* tile = bench.AddTester(QString("ttyKELVOb%1").arg(i));
            QVERIFY(tile != nullptr);
            tile->CellBox->setText(QString("BENCH-%1").arg(i));
        }
        QVERIFY(bench.AddTester("ttyKELVOb2") == nullptr);  // one tile per port
        bench.show();
        QVERIFY(QTest::qWaitForWindowActive(&bench));
        const std::vector<TBenchTile*> tiles = bench.Tiles();
        QCOMPARE(tiles.size(), size_t{4});
        QCOMPARE(tiles[0]->StateLabel->text(), QString("not connected"));

        bench.ConnectAll();
        for (TBenchTile* tile : tiles) {
            QTRY_COMPARE_WITH_TIMEOUT(tile->State(), TState::Idle, kBound);
            QVERIFY(tile->View().StatusPanel->text().endsWith("_" + tile->Port() + ".csv"));
        }
        bench.eCurrent->setText("0.5");
        bench.eCutoff->setText("2.5");
        bench.ApplySetpoints();
        for (TBenchTile* tile : tiles) {
            QTRY_COMPARE_WITH_TIMEOUT(tile->View().ceV->Text(), QString("2.50"), kBound);
        }
        QTest::keyClick(&bench, Qt::Key_F5);
        for (TBenchTile* tile : tiles) {
            QTRY_COMPARE_WITH_TIMEOUT(tile->State(), TState::Running, kBound);
        }

        // Closing while tests run asks; Cancel keeps the bench and its tests.
        QString question;
        AnswerNextBox("Cancel", &question);
        QVERIFY(!bench.close());
        QVERIFY(question.contains("Tests are running"));
        QVERIFY(bench.isVisible());
        QApplication::setActiveWindow(&bench);  // shortcuts reach the active window only
        QVERIFY(QTest::qWaitForWindowActive(&bench));

        const int rowsBefore = LoggedRows(tiles[3]);
        QTRY_VERIFY_WITH_TIMEOUT(LoggedRows(tiles[3]) >= rowsBefore + 3, kBound);
        killed.Kill();
        QTRY_COMPARE_WITH_TIMEOUT(tiles[3]->State(), TState::ConnectionLost, kBound);
        QCOMPARE(tiles[3]->StateLabel->text(), QString("connection lost"));
        QVERIFY(tiles[3]->MessageLine->text().contains("ttyKELVOb4"));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(tiles[i]->State(), TState::Running);
            QVERIFY(tiles[i]->MessageLine->text().isEmpty());
            const int rows = LoggedRows(tiles[i]);
            QTRY_VERIFY_WITH_TIMEOUT(LoggedRows(tiles[i]) >= rows + 3, kBound);
        }

        QTest::keyClick(&bench, Qt::Key_F5, Qt::ShiftModifier);
        for (int i = 0; i < 3; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(tiles[i]->State(), TState::Ended, kBound);
            QVERIFY2(tiles[i]->VerdictLine->text().startsWith("operator"),
                     qPrintable(tiles[i]->VerdictLine->text()));
            QTRY_VERIFY_WITH_TIMEOUT(tiles[i]->Chart->PointCount() > 0, kBound);
        }
        QCOMPARE(tiles[3]->View().TestResults().Last()->Reason, TEndReason::ConnectionLost);
        QVERIFY(tiles[3]->VerdictLine->text().startsWith("connection-lost"));

        for (int i = 0; i < 3; ++i) tiles[i]->Disconnect();
        for (int i = 0; i < 3; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(tiles[i]->State(), TState::NotConnected, kBound);
            // Every reading of its own tester, in order; a poll cut short by the disconnect
            // makes no row.
            const std::vector<double> logged = LoggedVolts(tiles[i]->View().StatusPanel->text());
            std::vector<double> answered = AnsweredVolts(*testers[i]);
            QVERIFY2(
                answered.size() >= logged.size() && answered.size() <= logged.size() + 1,
                qPrintable(QString("%1 rows, %2 answers").arg(logged.size()).arg(answered.size())));
            answered.resize(logged.size());
            for (size_t row = 0; row < logged.size(); ++row) {
                QVERIFY2(std::abs(logged[row] - answered[row]) <= 0.0051,
                         qPrintable(QString("%1 row %2: %3 V, answered %4 V")
                                        .arg(tiles[i]->Port())
                                        .arg(row)
                                        .arg(logged[row])
                                        .arg(answered[row])));
            }
        }
        for (int i = 0; i < 4; ++i) {
            const QString cell = QString("BENCH-%1").arg(i + 1);
            const auto& last = tiles[i]->View().TestResults().Last();
            QCOMPARE(QString::fromStdString(last->Port), tiles[i]->Port());
            QVERIFY(!tiles[i]->View().TestResults().LastJson().isEmpty());
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    const auto history =
                        TRegister::Open(options.Register.toStdString())->Cell(cell.toStdString());
                    return history && history->Tests.size() == 1 &&
                           history->Tests[0].Summary.Port == tiles[i]->Port().toStdString() &&
                           history->Tests[0].Summary.Station == "bench-test";
                }(),
                kBound);
        }
        if (const QString dir = qEnvironmentVariable("KELVO_SCREENSHOT_DIR"); !dir.isEmpty()) {
            bench.grab().save(dir + "/bench.png");
        }
        QVERIFY(bench.close());  // nothing runs: no question
        QCOMPARE(bench.Ports(),
                 QStringList({"ttyKELVOb1", "ttyKELVOb2", "ttyKELVOb3", "ttyKELVOb4"}));
    }
};

QTEST_MAIN(BenchTest)
#include "Bench_test.moc"
