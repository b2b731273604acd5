// kelvo-run publishing to a real broker that the test starts, as a lab's dashboard would read it:
// every reading in order with the logged values, the status with its will, the verdict and the
// discovery configurations retained; a broker that goes away mid-test costs the log nothing, and
// its absence, its return and a refused login are each said once.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>

#include "platform/Signals.h"
#include "platform/VirtualPorts.h"
#include "sim/PtyTester.h"
#include "tests/cli/ProgramRun.h"
#include "tests/fixtures/LogLines.h"
#include "tests/fixtures/MosquittoBroker.h"
#include "tests/platform/TestRuntimeFolder.h"

namespace {

constexpr int kBoundMs = 60000;
const QString kStation = "bench 3";  // published as bench_3

QJsonObject Json(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

int Count(const QByteArray& text, const char* words) {
    return static_cast<int>(text.count(words));
}

class KelvoRunTelemetry : public ::testing::Test {
  protected:
    void SetUp() override {
        test_ports::FreshVirtualPortFolder();
        ASSERT_TRUE(folder_.isValid());
        if (!broker_.Failure().empty()) GTEST_SKIP() << "no broker: " << broker_.Failure();
        watcher_ = std::make_unique<TMqttWatcher>(broker_);
        ASSERT_TRUE(watcher_->Connected());
    }
    QString LogPath() const { return folder_.path() + "/run.csv"; }
    QStringList Arguments(const QString& port, const std::string& passwordUser = "kelvo") const {
        return {"--port",
                port,
                "--current",
                "1.0",
                "--cutoff",
                "3.0",
                "--json",
                "--station",
                kStation,
                "--cell",
                "C-7",
                "--log",
                LogPath(),
                "--mqtt",
                QString::fromStdString(broker_.Location()),
                "--mqtt-password-file",
                QString::fromStdString(broker_.PasswordFile(passwordUser))};
    }
    std::string Topic(const std::string& port, const char* leaf) const {
        return "kelvo/bench_3/" + port + "/" + leaf;
    }
    static sim::Registers FullCell() {
        sim::Registers full;
        full.voltage_mV = 4200;
        return full;
    }

    QTemporaryDir folder_;
    TMosquittoBroker broker_;
    std::unique_ptr<TMqttWatcher> watcher_;
};

TEST_F(KelvoRunTelemetry, EveryReadingTheStatusTheVerdictAndTheDiscoveryReachTheBroker) {
    sim::Options options;
    options.acceleration = 60;
    options.cell.capacityAh = 0.05;
    sim::PtyTester tester(options);
    tester.SetRegisters(FullCell());
    const platform::PublishedPort port("ttyKELVOmq", tester.DevicePath());
    QProcess runner;
    runner.start(KELVO_RUN_PROGRAM, Arguments("ttyKELVOmq"));
    const TProgramRun run = FinishProgram(runner, kBoundMs);
    ASSERT_EQ(run.code, 0) << run.err.constData();
    const std::string verdictTopic = Topic("ttyKELVOmq", "verdict");
    ASSERT_TRUE(watcher_->WaitFor([&](const auto&) {
        return !watcher_->Messages(verdictTopic).empty();
    })) << run.err.constData();

    // Every reading, in order, with the values of its log row.
    const QStringList rows = LogLines(LogPath()).mid(1);
    const std::vector<TMqttMessage> readings = watcher_->Messages(Topic("ttyKELVOmq", "reading"));
    ASSERT_EQ(readings.size(), static_cast<size_t>(rows.size()));
    const QStringList keys = {
        "ah",          "cell", "current_a", "power_w", "running", "temperature_c",
        "test_time_s", "time", "voltage_v", "wh"};
    for (size_t i = 0; i < readings.size(); ++i) {
        const QJsonObject reading = Json(readings[i].Payload);
        EXPECT_EQ(readings[i].Qos, 0);
        EXPECT_FALSE(readings[i].Retain);
        ASSERT_EQ(reading.keys(), keys) << readings[i].Payload;
        // DT;TestTime;TestOn;Voltage;Current;W;WH;AH;Temperature, with two decimals.
        const QStringList row = rows[static_cast<int>(i)].split(';');
        EXPECT_EQ(reading["running"].toBool(), row[2] == "1") << i;
        const char* quantities[] = {"voltage_v", "current_a", "power_w", "wh", "ah"};
        for (int q = 0; q < 5; ++q) {
            EXPECT_LE(std::fabs(reading[quantities[q]].toDouble() - row[3 + q].toDouble()), 0.0051)
                << i << " " << quantities[q] << " " << readings[i].Payload;
        }
        EXPECT_EQ(reading["temperature_c"].toInt(), row[8].toInt());
        EXPECT_EQ(reading["cell"].toString(), "C-7");
        EXPECT_TRUE(QDateTime::fromString(reading["time"].toString(), Qt::ISODate).isValid());
    }

    // Online while connected, offline after; the verdict as the program printed it.
    const std::vector<TMqttMessage> status = watcher_->Messages(Topic("ttyKELVOmq", "status"));
    ASSERT_GE(status.size(), 2u);
    EXPECT_EQ(status.front().Payload, "online");
    EXPECT_EQ(status.back().Payload, "offline");
    EXPECT_EQ(Json(watcher_->Messages(verdictTopic).back().Payload), Json(run.out.toStdString()));

    // A dashboard that starts later still finds the status, the verdict and the configurations.
    TMqttWatcher later(broker_);
    ASSERT_TRUE(later.Connected());
    ASSERT_TRUE(later.WaitFor([](const auto& messages) { return messages.size() >= 10; }));
    for (const TMqttMessage& message : later.Messages())
        EXPECT_TRUE(message.Retain) << message.Topic;
    EXPECT_EQ(later.Messages(Topic("ttyKELVOmq", "status")).back().Payload, "offline");
    EXPECT_EQ(later.Messages(verdictTopic).size(), 1u);
    const std::string device = "kelvo_bench_3_ttyKELVOmq";
    for (const char* quantity :
         {"voltage", "current", "power", "energy", "charge", "temperature", "test_time"}) {
        const std::string topic = "homeassistant/sensor/" + device + "_" + quantity + "/config";
        const std::vector<TMqttMessage> configs = later.Messages(topic);
        ASSERT_EQ(configs.size(), 1u) << topic;
        const QJsonObject config = Json(configs[0].Payload);
        EXPECT_EQ(config["unique_id"].toString().toStdString(), device + "_" + quantity);
        EXPECT_EQ(config["state_topic"].toString().toStdString(), Topic("ttyKELVOmq", "reading"));
        EXPECT_EQ(config["availability_topic"].toString().toStdString(),
                  Topic("ttyKELVOmq", "status"));
        EXPECT_TRUE(config["value_template"].toString().contains("value_json."));
        EXPECT_FALSE(config["unit_of_measurement"].toString().isEmpty());
        EXPECT_EQ(config["state_class"].toString(),
                  std::string(quantity) == "energy" ? "total_increasing" : "measurement");
        EXPECT_EQ(config["device"].toObject()["identifiers"].toArray()[0].toString().toStdString(),
                  device);
    }
    EXPECT_EQ(later.Messages("homeassistant/binary_sensor/" + device + "_running/config").size(),
              1u);
}

// The broker goes away mid-test and comes back: the test goes on and logs every reading, the
// absence and the return are each said once with the count of readings not published, and the
// verdict reaches the broker after its return.
TEST_F(KelvoRunTelemetry, BrokerAwayMidTestCostsTheLogNothingAndIsSaidOnce) {
    sim::PtyTester tester;
    tester.SetRegisters(FullCell());
    const platform::PublishedPort port("ttyKELVOaway", tester.DevicePath());
    QProcess runner;
    runner.start(KELVO_RUN_PROGRAM, Arguments("ttyKELVOaway"));
    ASSERT_TRUE(runner.waitForStarted(kBoundMs));
    const std::string readingTopic = Topic("ttyKELVOaway", "reading");
    const auto published = [&] { return watcher_->Messages(readingTopic).size(); };
    ASSERT_TRUE(watcher_->WaitFor([&](const auto&) { return published() >= 20; }));

    ASSERT_TRUE(broker_.Stop());
    const qsizetype rowsWhenStopped = LogLines(LogPath()).size();
    for (int i = 0; i < kBoundMs / 50 && LogLines(LogPath()).size() < rowsWhenStopped + 50; ++i) {
        runner.waitForFinished(50);
    }
    ASSERT_GE(LogLines(LogPath()).size(), rowsWhenStopped + 50) << "the test stalled";
    ASSERT_TRUE(broker_.Start()) << broker_.Failure();
    ASSERT_TRUE(watcher_->Connected(std::chrono::seconds(60), 2));
    const size_t before = published();
    ASSERT_TRUE(watcher_->WaitFor([&](const auto&) { return published() >= before + 20; }));

    // The test ends at the tester.
    sim::Registers stopped = tester.State();
    stopped.status = 0;
    tester.SetRegisters(stopped);
    const TProgramRun run = FinishProgram(runner, kBoundMs);
    EXPECT_EQ(run.code, 1) << run.err.constData();
    EXPECT_EQ(Count(run.err, " is away ("), 1) << run.err.constData();
    EXPECT_EQ(Count(run.err, " is back; "), 1) << run.err.constData();
    EXPECT_EQ(Count(run.err, " readings were not published while it was away"), 1);
    ASSERT_TRUE(watcher_->WaitFor([&](const auto&) {
        return !watcher_->Messages(Topic("ttyKELVOaway", "verdict")).empty();
    })) << run.err.constData();

    // A row for every reading up to the one that showed the test stopped.
    size_t readings = 0;
    bool running = false;
    for (const sim::SentAnswer& answer : tester.TakeAnswers()) {
        if (answer.code != 0x10) continue;
        ++readings;
        running = running || answer.data[2] == 1;
        if (running && answer.data[2] == 0) break;
    }
    EXPECT_EQ(static_cast<size_t>(LogLines(LogPath()).size() - 1), readings);
}

// The program dies without a word: the broker tells the dashboards with the will.
TEST_F(KelvoRunTelemetry, ProgramKilledMidTestLeavesTheStatusOffline) {
    sim::PtyTester tester;
    tester.SetRegisters(FullCell());
    const platform::PublishedPort port("ttyKELVOwill", tester.DevicePath());
    QProcess runner;
    runner.start(KELVO_RUN_PROGRAM, Arguments("ttyKELVOwill"));
    const std::string status = Topic("ttyKELVOwill", "status");
    ASSERT_TRUE(watcher_->WaitFor([&](const auto&) {
        return !watcher_->Messages(Topic("ttyKELVOwill", "reading")).empty();
    }));
    runner.kill();
    runner.waitForFinished(kBoundMs);
    ASSERT_TRUE(watcher_->WaitFor([&](const auto&) {
        const auto said = watcher_->Messages(status);
        return !said.empty() && said.back().Payload == "offline";
    }));
    EXPECT_EQ(watcher_->Messages(status).front().Payload, "online");
}

// A wrong password costs the test nothing and is said once, with the broker's cause.
TEST_F(KelvoRunTelemetry, RefusedLoginIsSaidOnceAndTheTestRunsAsAlways) {
    sim::Options options;
    options.acceleration = 60;
    options.cell.capacityAh = 0.05;
    sim::PtyTester tester(options);
    tester.SetRegisters(FullCell());
    const platform::PublishedPort port("ttyKELVOpw", tester.DevicePath());
    QProcess runner;
    runner.start(KELVO_RUN_PROGRAM, Arguments("ttyKELVOpw", "watcher"));  // not kelvo's password
    const TProgramRun run = FinishProgram(runner, kBoundMs);
    EXPECT_EQ(run.code, 0) << run.err.constData();
    EXPECT_EQ(Json(run.out.toStdString())["reason"].toString(), "cutoff");
    EXPECT_EQ(Count(run.err, "refused the login (not authorised)"), 1) << run.err.constData();
    EXPECT_TRUE(watcher_->Messages(Topic("ttyKELVOpw", "reading")).empty());
}

}  // namespace
