// Telemetry.h where the build has no MQTT library (Windows): nothing is published. The programs
// refuse telemetry before they make one of these; one that is made all the same says once why
// it publishes nothing.
#include "telemetry/Telemetry.h"

struct TTelemetry::TShared {};

TTelemetry::TTelemetry(const TTelemetrySettings& settings, const std::string& port,
                       TNotice notice)
    : FTopics(settings.Station, port) {
    if (notice) notice(std::string("telemetry: ") + kTelemetryNeedsLinux);
}

TTelemetry::~TTelemetry() = default;

void TTelemetry::TesterConnected(bool) {}
void TTelemetry::SetCell(const std::optional<std::string>&) {}
void TTelemetry::Reading(const TDeviceReading&) {}
void TTelemetry::Verdict(const std::string&) {}

std::string TTelemetry::Close(std::chrono::milliseconds) {
    FClosed = true;
    return {};
}

uint64_t TTelemetry::Dropped() const {
    return 0;
}
