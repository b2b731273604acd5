// The Cells window against a real register file, on the offscreen platform: what the operator
// sees in the table, types in the filter and the rated capacity, clicks in the headers and the
// tests; and a register that cannot be opened. The window asks its worker for everything it
// reads or writes: a test waits until the answers are shown (Settled).
#include <QDate>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/CellFadeChart.h"
#include "app/CellTestsModel.h"
#include "app/CellsTableModel.h"
#include "app/CellsWindow.h"
#include "app/PackDialog.h"
#include "records/Register.h"
#include "support/LocaleText.h"

namespace {

// A number text as the window shows it under the current locale.
QString L(const char* text) {
    return QString(text).replace('.', QChar(LocaleDecimalSeparator()));
}

// A test of `cell` that ended `day` days after 2024-01-01 at noon, at UTC+1.
TTestSummary Test(const char* cell, int day, double ah, TEndReason reason,
                  std::optional<double> irOhm, const QString& log = {}) {
    TTestSummary test;
    test.Reason = reason;
    const double start = QDate(2024, 1, 1).toJulianDay() - QDate(1899, 12, 30).toJulianDay();
    test.Start = {start + day + 0.5 - 0.125, 60};
    test.End = {start + day + 0.5, 60};
    test.DurationS = 3 * 3600;
    test.Ah = ah;
    test.Wh = ah * 3.6;
    test.MeanA = ah / 3;
    test.InternalResistanceOhm = irOhm;
    test.Port = std::string("tty-") + cell;  // a test is one by its start, port and station
    test.Log = log.isEmpty() ? QString("/logs/%1-%2.csv").arg(cell).arg(day).toStdString()
                             : log.toStdString();
    test.Logs = {test.Log};
    test.Cell = cell;
    test.Station = "bench-1";
    return test;
}

QStringList Column(const QTableView* view, int column) {
    QStringList texts;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        texts.append(view->model()->index(row, column).data().toString());
    }
    return texts;
}

void ClickHeader(QTableView* view, int column) {
    QHeaderView* header = view->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

void ClickRow(QTableView* view, int row) {
    const QRect cell = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
}

}  // namespace

class CellsWindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir FFolder;
    QString FPath;
    std::unique_ptr<TCellsWindow> FWindow;
    QTableView* FCells = nullptr;
    QTableView* FTests = nullptr;

    std::unique_ptr<TRegister> Open() { return TRegister::Open(FPath.toStdString()); }

    // Whether everything asked of the register was answered and shown within the bound.
    bool Settled() {
        return QTest::qWaitFor([&] { return !FWindow->Busy(); }, 30000);
    }

    void ShowWindow() {
        FWindow = std::make_unique<TCellsWindow>([this] { return FPath.toStdString(); });
        FWindow->Present();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
        QVERIFY(Settled());
        FCells = FWindow->findChild<QTableView*>("CellsTable");
        FTests = FWindow->findChild<QTableView*>("CellTests");
    }

  private slots:
    // "cell 2" fades over a year of monthly tests and is rated; "cell 10" and "cell 1" were
    // tested once; "spare" was only ever stopped by hand, so nothing about it is known.
    void init() {
        QVERIFY(FFolder.isValid());
        FPath = FFolder.filePath(QString("register-%1.sqlite").arg(QTest::currentTestFunction()));
        auto reg = Open();
        for (int month = 0; month <= 12; ++month) {
            const double ah = 2.95 - 0.027 * month - (month % 3 == 1 ? 0.01 : 0);
            reg->Record(Test("cell 2", month * 30, ah, TEndReason::Cutoff, 0.040 + 0.001 * month),
                        "");
        }
        reg->Record(Test("cell 2", 365, 1.0, TEndReason::Operator, std::nullopt), "");
        reg->Rate("cell 2", 3.0);
        reg->Record(Test("cell 10", 40, 10.5, TEndReason::Cutoff, 0.012), "");
        reg->Record(Test("cell 1", 50, 9.8, TEndReason::Cutoff, std::nullopt), "");
        reg->Record(Test("spare", 60, 0.2, TEndReason::Operator, std::nullopt), "");
    }

    void cleanup() { FWindow.reset(); }

    void tableShowsTheRegistersFiguresInNaturalOrderOfNames() {
        ShowWindow();
        QVERIFY(FWindow->ErrorText().isEmpty());
        QCOMPARE(Column(FCells, TCellsTableModel::kCell),
                 QStringList({"cell 1", "cell 2", "cell 10", "spare"}));
        QAbstractItemModel* table = FCells->model();
        const auto text = [&](int row, int column) {
            return table->index(row, column).data().toString();
        };
        QCOMPARE(text(1, TCellsTableModel::kTests), QString("14"));
        QCOMPARE(text(1, TCellsTableModel::kCapacity), L("2.626"));  // the newest cutoff test
        QCOMPARE(text(1, TCellsTableModel::kIr), L("52.0"));
        QCOMPARE(text(1, TCellsTableModel::kSoh), L("87.5"));  // 2.626 / 3.0
        QCOMPARE(text(1, TCellsTableModel::kRated), L("3.000"));
        QCOMPARE(text(1, TCellsTableModel::kLastTested), QString("2024-12-31 12:00"));
        // Unrated and tested once: how it fades is not known yet.
        QCOMPARE(text(2, TCellsTableModel::kSoh), QString("-"));
        for (int column : {TCellsTableModel::kCapacity, TCellsTableModel::kIr,
                           TCellsTableModel::kSoh, TCellsTableModel::kRated}) {
            QCOMPARE(text(3, column), QString("-"));
        }
        // Selected by default, its tests shown.
        QCOMPARE(FWindow->SelectedCell(), QString("cell 1"));
        QCOMPARE(FTests->model()->rowCount(), 1);
    }

    void typingInTheFilterNarrowsTheTableAndKeepsACellSelected() {
        ShowWindow();
        auto* filter = FWindow->findChild<QLineEdit*>("CellsFilter");
        QTest::keyClicks(filter, "CELL 1");
        QCOMPARE(Column(FCells, TCellsTableModel::kCell), QStringList({"cell 1", "cell 10"}));
        QTest::keyClick(filter, '0');
        QCOMPARE(Column(FCells, TCellsTableModel::kCell), QStringList({"cell 10"}));
        QCOMPARE(FWindow->SelectedCell(), QString("cell 10"));
        QVERIFY(Settled());
        QCOMPARE(FTests->model()->index(0, TCellTestsModel::kAh).data().toString(), L("10.500"));
        QTest::keyClicks(filter, "x");
        QCOMPARE(FCells->model()->rowCount(), 0);
        QCOMPARE(FTests->model()->rowCount(), 0);
    }

    // As text, "10.500" comes before "2.626"; and an unknown is no number at all.
    void sortingByCapacityComparesNumbersAndKeepsUnknownsLastBothWays() {
        ShowWindow();
        ClickHeader(FCells, TCellsTableModel::kCapacity);
        QCOMPARE(Column(FCells, TCellsTableModel::kCell),
                 QStringList({"cell 2", "cell 1", "cell 10", "spare"}));
        ClickHeader(FCells, TCellsTableModel::kCapacity);
        QCOMPARE(Column(FCells, TCellsTableModel::kCell),
                 QStringList({"cell 10", "cell 1", "cell 2", "spare"}));
    }

    void ratedCapacityTypedInTheTableIsWrittenAndHealthFollows() {
        ShowWindow();
        const auto edit = [&](int row, const QString& typed) {
            const QModelIndex rated = FCells->model()->index(row, TCellsTableModel::kRated);
            FCells->setCurrentIndex(rated);
            QTest::keyClick(FCells, Qt::Key_F2);
            QPointer<QLineEdit> editor = FCells->viewport()->findChild<QLineEdit*>();
            QVERIFY(editor);
            editor->selectAll();
            QTest::keyClicks(editor, typed);
            QTest::keyClick(editor, Qt::Key_Return);  // commits on the next turn of the loop
            QTRY_VERIFY(editor.isNull());
            QVERIFY(Settled());
        };
        edit(2, L("12.5"));  // cell 10
        QCOMPARE(Open()->Cell("cell 10")->Cell.RatedAh, std::optional<double>(12.5));
        const int row = Column(FCells, TCellsTableModel::kCell).indexOf("cell 10");
        QCOMPARE(FCells->model()->index(row, TCellsTableModel::kSoh).data().toString(), L("84.0"));
        QCOMPARE(FCells->model()->index(row, TCellsTableModel::kRated).data().toString(),
                 L("12.500"));

        // Not a number in this locale, or none: the register keeps what it had.
        edit(row, "12x");
        QVERIFY(FWindow->Message().contains("not a number"));
        edit(row, "");
        QCOMPARE(Open()->Cell("cell 10")->Cell.RatedAh, std::optional<double>(12.5));

        // A number still being typed when the window goes is dropped.
        FCells->setCurrentIndex(FCells->model()->index(row, TCellsTableModel::kRated));
        QTest::keyClick(FCells, Qt::Key_F2);
        QTest::keyClicks(FCells->viewport()->findChild<QLineEdit*>(), "7");
        FWindow.reset();
        QCOMPARE(Open()->Cell("cell 10")->Cell.RatedAh, std::optional<double>(12.5));
    }

    void selectingACellShowsItsTestsNewestFirstAndItsFade() {
        ShowWindow();
        ClickRow(FCells, 1);  // cell 2
        QCOMPARE(FWindow->SelectedCell(), QString("cell 2"));
        QVERIFY(Settled());
        QCOMPARE(FTests->model()->rowCount(), 14);
        QCOMPARE(FTests->model()->index(0, TCellTestsModel::kReason).data().toString(),
                 QString("operator"));
        QCOMPARE(FTests->model()->index(1, TCellTestsModel::kEnd).data().toString(),
                 QString("2024-12-26 12:00"));
        QCOMPARE(FTests->model()->index(13, TCellTestsModel::kEnd).data().toString(),
                 QString("2024-01-01 12:00"));
        // Capacity only from the tests that ended at the cutoff; it falls over the year.
        auto* chart = FWindow->findChild<TCellFadeChart*>("FadeChart");
        QCOMPARE(chart->Capacity()->dataCount(), 13);
        QVERIFY(chart->Capacity()->data()->at(12)->value < chart->Capacity()->data()->at(0)->value);
        QCOMPARE(chart->Resistance()->dataCount(), 13);

        if (qEnvironmentVariableIsSet("KELVO_SCREENSHOT_DIR")) {
            const QString folder = qEnvironmentVariable("KELVO_SCREENSHOT_DIR");
            QDir().mkpath(folder);
            const QString path = folder + "/kelvo-cells.png";
            QVERIFY(FWindow->grab().save(path));
            qInfo("cells window screenshot: %s", qPrintable(path));
        }
    }

    void refreshShowsATestRecordedMeanwhileAndKeepsTheSelection() {
        ShowWindow();
        FWindow->SelectCell("cell 10");
        QVERIFY(Settled());
        Open()->Record(Test("cell 10", 70, 10.1, TEndReason::Cutoff, 0.013), "");
        FWindow->Refresh();
        QVERIFY(Settled());
        QCOMPARE(FWindow->SelectedCell(), QString("cell 10"));
        QCOMPARE(FTests->model()->rowCount(), 2);
        QCOMPARE(FTests->model()->index(0, TCellTestsModel::kAh).data().toString(), L("10.100"));
    }

    void registerThatCannotBeOpenedShowsItsErrorUntilItCan() {
        QFile notADatabase(FPath);
        QVERIFY(notADatabase.open(QIODevice::WriteOnly | QIODevice::Truncate));
        notADatabase.write(QByteArray(4096, 'x'));
        notADatabase.close();
        ShowWindow();
        QVERIFY(FWindow->ErrorText().contains(FPath));
        QVERIFY(!FCells->isVisible());
        QVERIFY(FWindow->findChild<QLabel*>("CellsError")->isVisible());

        QVERIFY(QFile::remove(FPath));
        Open()->Record(Test("cell 3", 1, 2.0, TEndReason::Cutoff, std::nullopt), "");
        FWindow->Refresh();
        QVERIFY(Settled());
        QVERIFY(FWindow->ErrorText().isEmpty());
        QCOMPARE(Column(FCells, TCellsTableModel::kCell), QStringList({"cell 3"}));
    }

    void compareSendsOnlyTheLogsThatAreStillThere() {
        const QString log = FFolder.filePath("cell 1-50.csv");
        QFile file(log);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        Open()->Record(Test("cell 1", 90, 9.7, TEndReason::Cutoff, std::nullopt, log), "");
        ShowWindow();
        QSignalSpy compared(FWindow.get(), &TCellsWindow::CompareWanted);
        FTests->selectAll();  // the one above and one whose log is gone
        FWindow->CompareSelectedTests();
        QCOMPARE(compared.count(), 1);
        QCOMPARE(compared.front().front().toStringList(), QStringList({log}));
        QVERIFY(FWindow->Message().contains("/logs/cell 1-50.csv"));
    }

    void assignedTestMovesToItsCellWhichIsThenShown() {
        ShowWindow();
        FTests->selectRow(0);  // cell 1's only test
        FWindow->AssignSelectedTests("cell 10");
        QVERIFY(Settled());
        QCOMPARE(Open()->Cell("cell 10")->Tests.size(), size_t{2});
        QCOMPARE(FWindow->SelectedCell(), QString("cell 10"));
        QCOMPARE(FTests->selectionModel()->selectedRows().size(), 1);
        const int row = Column(FCells, TCellsTableModel::kCell).indexOf("cell 1");
        QCOMPARE(FCells->model()->index(row, TCellsTableModel::kTests).data().toString(),
                 QString("0"));
    }

    void importSaysWhatItTookAndWhatItCouldNotRead() {
        const QString folder = FFolder.filePath("verdicts");
        QDir().mkpath(folder);
        QFile verdict(folder + "/log_test1.json");
        QVERIFY(verdict.open(QIODevice::WriteOnly));
        verdict.write(QByteArray::fromStdString(
            VerdictJson(Test("cell 7", 5, 1.9, TEndReason::Cutoff, std::nullopt))));
        verdict.close();
        QFile broken(folder + "/log_test2.json");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{");
        broken.close();
        ShowWindow();
        FWindow->Import({folder});
        QVERIFY(Settled());
        QCOMPARE(FWindow->Message(), QString("Imported 1, already there 0, unreadable 1"));
        QVERIFY(Column(FCells, TCellsTableModel::kCell).contains("cell 7"));
        FWindow->Import({folder});
        QVERIFY(Settled());
        QCOMPARE(FWindow->Message(), QString("Imported 0, already there 1, unreadable 1"));
    }

    void exportWritesTheCellsShown() {
        ShowWindow();
        QTest::keyClicks(FWindow->findChild<QLineEdit*>("CellsFilter"), "cell 1");
        const QString path = FFolder.filePath("cells.csv");
        QVERIFY(FWindow->ExportCsv(path));
        QFile csv(path);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.size(), 4);  // header, cell 1, cell 10, and the end of the last line
        QVERIFY(lines[1].startsWith("cell 1,"));
        QVERIFY(lines[2].startsWith("cell 10,"));
    }

    // Register > Build pack... on the cells the filter shows: 3 measured of them into 1S2P takes
    // the two strongest, the table and the bars show the group, and the sheet prints.
    void packIsBuiltFromTheCellsShownAndSaved() {
        ShowWindow();
        QTest::keyClicks(FWindow->findChild<QLineEdit*>("CellsFilter"), "cell");
        auto* build = FWindow->findChild<QAction*>("aBuildPack");
        QVERIFY(build != nullptr);
        build->trigger();
        auto* dialog = FWindow->findChild<TPackDialog*>();
        QVERIFY(dialog != nullptr);
        dialog->SetShape(2, 2);  // 4 cells from 3 measured ones
        QVERIFY(!dialog->Build());
        QVERIFY2(dialog->Message().contains("needs 4: 1 missing"), qPrintable(dialog->Message()));
        dialog->SetShape(1, 2);
        QVERIFY(dialog->Build());
        const TPackGroup& group = dialog->Pack()->Groups.at(0);
        QCOMPARE(group.CapacityMah, 10500 + 9800);  // cell 10 and cell 1; cell 2 is unused
        QCOMPARE(dialog->Pack()->Unused.at(0).Id, std::string("cell 2"));
        auto* table = dialog->findChild<QTableWidget*>("PackGroups");
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(table->item(0, 5)->text(), QString("cell 10 cell 1"));
        QVERIFY(dialog->SaveSheet(FFolder.filePath("pack.pdf")));
        QFile pdf(FFolder.filePath("pack.pdf"));
        QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.read(5) == "%PDF-");
        if (const QByteArray shot = qgetenv("KELVO_SCREENSHOT_DIR"); !shot.isEmpty()) {
            dialog->grab().save(QString::fromLocal8Bit(shot) + "/pack-dialog.png");
        }
    }
};

QTEST_MAIN(CellsWindowTest)
#include "CellsWindow_test.moc"
