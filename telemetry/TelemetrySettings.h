#pragma once
// Where telemetry goes and how the programs log in there: the broker's location as the command
// lines and the settings take it, mqtt://[user@]host[:port] or mqtts://... (TLS), and the
// password, which only a file or the environment gives. No Qt; any thread.

#include <functional>
#include <optional>
#include <string>

#include "support/OptionText.h"

inline constexpr int kMqttPort = 1883;
inline constexpr int kMqttTlsPort = 8883;
// The environment variable that may hold the broker password.
inline constexpr char kMqttPasswordVariable[] = "KELVO_MQTT_PASSWORD";

// Whether this build publishes: the Windows build has no MQTT library yet (KELVO_MQTT, set by
// telemetry/CMakeLists.txt), and refuses every broker with kTelemetryNeedsLinux.
inline constexpr bool kTelemetryBuilt = KELVO_MQTT != 0;
inline constexpr char kTelemetryNeedsLinux[] =
    "publishing to an MQTT broker needs the Linux build of the console";

struct TMqttLocation {
    bool Tls = false;
    std::string User;  // empty: none
    std::string Host;  // a name, an IPv4 address or an IPv6 address without its brackets
    int Port = kMqttPort;

    // As written for people: "mqtts://user@host:8883" (the port always, brackets around IPv6).
    std::string Text() const;
};

struct TMqttLocationRead {
    std::optional<TMqttLocation> Location;
    std::string Error;  // why `text` is no location, for a usage error
};

// Reads mqtt://[user@]host[:port] or mqtts://...; a location that carries a password is refused,
// so that none ends up in a process list or a settings file.
TMqttLocationRead ReadMqttLocation(const std::string& text);

// What a program publishes with, besides the tester's port.
struct TTelemetrySettings {
    TMqttLocation Broker;
    std::string CaFile;     // mqtts: the certificate authority to trust; empty: the system's
    std::string Password;   // empty: none
    bool Discovery = true;  // the dashboards' discovery configurations
    std::string Station;    // already named (StationName)
};

struct TPasswordRead {
    std::string Password;
    std::string Error;  // the file could not be read
};

// The broker password: the first line of `passwordFile` when one is named, else the environment
// variable above, else none.
TPasswordRead ReadMqttPassword(const std::string& passwordFile);

// The telemetry options of the command lines, as given (empty: not given).
struct TTelemetryOptions {
    std::string Location;      // --mqtt
    std::string CaFile;        // --mqtt-ca
    std::string PasswordFile;  // --mqtt-password-file
    bool NoDiscovery = false;  // --no-discovery
};

// Their names, value names and help texts, the same in every program: --mqtt, --mqtt-ca,
// --mqtt-password-file, --no-discovery.
extern const TOptionText kTelemetryOptionTexts[4];

// The options as `given` by name (a value, "" for a set switch, nothing when not given).
TTelemetryOptions TelemetryOptionsGiven(
    const std::function<std::optional<std::string>(const char* name)>& given);

struct TTelemetrySettingsRead {
    std::optional<TTelemetrySettings> Settings;  // none without --mqtt
    std::string Error;                           // for a usage error
};

// The settings the options give. The files must be readable now; the CA only goes with mqtts,
// the other options only with --mqtt. The station is left to the caller.
TTelemetrySettingsRead ReadTelemetrySettings(const TTelemetryOptions& given);

// A station or port name as one level of a topic: every character but [A-Za-z0-9_-] becomes '_'.
std::string TopicLevel(const std::string& name);
