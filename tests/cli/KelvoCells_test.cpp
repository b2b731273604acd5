// The register as a lab uses it: kelvo-run records each test of a named cell against simulated
// testers, kelvo-cells lists, shows and exports what the tests measured (capacity from cutoff
// tests only), importing the log folder again adds nothing, runs that record at the same moment
// all get in, and a register that cannot be written loses no test: its verdict waits beside the
// log for an import. kelvo-cells' own failures exit with their codes. On a PostgreSQL server that
// the tests start: the programs show what a file would, a server stopped during a test loses
// nothing (the outbox keeps it until sync sends it), two runs make a new database at once, and a
// location with a password is refused before anything connects.
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/Signals.h"
#include "platform/VirtualPorts.h"
#include "sim/PtyTester.h"
#include "tests/cli/ProgramRun.h"
#include "tests/fixtures/PostgresServer.h"
#include "tests/platform/TestRuntimeFolder.h"

namespace {

constexpr int kBoundMs = 120000;

using TRun = TProgramRun;

QJsonObject ObjectOf(const QByteArray& json) {
    return QJsonDocument::fromJson(json).object();
}

// For messages and comparisons: keys in order.
std::string Compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

// A tester published under `name`, with a full cell that a 1.5 A test takes to its cutoff in a
// few seconds.
struct TPublishedTester {
    // `stepS`: the model moves that much at each status read instead of with the clock.
    explicit TPublishedTester(const std::string& name, double acceleration = 60,
                              double capacityAh = 0.05, double stepS = 0)
        : Tester(Options(acceleration, capacityAh, stepS)), Port(name, Tester.DevicePath()) {
        sim::Registers full;
        full.voltage_mV = 4200;
        Tester.SetRegisters(full);
    }
    static sim::Options Options(double acceleration, double capacityAh, double stepS) {
        sim::Options options;
        options.acceleration = acceleration;
        options.stepPerStatusRead_s = stepS;
        options.cell.capacityAh = capacityAh;
        return options;
    }
    sim::PtyTester Tester;
    platform::PublishedPort Port;
};

class KelvoCells : public ::testing::Test {
  protected:
    void SetUp() override {
        test_ports::FreshVirtualPortFolder();
        ASSERT_TRUE(folder_.isValid());
        ASSERT_TRUE(QDir(folder_.path()).mkpath("logs"));
        // Nothing here may reach the user's own register.
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("HOME", folder_.path());
        env_.insert("XDG_DATA_HOME", folder_.path() + "/data");
    }

    QString Path(const QString& name) const { return folder_.path() + "/" + name; }
    virtual QString Register() const { return Path("register.sqlite"); }

    void Start(QProcess& process, const QString& program, const QStringList& arguments) {
        process.setProcessEnvironment(env_);
        process.start(program, arguments);
    }
    TRun Finish(QProcess& process) { return FinishProgram(process, kBoundMs); }
    TRun Cells(QStringList arguments) {
        QProcess process;
        if (!arguments.contains("--register")) arguments << "--register" << Register();
        Start(process, KELVO_CELLS_PROGRAM, arguments);
        return Finish(process);
    }
    // kelvo-run on `port` for `cell`, logging to logs/<name>.csv, recording into the register.
    QStringList RunArguments(const QString& port, const QString& cell, const QString& name) {
        return {"--port",     port,
                "--current",  "1.5",
                "--cutoff",   "3.0",
                "--cell",     cell,
                "--json",     "--quiet",
                "--register", Register(),
                "--log",      Path("logs/" + name + ".csv")};
    }
    TRun RunTest(const QString& port, const QString& cell, const QString& name,
                 const QStringList& more = {}) {
        QProcess process;
        Start(process, KELVO_RUN_PROGRAM, RunArguments(port, cell, name) + more);
        return Finish(process);
    }
    QJsonObject VerdictFile(const QString& name) {
        QFile file(Path("logs/" + name + "_test1.json"));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }
    // The cells of `kelvo-cells list --json`, by name.
    // Whether the test in logs/<name>.csv has been seen running (a reading with TestOn 1).
    bool SeenRunning(const QString& name, int afterS = 0) const {
        std::ifstream log(Path("logs/" + name + ".csv").toStdString());
        for (std::string line; std::getline(log, line);) {
            // DT;TestTime;TestOn;...
            const QStringList f = QString::fromStdString(line).split(';');
            const QStringList clock = f.value(1).split(':');
            if (f.value(2) != "1" || clock.size() != 3) continue;
            const int s = clock[0].toInt() * 3600 + clock[1].toInt() * 60 + clock[2].toInt();
            if (s > afterS) return true;
        }
        return false;
    }
    std::map<QString, QJsonObject> Listed() {
        const TRun run = Cells({"list", "--json"});
        EXPECT_EQ(run.code, 0) << run.err.constData();
        std::map<QString, QJsonObject> cells;
        for (const QJsonValue cell : QJsonDocument::fromJson(run.out).array()) {
            cells[cell["cell"].toString()] = cell.toObject();
        }
        return cells;
    }

