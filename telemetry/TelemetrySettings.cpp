#include "telemetry/TelemetrySettings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::string TMqttLocation::Text() const {
    const bool v6 = Host.find(':') != std::string::npos;
    return std::string(Tls ? "mqtts://" : "mqtt://") + (User.empty() ? "" : User + "@") +
           (v6 ? "[" + Host + "]" : Host) + ":" + std::to_string(Port);
}

TMqttLocationRead ReadMqttLocation(const std::string& text) {
    const auto refuse = [](const std::string& why) { return TMqttLocationRead{{}, why}; };
    TMqttLocation location;
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
    } else if (text.rfind("mqtts://", 0) == 0) {
        location.Tls = true;
        location.Port = kMqttTlsPort;
        rest = text.substr(8);
    } else {
        return refuse("the broker's location is mqtt://[user@]host[:port] or mqtts://..., not '" +
                      text + "'");
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.find_first_of("/?#") != std::string::npos) {
        return refuse("the broker's location has no path or query: '" + text + "'");
    }
    if (const size_t at = rest.rfind('@'); at != std::string::npos) {
        location.User = rest.substr(0, at);
        rest = rest.substr(at + 1);
        if (location.User.find(':') != std::string::npos) {
            return refuse(
                "the broker's location carries a password: give it with --mqtt-password-file or "
                "KELVO_MQTT_PASSWORD instead, so that it is not seen in the process list");
        }
        if (location.User.empty()) return refuse("the user before '@' is empty: '" + text + "'");
    }
    std::string port;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) return refuse("an IPv6 address lacks its ']'");
        location.Host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':') return refuse("text after ']': '" + text + "'");
        if (!after.empty()) port = after.substr(1);
        if (after == ":") port = "-";
    } else if (const size_t colon = rest.rfind(':'); colon != std::string::npos) {
        location.Host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (port.empty()) port = "-";
    } else {
        location.Host = rest;
    }
    if (location.Host.empty()) return refuse("the broker's location names no host: '" + text + "'");
    for (const unsigned char c : location.Host + location.User) {
        if (c <= ' ' || c == 0x7f) {
            return refuse("the broker's location holds a blank or a control character");
        }
    }
    if (!port.empty()) {
        if (!IsDigits(port) || port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535) {
            return refuse("the broker's port is a number from 1 to 65535, not '" + port + "'");
        }
        location.Port = std::stoi(port);
    }
    return {location, {}};
}

TPasswordRead ReadMqttPassword(const std::string& passwordFile) {
    if (passwordFile.empty()) {
        const char* given = std::getenv(kMqttPasswordVariable);
        return {given != nullptr ? given : "", {}};
    }
    std::ifstream file(passwordFile, std::ios::binary);
    if (!file) return {{}, "cannot read " + passwordFile + ": " + std::strerror(errno)};
    std::string line;
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (file.bad()) return {{}, "cannot read " + passwordFile + ": " + std::strerror(errno)};
    return {line, {}};
}

const TOptionText kTelemetryOptionTexts[4] = {
    {"mqtt", "LOCATION",
     "Publish the tester's status, every reading and the verdict to the MQTT broker at LOCATION: "
     "mqtt://[user@]host[:port] (port 1883), or mqtts://... for TLS (port 8883, the system's "
     "certificate authorities unless --mqtt-ca). No password in LOCATION: see "
     "--mqtt-password-file."},
    {"mqtt-ca", "FILE",
     "Trust the broker's certificate when the authority in FILE (PEM) signed it."},
    {"mqtt-password-file", "FILE",
     "The broker password is the first line of FILE; without it, the environment variable "
     "KELVO_MQTT_PASSWORD, if set."},
    {"no-discovery", nullptr,
     "Publish no discovery configurations for dashboards (homeassistant/...)."},
};

TTelemetryOptions TelemetryOptionsGiven(
    const std::function<std::optional<std::string>(const char* name)>& given) {
    const auto value = [&](int option) {
        return given(kTelemetryOptionTexts[option].Name).value_or("");
    };
    return {value(0), value(1), value(2), given(kTelemetryOptionTexts[3].Name).has_value()};
}

TTelemetrySettingsRead ReadTelemetrySettings(const TTelemetryOptions& given) {
    if (given.Location.empty()) {
        if (!given.CaFile.empty()) return {{}, "--mqtt-ca goes with --mqtt"};
        if (!given.PasswordFile.empty()) return {{}, "--mqtt-password-file goes with --mqtt"};
        if (given.NoDiscovery) return {{}, "--no-discovery goes with --mqtt"};
        return {};
    }
    if (!kTelemetryBuilt) return {{}, std::string("--mqtt: ") + kTelemetryNeedsLinux};
    const TMqttLocationRead broker = ReadMqttLocation(given.Location);
    if (!broker.Location) return {{}, "--mqtt: " + broker.Error};
    TTelemetrySettings settings;
    settings.Broker = *broker.Location;
    settings.Discovery = !given.NoDiscovery;
    if (!given.CaFile.empty()) {
        if (!settings.Broker.Tls) return {{}, "--mqtt-ca goes with an mqtts:// broker"};
        if (!std::ifstream(given.CaFile)) {
            return {{}, "--mqtt-ca: cannot read " + given.CaFile + ": " + std::strerror(errno)};
        }
        settings.CaFile = given.CaFile;
    }
    const TPasswordRead password = ReadMqttPassword(given.PasswordFile);
    if (!password.Error.empty()) return {{}, "--mqtt-password-file: " + password.Error};
    settings.Password = password.Password;
    return {settings, {}};
}

std::string TopicLevel(const std::string& name) {
    std::string level = name;
    for (char& c : level) {
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!kept) c = '_';
    }
    return level;
}
