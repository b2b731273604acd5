#pragma once
// What telemetry publishes, as topics and payloads: a tester's three topics, one reading as JSON,
// and the dashboards' discovery configurations. No Qt; pure functions, any thread.

#include <optional>
#include <string>
#include <vector>

#include "device/DeviceReading.h"

// kelvo/<station>/<port>/{status,reading,verdict}, the names reduced by TopicLevel.
struct TTelemetryTopics {
    TTelemetryTopics(const std::string& station, const std::string& port);

    std::string Station, Port;  // as topic levels
    std::string Status, Reading, Verdict;
};

inline constexpr char kOnline[] = "online";
inline constexpr char kOffline[] = "offline";

// One reading: time (ISO 8601 with its UTC offset), voltage_v, current_a, power_w, ah, wh,
// temperature_c, test_time_s, running, cell; a value the tester did not deliver is null.
std::string ReadingJson(const TDeviceReading& reading, const std::optional<std::string>& cell);

struct TRetainedMessage {
    std::string Topic;
    std::string Payload;
};

// The discovery configurations of one tester: a sensor for each quantity of the reading and a
// binary sensor for "running", all of one device.
std::vector<TRetainedMessage> DiscoveryConfigs(const TTelemetryTopics& topics);
