#pragma once
// The serial ports that Windows lists under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: one value per
// port that a driver has started, named by its device object (\Device\Serial0, \Device\VCP0,
// \Device\USBSER000) with the port's name (COM3) as data.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One value of that key as read: its name, its type (REG_SZ is 1), and its data as wide
// characters, which may carry the terminating nulls or lack them.
struct SerialCommValue {
    std::wstring name;
    uint32_t type = 0;
    std::wstring data;
};

// The port names among `values`: string values only, cut at the first null and trimmed of
// spaces, empty ones and repeats left out, ordered by name with numbers compared as numbers
// (COM2 before COM10). Names come back as UTF-8.
std::vector<std::string> PortNamesFromSerialComm(const std::vector<SerialCommValue>& values);

// The values of the key on this machine; empty when it is missing (no serial port started since
// boot) or cannot be read.
std::vector<SerialCommValue> ReadSerialCommKey();

}  // namespace platform
