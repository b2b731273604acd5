// kelvo-cells pack on a register of tested cells, as a pack builder uses it: the strongest cells
// in balanced groups, the filters, the CSV, the JSON and the sheet to print agreeing with each
// other; too few cells and bad options exit 2 naming why.
#include <gtest/gtest.h>

#include <QDate>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <map>

#include "records/Register.h"
#include "tests/cli/ProgramRun.h"

namespace {

constexpr int kBoundMs = 120000;

// A cutoff test of `cell` that gave `ah`, with `irOhm` measured when known; or a test stopped by
// the operator, which measures no capacity.
TTestSummary RecordedTest(int number, double ah, std::optional<double> irOhm, TEndReason reason) {
    TTestSummary test;
    test.Reason = reason;
    const double start = QDate(2026, 11, 2).toJulianDay() - QDate(1899, 12, 30).toJulianDay();
    test.Start = {start + number * 0.01, 60};
    test.End = {start + number * 0.01 + 0.005, 60};
    test.DurationS = 3 * 3600;
    test.Ah = ah;
    test.InternalResistanceOhm = irOhm;
    test.Port = "ttyUSB0";
    test.Log = "/logs/" + std::to_string(number) + ".csv";
    test.Logs = {test.Log};
    test.Cell = "B7-" + std::to_string(100 + number);
    test.Station = "bench-1";
    return test;
}

class KelvoCellsPack : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        std::vector<TRegister::TToRecord> tests;
        // 24 measured cells around 2.5 Ah, every fourth without an IR, and 2 stopped early.
        for (int n = 0; n < 24; ++n) {
            const double ah = 2.5 + 0.01 * ((n * 37) % 23 - 11);
            const std::optional<double> ir =
                n % 4 == 3 ? std::nullopt : std::optional<double>(0.02 + 0.002 * n);
            tests.push_back({RecordedTest(n, ah, ir, TEndReason::Cutoff), ""});
            ir_[tests.back().Summary.Cell.value()] = ir;
        }
        for (int n = 24; n < 26; ++n)
            tests.push_back({RecordedTest(n, 3.0, 0.02, TEndReason::Operator), ""});
        TRegister::Open(Register())->RecordAll(tests);
    }
    std::string Register() const { return folder_.filePath("register.sqlite").toStdString(); }
    QString File(const char* name) const { return folder_.filePath(name); }
    TProgramRun Pack(const QStringList& arguments) const {
        QProcess process;
        process.start(
            KELVO_CELLS_PROGRAM,
            QStringList{"--register", QString::fromStdString(Register()), "pack"} + arguments);
        return FinishProgram(process, kBoundMs);
    }

    QTemporaryDir folder_;
    std::map<std::string, std::optional<double>> ir_;
};

