#pragma once
// Telemetry of one tester connection: its status, every reading and the verdict, published to an
// MQTT broker (kelvo/<station>/<port>/...), with the dashboards' discovery configurations. One MQTT
// connection per object: the broker's will ("offline" on the status topic) names the tester's
// port, which is fixed when the connection is made.
//
// Never in the way of the test: Reading() only queues (a short lock, no system call but a wake-up
// when the queue was empty); two threads of this object's own do the rest. One runs the MQTT
// connection, reconnecting with back-off (1 s doubling to 30 s); the other publishes what is
// queued, at most a few dozen readings on their way at once. Readings that find the broker away
// or the queue full are dropped and counted, never waited for; the status and the verdict are
// kept until the broker acknowledges them, across reconnections. Each cause of trouble is said
// once, and the count of dropped readings once the broker is back.
//
// Threads: every member may be called from any one thread (the owner's); notices come from the
// object's threads, which Close joins: none outlives it, and none makes it wait past its bound
// (but for a broker's name that the system's resolver takes longer to look up).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "device/DeviceReading.h"
#include "telemetry/TelemetryMessages.h"
#include "telemetry/TelemetrySettings.h"

class TTelemetry {
  public:
    // A message for the operator, such as "telemetry: the broker at mqtt://lab:1883 is away
    // (Connection refused); readings are not published until it is back". Called on one of the
    // object's threads, never after Close() returned; it must not block.
    using TNotice = std::function<void(const std::string&)>;

    // Starts connecting to the broker for the tester at `port`, whose port has just opened (it is
    // online until TesterConnected(false)); returns at once.
    TTelemetry(const TTelemetrySettings& settings, const std::string& port, TNotice notice);
    // Close(kCloseBound) when not closed yet.
    ~TTelemetry();

    TTelemetry(const TTelemetry&) = delete;
    TTelemetry& operator=(const TTelemetry&) = delete;

    // The status topic's retained value: "online" while the tester is connected.
    void TesterConnected(bool connected);
    // The cell named in the readings queued from now on (none: null).
    void SetCell(const std::optional<std::string>& cell);
    // Queues one reading; never blocks but on a short lock.
    void Reading(const TDeviceReading& reading);
    // Publishes a verdict (retained), kept until the broker has it.
    void Verdict(const std::string& json);

    // Publishes what is queued, "offline" and the verdict, then disconnects, waiting at most
    // `bound` for the broker. Returns what the operator should still be told (readings dropped
    // since last said, a verdict that did not reach the broker), or "" when nothing is amiss.
    std::string Close(std::chrono::milliseconds bound);
    static constexpr std::chrono::milliseconds kCloseBound{10000};

    // Readings dropped so far: the broker away, or slower than the readings.
    uint64_t Dropped() const;
    const TTelemetryTopics& Topics() const { return FTopics; }

    struct TShared;  // the state the object's threads share with it

  private:
    const TTelemetryTopics FTopics;
    std::shared_ptr<TShared> FShared;
    // The object's threads, joined by Close.
    std::thread FConnection, FPublisher;
    bool FClosed = false;
};
