// The publisher in this process, against a broker the test starts: readings pushed faster than
// any tester polls are each either published, in order, or counted as dropped; the status and
// the verdict are delivered before the close returns, and again after the broker was away.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "telemetry/Telemetry.h"
#include "tests/fixtures/MosquittoBroker.h"

namespace {

TDeviceReading ReadingNumber(int n) {
    TDeviceReading r{};
    r.TimeStamp = 46364.5;
    r.Voltage = r.Current = r.AmpHours = r.Power = r.WattHours = 1.0f;
    r.TestTime = n;  // tells the readings apart
    r.Status = 1;
    return r;
}

TTelemetrySettings SettingsFor(const TMosquittoBroker& broker) {
    TTelemetrySettings settings;
    settings.Broker = *ReadMqttLocation(broker.Location()).Location;
    settings.Password = "kelvo-secret";
    settings.Station = "bench";
    return settings;
}

TEST(Telemetry, EveryReadingIsPublishedInOrderOrCountedAsDropped) {
    TMosquittoBroker broker;
    if (!broker.Failure().empty()) GTEST_SKIP() << "no broker: " << broker.Failure();
    TMqttWatcher watcher(broker);
    ASSERT_TRUE(watcher.Connected());
    std::atomic<int> notices{0};
    TTelemetry telemetry(SettingsFor(broker), "ttyS0", [&](const std::string&) { ++notices; });
    telemetry.TesterConnected(true);
    ASSERT_TRUE(watcher.WaitFor([&](const auto&) {  // connected, so the queue drains as it fills
        return !watcher.Messages(telemetry.Topics().Status).empty();
    }));
    constexpr int kReadings = 20000;
    std::thread poller([&] {
        for (int n = 0; n < kReadings; ++n) telemetry.Reading(ReadingNumber(n));
    });
    poller.join();
    telemetry.TesterConnected(false);
    telemetry.Verdict("{\"reason\":\"cutoff\"}\n");
    const std::string words = telemetry.Close(TTelemetry::kCloseBound);
    EXPECT_EQ(words.find("verdict"), std::string::npos) << words;

    ASSERT_TRUE(watcher.WaitFor(
        [&](const auto&) { return !watcher.Messages(telemetry.Topics().Verdict).empty(); }));
    // The broker may pass the verdict (acknowledged, at QoS 1) on before readings sent ahead of it.
    watcher.WaitFor([&](const auto&) {
        return watcher.Messages(telemetry.Topics().Reading).size() + telemetry.Dropped() >= kReadings;
    });
    const auto readings = watcher.Messages(telemetry.Topics().Reading);
    int last = -1;
    for (const TMqttMessage& reading : readings) {
        const size_t at = reading.Payload.find("\"test_time_s\":") + 14;
        const int n = std::stoi(reading.Payload.substr(at));
        ASSERT_GT(n, last);
        last = n;
    }
    EXPECT_EQ(readings.size() + telemetry.Dropped(), static_cast<size_t>(kReadings))
        << readings.size() << " published, " << telemetry.Dropped() << " dropped: " << words;
    EXPECT_EQ(watcher.Messages(telemetry.Topics().Verdict).back().Payload,
              "{\"reason\":\"cutoff\"}");
    EXPECT_EQ(watcher.Messages(telemetry.Topics().Status).back().Payload, "offline");
    EXPECT_EQ(notices, 0);
}

TEST(Telemetry, TheVerdictWaitsForTheBrokerToComeBack) {
    TMosquittoBroker broker;
    if (!broker.Failure().empty()) GTEST_SKIP() << "no broker: " << broker.Failure();
    std::atomic<int> notices{0};
    TTelemetry telemetry(SettingsFor(broker), "ttyS1", [&](const std::string&) { ++notices; });
    telemetry.TesterConnected(true);
    ASSERT_TRUE(broker.Stop());
    telemetry.Verdict("{\"reason\":\"time\"}");
    // The close waits for the broker, which comes back once the publisher has seen it away (the
    // broker is started here: it lives as long as the thread that starts it).
    auto closing =
        std::async(std::launch::async, [&] { return telemetry.Close(std::chrono::seconds(60)); });
    for (int i = 0; i < 6000 && notices == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(broker.Start()) << broker.Failure();
    const std::string words = closing.get();
    EXPECT_TRUE(words.empty()) << words;
    TMqttWatcher watcher(broker);
    ASSERT_TRUE(watcher.Connected());
    ASSERT_TRUE(watcher.WaitFor(
        [&](const auto&) { return !watcher.Messages(telemetry.Topics().Verdict).empty(); }));
    EXPECT_TRUE(watcher.Messages(telemetry.Topics().Verdict).back().Retain);
}

}  // namespace