TEST_F(KelvoCellsPack, StrongestCellsInBalancedGroupsAgreeInJsonCsvAndSheet) {
    const TProgramRun run = Pack({"--series", "4", "--parallel", "5", "--json", "--output",
                                  File("pack.csv"), "--sheet", File("sheet.png")});
    ASSERT_EQ(run.code, 0) << run.err.constData();
    const QJsonObject pack = QJsonDocument::fromJson(run.out).object();
    const QJsonArray groups = pack["groups"].toArray();
    ASSERT_EQ(groups.size(), 4);
    int smallest = INT_MAX, largest = 0;
    QStringList csv{"group,cell,capacity_mah,ir_mohm"};
    for (const QJsonValue& value : groups) {
        const QJsonObject group = value.toObject();
        EXPECT_EQ(group["cells"].toArray().size(), 5);
        smallest = std::min(smallest, group["capacity_mah"].toInt());
        largest = std::max(largest, group["capacity_mah"].toInt());
        for (const QJsonValue& cell : group["cells"].toArray()) {
            const auto ir = ir_.at(cell.toString().toStdString());
            csv << QString("%1,%2,,%3")
                       .arg(group["group"].toInt())
                       .arg(cell.toString())
                       .arg(ir ? QString::number(*ir * 1000, 'f', 1) : "");
        }
    }
    EXPECT_EQ(pack["pack_capacity_mah"].toInt(), smallest);
    EXPECT_EQ(pack["spread_mah"].toInt(), largest - smallest);
    EXPECT_LE(pack["spread_mah"].toInt(), 2);       // 20 cells of 24, a few mAh apart
    EXPECT_EQ(pack["unused"].toArray().size(), 4);  // the stopped tests measured nothing
    // The CSV has the same cells in the same groups (capacities aside).
    QFile file(File("pack.csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList lines = QString(file.readAll()).split('\n', Qt::SkipEmptyParts);
    for (QString& line : lines) line.replace(QRegularExpression(",\\d+,"), ",,");
    EXPECT_EQ(lines, csv);
    // One A4 landscape page at 150 dpi.
    const QImage sheet(File("sheet.png"));
    EXPECT_EQ(sheet.size(), QSize(1754, 1240));
}

TEST_F(KelvoCellsPack, FiltersChooseTheCellsAndTooFewExitTwoNamingTheShortfall) {
    const TProgramRun lowIr =
        Pack({"--series", "2", "--parallel", "3", "--max-ir", "40", "--json"});
    ASSERT_EQ(lowIr.code, 0) << lowIr.err.constData();
    for (const QJsonValue& group : QJsonDocument::fromJson(lowIr.out)["groups"].toArray()) {
        for (const QJsonValue& cell : group["cells"].toArray()) {
            const auto ir = ir_.at(cell.toString().toStdString());
            EXPECT_TRUE(ir && *ir * 1000 <= 40) << cell.toString().toStdString();
        }
    }
    {
        QFile only(File("only.txt"));
        ASSERT_TRUE(only.open(QIODevice::WriteOnly));
        only.write("B7-100\n\n  B7-101 \r\nB7-124\nnot-a-cell\n");  // B7-124 measured nothing
    }
    const TProgramRun few = Pack({"--series", "2", "--parallel", "2", "--cells", File("only.txt")});
    EXPECT_EQ(few.code, 2);
    EXPECT_NE(few.err.indexOf("2 cells with a measured capacity pass"), -1) << few.err.constData();
    EXPECT_NE(few.err.indexOf("needs 4: 2 missing"), -1) << few.err.constData();
    const TProgramRun later =
        Pack({"--series", "1", "--parallel", "1", "--tested-since", "2026-11-03"});
    EXPECT_EQ(later.code, 2) << "every test ended on 2026-11-02";

    // Each cell was tested once, unrated: its state of health is unknown, and fails --min-soh as
    // an unknown IR fails --max-ir; a rated cell passes on its own.
    TRegister::Open(Register())->Rate("B7-105", 2.0);
    const TProgramRun healthy =
        Pack({"--series", "1", "--parallel", "1", "--min-soh", "90", "--json"});
    ASSERT_EQ(healthy.code, 0) << healthy.err.constData();
    const QJsonObject onlyRated = QJsonDocument::fromJson(healthy.out).object();
    EXPECT_EQ(onlyRated["groups"][0]["cells"].toArray(), QJsonArray({"B7-105"}));
    EXPECT_TRUE(onlyRated["unused"].toArray().isEmpty());
    EXPECT_EQ(Pack({"--series", "1", "--parallel", "2", "--min-soh", "90"}).code, 2);
    // A decimal comma reads as a point; a second mark does not.
    EXPECT_EQ(Pack({"--series", "1", "--parallel", "1", "--min-soh", "90,5"}).code, 0);
    EXPECT_EQ(Pack({"--series", "1", "--parallel", "1", "--min-soh", "9,0,5"}).code, 2);

    for (const QStringList& refused :
         {QStringList{"--series", "0", "--parallel", "2"}, QStringList{"--series", "2"},
          QStringList{"--series", "2", "--parallel", "2.5"},
          QStringList{"--series", "2", "--parallel", "2", "--sheet", File("sheet.txt")},
          QStringList{"--series", "2", "--parallel", "2", "--tested-since", "2026-02-30"},
          QStringList{"--series", "2", "--parallel", "2", "--min-soh", "-1"}}) {
        EXPECT_EQ(Pack(refused).code, 2) << refused.join(' ').toStdString();
    }
}

}  // namespace
