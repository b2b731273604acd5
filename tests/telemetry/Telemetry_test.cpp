// The publisher in this process, against a broker the test starts: readings pushed faster than
// any tester polls are each either published, in order, or counted as dropped; the status and
// the verdict are delivered before the close returns, and again after the broker was away; and
// against a host that never answers the connection, the close leaves no thread of its behind.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
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

// A loopback port whose listening queue is full: the system drops every further handshake, as
// a host that is switched off or behind a firewall does, and a connect waits for minutes.
class TUnansweringHost {
  public:
    TUnansweringHost() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        FListener = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::bind(FListener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(FListener, 0) != 0 ||
            ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        Port = ntohs(address.sin_port);
        for (int& filler : FFillers) {  // never accepted: they fill the queue
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&address), length);
        }
    }
    ~TUnansweringHost() {
        for (const int fd : FFillers) ::close(fd);
        ::close(FListener);
    }
    int Port = 0;

  private:
    int FListener = -1;
    int FFillers[3] = {-1, -1, -1};
};

size_t ThreadsOfThisProcess() {
    size_t threads = 0;
    for ([[maybe_unused]] const auto& task :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++threads;
    }
    return threads;
}

TEST(Telemetry, CloseLeavesNoThreadBehindWhenTheBrokersHostNeverAnswers) {
    TUnansweringHost host;
    ASSERT_NE(host.Port, 0);
    TTelemetrySettings settings;
    settings.Broker = *ReadMqttLocation("mqtt://127.0.0.1:" + std::to_string(host.Port)).Location;
    settings.Station = "bench";
    std::thread([] {}).join();  // a sanitizer starts its own thread with the first one
    const size_t before = ThreadsOfThisProcess();
    {
        TTelemetry telemetry(settings, "ttyS2", [](const std::string&) {});
        telemetry.TesterConnected(true);
        telemetry.Verdict("{\"reason\":\"cutoff\"}");
        const std::string words = telemetry.Close(std::chrono::milliseconds(300));
        EXPECT_NE(words.find("the verdict did not reach the broker"), std::string::npos) << words;
        EXPECT_EQ(ThreadsOfThisProcess(), before);
    }
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
        return watcher.Messages(telemetry.Topics().Reading).size() + telemetry.Dropped() >=
               kReadings;
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
