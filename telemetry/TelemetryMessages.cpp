#include "telemetry/TelemetryMessages.h"

#include "support/CivilTime.h"
#include "support/Format.h"
#include "support/Json.h"
#include "telemetry/TelemetrySettings.h"

namespace {

// The tester's own resolution.
constexpr int kDecimals = 3;

std::string Number(float value) {
    return value == -1.0f ? "null" : FixedDecimals(value, kDecimals);
}

std::string Whole(int value) {
    return value == -1 ? "null" : std::to_string(value);
}

struct TQuantity {
    const char* Name;   // in the sensor's identifier
    const char* Label;  // as the dashboard shows it
    const char* Key;    // of the reading
    const char* Unit;
    const char* DeviceClass;  // nullptr: none
    const char* StateClass;
};

constexpr TQuantity kQuantities[] = {
    {"voltage", "Voltage", "voltage_v", "V", "voltage", "measurement"},
    {"current", "Current", "current_a", "A", "current", "measurement"},
    {"power", "Power", "power_w", "W", "power", "measurement"},
    {"energy", "Energy", "wh", "Wh", "energy", "total_increasing"},
    {"charge", "Charge", "ah", "Ah", nullptr, "measurement"},
    {"temperature", "Temperature", "temperature_c", "°C", "temperature", "measurement"},
    {"test_time", "Test time", "test_time_s", "s", "duration", "measurement"},
};

}  // namespace

TTelemetryTopics::TTelemetryTopics(const std::string& station, const std::string& port)
    : Station(TopicLevel(station)),
      Port(TopicLevel(port)),
      Status("kelvo/" + Station + "/" + Port + "/status"),
      Reading("kelvo/" + Station + "/" + Port + "/reading"),
      Verdict("kelvo/" + Station + "/" + Port + "/verdict") {}

std::string ReadingJson(const TDeviceReading& r, const std::optional<std::string>& cell) {
    std::string json = "{\"time\":" + JsonString(IsoLocalTimeText(r.TimeStamp, r.UtcOffset));
    json += ",\"voltage_v\":" + Number(r.Voltage);
    json += ",\"current_a\":" + Number(r.Current);
    json += ",\"power_w\":" + Number(r.Power);
    json += ",\"ah\":" + Number(r.AmpHours);
    json += ",\"wh\":" + Number(r.WattHours);
    json += ",\"temperature_c\":" + Whole(r.Temperature);
    json += ",\"test_time_s\":" + Whole(r.TestTime);
    json += ",\"running\":";
    json += r.Status == -1 ? "null" : r.Status == 1 ? "true" : "false";
    json += ",\"cell\":" + (cell ? JsonString(*cell) : "null");
    return json + "}";
}

std::vector<TRetainedMessage> DiscoveryConfigs(const TTelemetryTopics& topics) {
    const std::string tester = "kelvo_" + topics.Station + "_" + topics.Port;
    const std::string common =
        ",\"state_topic\":" + JsonString(topics.Reading) +
        ",\"availability_topic\":" + JsonString(topics.Status) +
        ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\"" +
        ",\"device\":{\"identifiers\":[" + JsonString(tester) +
        "],\"name\":" + JsonString("Kelvo " + topics.Station + " " + topics.Port) +
        ",\"manufacturer\":\"Kelvo\",\"model\":\"Battery tester\"}";
    std::vector<TRetainedMessage> configs;
    for (const TQuantity& q : kQuantities) {
        const std::string id = tester + "_" + q.Name;
        std::string payload =
            "{\"name\":" + JsonString(q.Label) + ",\"unique_id\":" + JsonString(id) +
            ",\"object_id\":" + JsonString(id) +
            ",\"value_template\":" + JsonString(std::string("{{ value_json.") + q.Key + " }}") +
            ",\"unit_of_measurement\":" + JsonString(q.Unit);
        if (q.DeviceClass != nullptr) payload += ",\"device_class\":" + JsonString(q.DeviceClass);
        payload += ",\"state_class\":" + JsonString(q.StateClass) + common + "}";
        configs.push_back({"homeassistant/sensor/" + id + "/config", payload});
    }
    const std::string running = tester + "_running";
    configs.push_back({"homeassistant/binary_sensor/" + running + "/config",
                       "{\"name\":\"Running\",\"unique_id\":" + JsonString(running) +
                           ",\"object_id\":" + JsonString(running) +
                           ",\"value_template\":\"{{ 'ON' if value_json.running else 'OFF' }}\"" +
                           common + "}"});
    return configs;
}
