// PortDiscovery.h on Windows: the ports are those the registry lists. There is no virtual port
// folder, and IsHardwarePort() (a sysfs rule) has no counterpart, so it is not defined here.
#include "platform/PortDiscovery.h"

#include "platform/win/SerialComm.h"

namespace platform {

std::vector<std::string> HardwarePortNames() {
    return PortNamesFromSerialComm(ReadSerialCommKey());
}

std::vector<std::string> VirtualPortNames() {
    return {};
}

std::vector<std::string> SerialPortNames() {
    return HardwarePortNames();
}

}  // namespace platform
