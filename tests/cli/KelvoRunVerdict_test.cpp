// kelvo-run's verdict against kelvo-sim run as a program, the way a lab runs both: the figures a
// tester's own habits could put wrong (the load off before the stop is shown, Start shown late,
// counters in whole mAh) come out right.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <string>

#include "platform/Signals.h"
#include "tests/cli/ProgramRun.h"
#include "tests/platform/TestRuntimeFolder.h"

namespace {

constexpr int kBoundMs = 60000;

// A simulated tester published under `name` for as long as the object lives.
class TSimulator {
  public:
    TSimulator(const QString& name, const QStringList& options) {
        FProcess.start(KELVO_SIM_PROGRAM, QStringList{"--name", name} + options);
        FPublished = FProcess.waitForReadyRead(kBoundMs);  // it prints the entry once published
    }
    ~TSimulator() {
        platform::SendEndSignal(FProcess.processId(), platform::EndSignal::Terminate);
        if (!FProcess.waitForFinished(kBoundMs)) FProcess.kill();
    }
    bool Published() const { return FPublished; }
    QByteArray Errors() { return FProcess.readAllStandardError(); }

  private:
    QProcess FProcess;
    bool FPublished = false;
};

struct TVerdictRun {
    TProgramRun Run;
    QJsonObject Verdict;
};

TVerdictRun RunTest(const QString& port, const QStringList& setpoints, const std::string& log) {
    QProcess process;
    process.start(KELVO_RUN_PROGRAM, QStringList{"--port", port, "--json", "--quiet", "--log",
                                                 QString::fromStdString(log)} +
                                         setpoints);
    TVerdictRun run{FinishProgram(process, kBoundMs), {}};
    run.Verdict = QJsonDocument::fromJson(run.Run.out).object();
    return run;
}

// Log rows of a running test that show no current: the load went off before the stop showed.
int RunningRowsWithoutCurrent(const std::string& log) {
    std::ifstream file(log);
    int rows = 0;
    for (std::string line; std::getline(file, line);) {
        // DT;TestTime;TestOn;Voltage;Current;...
        const QStringList fields = QString::fromStdString(line).split(';');
        if (fields.size() > 4 && fields[2] == "1" && fields[4].toDouble() == 0) ++rows;
    }
    return rows;
}

class KelvoRunVerdict : public ::testing::Test {
  protected:
    void SetUp() override {
        test_ports::FreshVirtualPortFolder();
        ASSERT_TRUE(folder_.isValid());
    }
    std::string LogPath(const std::string& name) const {
        return folder_.path().toStdString() + "/" + name + ".csv";
    }

    QTemporaryDir folder_;
};

TEST_F(KelvoRunVerdict, TestEndedAsSetGivesItsReasonAndMeansWithinItsVoltages) {
    struct Case {
        const char* fault;
        QStringList simulator, setpoints;
        QString reason;
        double current;
        bool loadOffShown;  // the log shows running readings without current
    };
    const Case cases[] = {
        // An aged cell: 0.18 ohm puts it 0.18 V above the 3.00 V cutoff once the load is off.
        {"high-resistance cell at its cutoff recorded as stopped at the tester",
         {"--internal-resistance", "0.18", "--stop-late", "2", "--capacity", "0.05",
          "--acceleration", "60"},
         {"--current", "1.0", "--cutoff", "3.0"},
         "cutoff",
         1.0,
         true},
        // A few mAh and mWh: their quotient was printed as the mean voltage.
        {"short test's means taken from whole counters",
         {"--step", "0.05"},
         {"--current", "1.2", "--cutoff", "2.5", "--time", "0:00:05"},
         "time",
         1.2,
         false},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString port = QString("ttyKELVOend%1").arg(n);
        const std::string log = LogPath("end" + std::to_string(n++));
        TSimulator simulator(port, c.simulator);
        ASSERT_TRUE(simulator.Published()) << c.fault << ": " << simulator.Errors().constData();
        const TVerdictRun run = RunTest(port, c.setpoints, log);
        EXPECT_EQ(run.Run.code, 0) << c.fault << ": " << run.Run.err.constData();
        const QJsonObject& v = run.Verdict;
        EXPECT_EQ(v["reason"].toString().toStdString(), c.reason.toStdString())
            << c.fault << ": " << run.Run.out.constData();
        ASSERT_TRUE(v.contains("mean_v") && v.contains("min_v") && v.contains("max_v"))
            << c.fault << ": " << run.Run.out.constData();
        EXPECT_LE(v["min_v"].toDouble(), v["mean_v"].toDouble()) << c.fault;
        EXPECT_LE(v["mean_v"].toDouble(), v["max_v"].toDouble()) << c.fault;
        EXPECT_NEAR(v["mean_a"].toDouble(), c.current, 0.01 * c.current)
            << c.fault << ": " << run.Run.out.constData();
        EXPECT_EQ(RunningRowsWithoutCurrent(log) > 0, c.loadOffShown) << c.fault;
    }
}

// A tester that shows Start late has drawn current for polls by its first running reading: the
// resistance is that of the load step, the same as a tester that shows Start at once. The
// simulator's clock moves 2 s at each poll, so both see the same cell.
TEST_F(KelvoRunVerdict, LateShownStartGivesTheResistanceOfTheLoadStep) {
    double ohm[2] = {-1, -1};
    for (const int late : {0, 1}) {
        const QString port = QString("ttyKELVOlate%1").arg(late);
        TSimulator simulator(port, {"--step", "2", "--start-late", late ? "3" : "0",
                                    "--internal-resistance", "0.05", "--capacity", "0.05"});
        ASSERT_TRUE(simulator.Published()) << simulator.Errors().constData();
        const TVerdictRun run =
            RunTest(port, {"--current", "1.0", "--cutoff", "3.0"}, LogPath(port.toStdString()));
        ASSERT_EQ(run.Run.code, 0) << run.Run.err.constData();
        EXPECT_EQ(run.Verdict["reason"].toString().toStdString(), "cutoff")
            << run.Run.out.constData();
        ohm[late] = run.Verdict["internal_resistance_ohm"].toDouble(-1);
    }
    EXPECT_EQ(ohm[1], ohm[0]);
    // 0.05 ohm and what the first poll's 2 s at 1 A took from the cell.
    EXPECT_NEAR(ohm[0], 0.05, 0.02);
}

}  // namespace
