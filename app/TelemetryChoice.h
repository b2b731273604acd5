#pragma once
// Connection > Telemetry...: the MQTT broker the console publishes its tester's readings to, as
// remembered in the settings (never a password: only the file that holds it, or the
// KELVO_MQTT_PASSWORD environment variable). Window's thread.

#include <QString>
#include <optional>

#include "telemetry/TelemetrySettings.h"

class QWidget;

struct TTelemetryChoice {
    QString Location;  // mqtt://... or mqtts://...; empty: no telemetry
    QString CaFile;
    QString PasswordFile;
    bool Discovery = true;

    TTelemetryOptions Options() const;
};

// Asks for the broker, starting from `current`; a location, CA or password file the command
// lines would refuse is refused in the dialog, with why. Nothing when the operator cancels.
std::optional<TTelemetryChoice> AskTelemetryChoice(QWidget* parent,
                                                   const TTelemetryChoice& current);