    QTemporaryDir folder_;
    QProcessEnvironment env_;
};

TEST_F(KelvoCells, CellsShowTheirCutoffCapacityResistanceAndHealthAndImportAddsNothing) {
    TRun a1, a2, b1;
    {
        TPublishedTester tester("ttyKELVOa1");
        a1 = RunTest("ttyKELVOa1", "A", "a1");
    }
    ASSERT_EQ(a1.code, 0) << a1.err.constData();
    ASSERT_EQ(ObjectOf(a1.out)["reason"].toString(), "cutoff") << a1.out.constData();
    {
        // Stopped by a signal while it runs: listed, but it measures no capacity. It ends later
        // than the first test by the testers' clocks (which run 60 times as fast): it has run
        // longer.
        TPublishedTester tester("ttyKELVOa2", 60, 1.0);
        const int longer = ObjectOf(a1.out)["duration_s"].toInt() + 60;
        QProcess runner;
        Start(runner, KELVO_RUN_PROGRAM, RunArguments("ttyKELVOa2", "A", "a2"));
        ASSERT_TRUE(runner.waitForStarted(kBoundMs));
        const auto running = [&] { return SeenRunning("a2", longer); };
        for (int i = 0; i < kBoundMs / 50 && !running(); ++i) runner.waitForFinished(50);
        ASSERT_TRUE(running()) << runner.readAllStandardError().constData();
        ASSERT_TRUE(platform::SendEndSignal(runner.processId(), platform::EndSignal::Interrupt));
        a2 = Finish(runner);
    }
    ASSERT_EQ(a2.code, 5) << a2.err.constData();
    {
        TPublishedTester tester("ttyKELVOb1");
        b1 = RunTest("ttyKELVOb1", "B", "b1", {"--rated", "0.05"});
    }
    ASSERT_EQ(b1.code, 0) << b1.err.constData();

    const QJsonObject va1 = ObjectOf(a1.out), va2 = ObjectOf(a2.out), vb1 = ObjectOf(b1.out);
    ASSERT_EQ(va1["reason"].toString(), "cutoff") << a1.out.constData();
    ASSERT_EQ(va2["reason"].toString(), "operator") << a2.out.constData();
    ASSERT_EQ(vb1["reason"].toString(), "cutoff") << b1.out.constData();
    EXPECT_EQ(Compact(VerdictFile("a2")), Compact(va2));  // the file beside the log: as printed
    ASSERT_GT(QDateTime::fromString(va2["end"].toString(), Qt::ISODate),
              QDateTime::fromString(va1["end"].toString(), Qt::ISODate));

    std::map<QString, QJsonObject> cells = Listed();
    ASSERT_EQ(cells.size(), 2u);
    const QJsonObject a = cells["A"], b = cells["B"];
    EXPECT_EQ(a["tests"].toInt(), 2);
    EXPECT_EQ(a["capacity_ah"].toDouble(), va1["ah"].toDouble());  // not the stopped test's
    EXPECT_NE(a["capacity_ah"].toDouble(), va2["ah"].toDouble());
    const QJsonValue newestIr = va2.contains("internal_resistance_ohm")
                                    ? va2["internal_resistance_ohm"]
                                    : va1["internal_resistance_ohm"];
    EXPECT_EQ(a["ir_ohm"].toDouble(-1), newestIr.toDouble(-1));
    // Unrated, and one cutoff test says nothing of how it fades.
    EXPECT_TRUE(a["soh_pct"].isNull()) << Compact(a);
    EXPECT_TRUE(a["rated_ah"].isNull());
    EXPECT_EQ(a["last_tested"].toString().toStdString(), va2["end"].toString().toStdString());
    EXPECT_EQ(b["tests"].toInt(), 1);
    EXPECT_EQ(b["capacity_ah"].toDouble(), vb1["ah"].toDouble());
    EXPECT_EQ(b["rated_ah"].toDouble(), 0.05);
    EXPECT_NEAR(b["soh_pct"].toDouble(), vb1["ah"].toDouble() / 0.05 * 100, 1e-9);

    // Its tests newest first, each with every key of its verdict and the verdict's file.
    const TRun shown = Cells({"show", "A", "--json"});
    ASSERT_EQ(shown.code, 0) << shown.err.constData();
    const QJsonArray tests = ObjectOf(shown.out)["tests"].toArray();
    ASSERT_EQ(tests.size(), 2) << shown.out.constData();
    for (const auto& [index, verdict, name] :
         {std::tuple{0, va2, QString("a2")}, std::tuple{1, va1, QString("a1")}}) {
        QJsonObject test = tests[index].toObject();
        EXPECT_GT(test.take("id").toInt(), 0);
        EXPECT_EQ(test.take("summary").toString().toStdString(),
                  Path("logs/" + name + "_test1.json").toStdString());
        EXPECT_EQ(Compact(test), Compact(verdict)) << name.toStdString();
    }

    // The same figures in mAh and mΩ.
    const TRun exported = Cells({"export"});
    ASSERT_EQ(exported.code, 0) << exported.err.constData();
    const QStringList lines = QString::fromUtf8(exported.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << exported.out.constData();
    EXPECT_EQ(lines[0], "cell,capacity_mah,ir_mohm,soh_pct,tests,last_tested");
    for (const QString& line : lines.mid(1)) {
        const QStringList f = line.split(',');
        ASSERT_EQ(f.size(), 6) << line.toStdString();
        const QJsonObject& listed = cells[f[0]];
        EXPECT_EQ(f[1].toDouble(), std::round(listed["capacity_ah"].toDouble() * 1000));
        if (listed["ir_ohm"].isNull()) {
            EXPECT_TRUE(f[2].isEmpty());
        } else {
            EXPECT_NEAR(f[2].toDouble(), listed["ir_ohm"].toDouble() * 1000, 0.05);
        }
        EXPECT_NEAR(f[3].toDouble(), listed["soh_pct"].toDouble(), 0.05);
        EXPECT_EQ(f[4].toInt(), listed["tests"].toInt());
        EXPECT_EQ(f[5], listed["last_tested"].toString());
    }

    const TRun imported = Cells({"import", Path("logs")});
    EXPECT_EQ(imported.code, 0) << imported.err.constData();
    EXPECT_EQ(imported.out, "imported 0, already there 3, unreadable 0\n");
    EXPECT_EQ(Listed(), cells);
}

TEST_F(KelvoCells, ThreeRunsRecordingAtOnceGiveThreeRecords) {
    std::vector<std::unique_ptr<TPublishedTester>> testers;
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const QString name : {"p1", "p2", "p3"}) {
        // Stepped per poll, not by the clock: three runs at once on a slow machine poll seldom,
        // and the end of a 30 C discharge could then fall between two polls.
        testers.push_back(
            std::make_unique<TPublishedTester>("ttyKELVO" + name.toStdString(), 60, 0.05, 1.0));
        runs.push_back(std::make_unique<QProcess>());
        Start(*runs.back(), KELVO_RUN_PROGRAM, RunArguments("ttyKELVO" + name, "P", name));
    }
    for (const auto& run : runs) {
        const TRun done = Finish(*run);
        EXPECT_EQ(done.code, 0) << done.err.constData();
        EXPECT_EQ(done.err.indexOf("register"), -1) << done.err.constData();
    }
    EXPECT_EQ(Listed()["P"]["tests"].toInt(), 3);
    EXPECT_EQ(Cells({"import", Path("logs")}).out, "imported 0, already there 3, unreadable 0\n");
}

TEST_F(KelvoCells, ReadOnlyRegisterLosesNoTestAndALaterImportRecordsIt) {
    // Made before, then closed to whoever runs the test: root may write any file, so the test
    // then runs as nobody.
    ASSERT_TRUE(QDir(folder_.path()).mkpath("closed"));
    const QString closed = Path("closed/register.sqlite");
    const TRun made = Cells({"list", "--register", closed});
    ASSERT_EQ(made.code, 0) << made.err.constData();
    TPublishedTester tester("ttyKELVOro");
    QStringList arguments = RunArguments("ttyKELVOro", "R", "ro");
    arguments[arguments.indexOf("--register") + 1] = closed;
    QProcess runner;
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr) GTEST_SKIP() << "needs the user nobody";
        const std::string device = tester.Tester.DevicePath();
        ASSERT_EQ(::chown(device.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        const std::filesystem::path runtime = Path("runtime").toStdString();
        std::filesystem::create_directories(runtime / "kelvo-ports");
        std::filesystem::create_symlink(device, runtime / "kelvo-ports" / "ttyKELVOro");
        for (const QString& path :
             {folder_.path(), Path("logs"), Path("runtime"), Path("runtime/kelvo-ports")}) {
            ASSERT_EQ(::chown(path.toLocal8Bit().constData(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        QProcessEnvironment env = env_;
        env.insert("XDG_RUNTIME_DIR", Path("runtime"));
        runner.setProcessEnvironment(env);
        runner.start("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                            "--", KELVO_RUN_PROGRAM} +
                                    arguments);
    } else {
        ::chmod(closed.toLocal8Bit().constData(), 0444);
        ::chmod(Path("closed").toLocal8Bit().constData(), 0555);
        Start(runner, KELVO_RUN_PROGRAM, arguments);
    }
    const TRun run = Finish(runner);
    ::chmod(Path("closed").toLocal8Bit().constData(), 0755);
    ::chmod(closed.toLocal8Bit().constData(), 0644);
    if (run.code == 126 || run.code == 127) GTEST_SKIP() << "cannot run the program as nobody";
    ASSERT_EQ(run.code, 0) << run.err.constData();  // the test's own: ended at its cutoff
    EXPECT_EQ(Compact(VerdictFile("ro")), Compact(ObjectOf(run.out)));
    EXPECT_NE(run.err.indexOf(closed.toUtf8() + ": "), -1) << run.err.constData();

    const TRun listed = Cells({"list", "--register", closed});
    EXPECT_EQ(listed.out.indexOf("\nR "), -1) << listed.out.constData();
    const TRun imported = Cells({"import", Path("logs"), "--register", closed});
    EXPECT_EQ(imported.code, 0) << imported.err.constData();
    EXPECT_EQ(imported.out, "imported 1, already there 0, unreadable 0\n");
    const TRun shown = Cells({"show", "R", "--json", "--register", closed});
    EXPECT_EQ(shown.code, 0) << shown.err.constData();
    EXPECT_EQ(ObjectOf(shown.out)["tests"].toArray().size(), 1);
}

// A folder mounted read-only, as a copied SD card or a share can be: root may write any file, so
// only a mount stops the writes here.
class TReadOnlyMount {
  public:
    TReadOnlyMount(const std::string& from, const std::string& at) : FAt(at) {
        std::filesystem::create_directories(at);
        if (::mount(from.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            FFailure = std::string("mount --bind: ") + std::strerror(errno);
            return;
        }
        FMounted = true;
        if (::mount(nullptr, at.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            FFailure = std::string("mount -o remount,bind,ro: ") + std::strerror(errno);
        }
    }
    ~TReadOnlyMount() {
        if (FMounted) ::umount2(FAt.c_str(), MNT_DETACH);
    }
    TReadOnlyMount(const TReadOnlyMount&) = delete;
    TReadOnlyMount& operator=(const TReadOnlyMount&) = delete;
    // Empty once mounted read-only.
    const std::string& Failure() const { return FFailure; }

  private:
    std::string FAt, FFailure;
    bool FMounted = false;
};

TEST_F(KelvoCells, RegisterOnAReadOnlyMediumIsReadAndAWriteSaysReadOnly) {
    ASSERT_TRUE(QDir(folder_.path()).mkpath("card"));
    const QString made = Path("card/register.sqlite");
    std::ofstream(Path("logs/Log_1_test1.json").toStdString())
        << R"({"reason":"cutoff","start":"2026-12-08T14:00:00+01:00",)"
        << R"("end":"2026-12-08T15:00:00+01:00","port":"ttyUSB0","ah":1.5,"cell":"R","station":"s"})";
    ASSERT_EQ(Cells({"import", Path("logs"), "--register", made}).code, 0);
    const TReadOnlyMount card(Path("card").toStdString(), Path("mounted").toStdString());
    if (!card.Failure().empty()) GTEST_SKIP() << "no read-only mount here: " << card.Failure();
    const QString onCard = Path("mounted/register.sqlite");

    const TRun listed = Cells({"list", "--register", onCard});
    EXPECT_EQ(listed.code, 0) << listed.err.constData();
    EXPECT_NE(listed.out.indexOf("\nR "), -1) << listed.out.constData();
    const TRun shown = Cells({"show", "R", "--json", "--register", onCard});
    EXPECT_EQ(shown.code, 0) << shown.err.constData();
    EXPECT_EQ(ObjectOf(shown.out)["tests"].toArray().size(), 1);
    std::ofstream(Path("logs/Log_2_test1.json").toStdString())
        << R"({"reason":"cutoff","start":"2026-12-09T14:00:00+01:00",)"
        << R"("end":"2026-12-09T15:00:00+01:00","port":"ttyUSB0","ah":1.4,"cell":"R","station":"s"})";
    for (const QStringList& write :
         {QStringList{"import", Path("logs")}, QStringList{"rate", "R", "2.0"}}) {
        const TRun refused = Cells(write + QStringList{"--register", onCard});
        EXPECT_EQ(refused.code, 3) << write.join(' ').toStdString();
        EXPECT_NE(refused.err.indexOf(onCard.toUtf8() + ": the register is read-only"), -1)
            << refused.err.constData();
    }
    EXPECT_TRUE(QDir(Path("card")).entryList({"*-wal", "*-shm"}, QDir::Files).isEmpty());
}

// Verdict files come from anywhere: a cell or file name with terminal controls in it is shown,
// but cannot clear the screen or recolour it. (The CSV is data for files and scripts: it keeps
// names exactly.)
TEST_F(KelvoCells, HostileNamesFromFilesCannotSteerTheTerminal) {
    const QString bad = Path(QString("logs/Log_\x1b[2J_test1.json"));
    std::ofstream(bad.toStdString()) << "{\"reason\":";
    std::ofstream(Path("logs/Log_1_test1.json").toStdString())
        << R"({"reason":"cutoff","start":"2026-12-08T14:00:00+01:00",)"
        << R"("end":"2026-12-08T15:00:00+01:00","port":"ttyUSB0","ah":1.5,)"
        << R"("cell":"evil\u001b[2J\u009b31m","station":"s"})";
    const TRun imported = Cells({"import", Path("logs")});
    EXPECT_EQ(imported.code, 1);
    EXPECT_EQ(imported.out, "imported 1, already there 0, unreadable 1\n");
    const QString evil = QString::fromUtf8("evil\x1b[2J\u009b31m");
    std::vector<TRun> shown{imported, Cells({"list"}), Cells({"list", "--json"}),
                            Cells({"show", evil}), Cells({"show", evil, "--json"})};
    for (const TRun& run : shown) {
        EXPECT_EQ(run.out.indexOf('\x1b'), -1) << run.out.constData();
        EXPECT_EQ(run.out.indexOf("\xc2\x9b"), -1) << run.out.constData();
        EXPECT_EQ(run.err.indexOf('\x1b'), -1) << run.err.constData();
    }
    EXPECT_EQ(ObjectOf(shown[4].out)["cell"].toString(), evil);  // JSON keeps the name as it is
    // A name given on the command line must be printable.
    EXPECT_EQ(Cells({"rate", evil, "2.0"}).code, 2);
}

TEST_F(KelvoCells, UsageUnknownNamesAndUnopenableRegistersExitWithTheirCodes) {
    ASSERT_EQ(Cells({"rate", "C", "2.5", "--new"}).code, 0);
    const struct {
        QStringList arguments;
        int code;
    } cases[] = {
        {{}, 2},
        {{"forget"}, 2},
        {{"show"}, 2},
        {{"show", "C", "D"}, 2},
        {{"import"}, 2},
        {{"rate", "C", "2,5"}, 2},  // a decimal point in every locale
        {{"rate", "C", "0"}, 2},
        {{"rate", "C", "-1"}, 2},
        {{"rate", "C", "2.0", "--new"}, 0},
        {{"rate", "TYPO", "2.0"}, 1},  // not a cell of the register: not made without --new
        {{"show", "--new", "C"}, 2},
        {{"rate", "C", "nan"}, 2},
        {{"assign", "x", "C"}, 2},
        {{"assign", "-1", "C"}, 2},
        {{"list", "--output", "f.csv"}, 2},
        {{"export", "--json"}, 2},
        {{"list", "--station", "s"}, 2},
        {{"list", "--bogus"}, 2},
        {{"sync"}, 2},  // a file has no outbox to send
        {{"show", "nobody's"}, 1},
        {{"assign", "12345", "C"}, 1},
        {{"import", "no such folder"}, 1},
        {{"show", "C"}, 0},
    };
    for (const auto& c : cases) {
        const TRun run = Cells(c.arguments);
        EXPECT_EQ(run.code, c.code) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.err.isEmpty(), c.code == 0) << c.arguments.join(' ').toStdString();
    }
    // Said as what it is: a rating below 0 is no option, a typo no new cell.
    EXPECT_NE(Cells({"rate", "C", "-1"}).err.indexOf("above 0"), -1);
    EXPECT_NE(Cells({"rate", "TYPO", "2.0"}).err.indexOf("no cell 'TYPO'"), -1);
    EXPECT_EQ(Listed().count("TYPO"), 0u);
    std::ofstream(Path("garbage.sqlite").toStdString()) << std::string(5000, 'x');
    std::ofstream(Path("a file").toStdString()) << "";
    for (const QString& where : {Path("garbage.sqlite"), Path("a file/register.sqlite")}) {
        const TRun run = Cells({"list", "--register", where});
        EXPECT_EQ(run.code, 3) << where.toStdString();
        EXPECT_NE(run.err.indexOf(where.toUtf8() + ": "), -1) << run.err.constData();
    }
}

TEST_F(KelvoCells, LocationWithAPasswordIsRefusedBeforeAnythingConnects) {
    sim::PtyTester tester;
    const platform::PublishedPort port("ttyKELVOpw", tester.DevicePath());
    const QString socket = Path("socket");
    for (const QString& location :
         {"postgresql://station:secret@/register?host=" + socket,
          "postgresql://station@/register?host=" + socket + "&password=secret",
          "host=" + socket + " dbname=register password=secret"}) {
        QProcess runner;
        Start(runner, KELVO_RUN_PROGRAM,
              {"--port", "ttyKELVOpw", "--current", "1.5", "--cutoff", "3.0", "--register",
               location, "--log", Path("logs/pw.csv")});
        const TRun run = Finish(runner);
        const TRun listed = Cells({"list", "--register", location});
        for (const TRun& refused : {run, listed}) {
            EXPECT_EQ(refused.code, 2) << location.toStdString();
            EXPECT_NE(refused.err.indexOf("password"), -1) << refused.err.constData();
            EXPECT_EQ(refused.err.indexOf("secret"), -1) << refused.err.constData();
        }
    }
    EXPECT_TRUE(tester.Requests().empty());
    EXPECT_FALSE(QFile::exists(Path("logs/pw.csv")));
}

// The same programs with the register on a PostgreSQL server of the tests' own, started once for
// them all; each test records into a new database.
class KelvoCellsOnServer : public KelvoCells {
  protected:
    static void SetUpTestSuite() { server_ = new TPostgresServer(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (!server_->Failure().empty()) {
            GTEST_SKIP() << "no PostgreSQL server can be started here: " << server_->Failure();
        }
        KelvoCells::SetUp();
        ASSERT_TRUE(server_->Start());  // a test before may have left it stopped
        static int made = 0;
        database_ = "cells_" + std::to_string(++made);
        ASSERT_TRUE(server_->CreateDatabase(database_));
    }

    QString Register() const override {
        return QString::fromStdString(server_->Location(database_));
    }
    std::string OnServer(const std::string& sql) const {
        const auto rows = server_->Query(database_, sql);
        return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
    }

    static TPostgresServer* server_;
    std::string database_;
};
TPostgresServer* KelvoCellsOnServer::server_ = nullptr;

TEST_F(KelvoCellsOnServer, RunRecordsOnTheServerAndCellsShowsWhatAFileWould) {
    TRun run;
    {
        TPublishedTester tester("ttyKELVOs1");
        run = RunTest("ttyKELVOs1", "S", "s1", {"--rated", "0.05"});
    }
    ASSERT_EQ(run.code, 0) << run.err.constData();
    EXPECT_EQ(run.err.indexOf("register"), -1) << run.err.constData();
    EXPECT_EQ(OnServer("SELECT COUNT(*) || ' ' || MIN(cell) FROM tests"), "1 S");

    // The same test in a file register, from its verdict file.
    const QString file = Path("file.sqlite");
    ASSERT_EQ(Cells({"import", Path("logs"), "--register", file}).code, 0);
    ASSERT_EQ(Cells({"rate", "S", "0.05", "--register", file}).code, 0);
    const TRun listed = Cells({"list", "--json"});
    EXPECT_EQ(listed.code, 0) << listed.err.constData();
    EXPECT_EQ(listed.out.toStdString(),
              Cells({"list", "--json", "--register", file}).out.toStdString());
    // Its one test: every key of its verdict, and its file.
    const auto shown = [&](const QStringList& where) {
        QJsonObject history = ObjectOf(Cells(QStringList{"show", "S", "--json"} + where).out);
        QJsonObject test = history.take("tests").toArray().at(0).toObject();
        EXPECT_GT(test.take("id").toInt(), 0);
        EXPECT_EQ(test.take("summary").toString(), Path("logs/s1_test1.json"));
        return std::pair{Compact(history), Compact(test)};
    };
    EXPECT_EQ(shown({}), shown({"--register", file}));
    EXPECT_EQ(shown({}).second, Compact(ObjectOf(run.out)));

    const TRun synced = Cells({"sync"});
    EXPECT_EQ(synced.code, 0) << synced.err.constData();
    EXPECT_EQ(synced.out, "sent 0, pending 0\n");
}

TEST_F(KelvoCellsOnServer, ServerStoppedDuringATestLosesNothingAndSyncSendsItOnceBack) {
    TRun run;
    {
        TPublishedTester tester("ttyKELVOs2", 60, 1.0);
        QProcess runner;
        Start(runner, KELVO_RUN_PROGRAM, RunArguments("ttyKELVOs2", "S", "s2"));
        ASSERT_TRUE(runner.waitForStarted(kBoundMs));
        for (int i = 0; i < kBoundMs / 50 && !SeenRunning("s2"); ++i) runner.waitForFinished(50);
        ASSERT_TRUE(SeenRunning("s2")) << runner.readAllStandardError().constData();
        ASSERT_TRUE(server_->Stop());
        ASSERT_TRUE(platform::SendEndSignal(runner.processId(), platform::EndSignal::Interrupt));
        run = Finish(runner);
    }
    // The test's own end, its verdict printed and kept beside the log, as without a register.
    ASSERT_EQ(run.code, 5) << run.err.constData();
    EXPECT_EQ(ObjectOf(run.out)["reason"].toString(), "operator") << run.out.constData();
    EXPECT_EQ(Compact(VerdictFile("s2")), Compact(ObjectOf(run.out)));
    // Said once: the server, why, and where the test waits.
    EXPECT_EQ(run.err.count(Register().toUtf8()), 1) << run.err.constData();
    EXPECT_EQ(run.err.count("outbox"), 1) << run.err.constData();
    EXPECT_NE(run.err.indexOf("kelvo-cells sync"), -1) << run.err.constData();

    // Reads need the server; the test keeps waiting while it is away.
    const TRun list = Cells({"list"});
    EXPECT_EQ(list.code, 3);
    EXPECT_NE(list.err.indexOf(Register().toUtf8() + ": "), -1) << list.err.constData();
    const TRun away = Cells({"sync"});
    EXPECT_EQ(away.code, 3);
    EXPECT_EQ(away.out, "sent 0, pending 1\n");
    EXPECT_NE(away.err.indexOf(Register().toUtf8() + ": "), -1) << away.err.constData();

    ASSERT_TRUE(server_->Start());
    const TRun sent = Cells({"sync"});
    EXPECT_EQ(sent.code, 0) << sent.err.constData();
    EXPECT_EQ(sent.out, "sent 1, pending 0\n");
    EXPECT_EQ(sent.err, "");
    EXPECT_EQ(Listed()["S"]["tests"].toInt(), 1);
    EXPECT_EQ(OnServer("SELECT summary_file FROM tests"), Path("logs/s2_test1.json").toStdString());
    EXPECT_EQ(Cells({"sync"}).out, "sent 0, pending 0\n");
}

TEST_F(KelvoCellsOnServer, TwoRunsMakeOneNewDatabaseAtOnce) {
    std::vector<std::unique_ptr<TPublishedTester>> testers;
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const QString name : {"n1", "n2"}) {
        testers.push_back(std::make_unique<TPublishedTester>("ttyKELVO" + name.toStdString()));
        runs.push_back(std::make_unique<QProcess>());
        Start(*runs.back(), KELVO_RUN_PROGRAM, RunArguments("ttyKELVO" + name, "N", name));
    }
    for (const auto& run : runs) {
        const TRun done = Finish(*run);
        EXPECT_EQ(done.code, 0) << done.err.constData();
        EXPECT_EQ(done.err.indexOf("register"), -1) << done.err.constData();
    }
    EXPECT_EQ(OnServer("SELECT COUNT(*) FROM register_schema"), "1");
    EXPECT_EQ(OnServer("SELECT COUNT(*) FROM tests"), "2");
    EXPECT_EQ(Listed()["N"]["tests"].toInt(), 2);
}

}  // namespace
