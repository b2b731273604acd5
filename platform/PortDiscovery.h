#pragma once
// Finding the serial ports of the machine, as bare names (ttyUSB0, ttyACM0, ttyS0, ttyKELVO0).

#include <string>
#include <vector>

namespace platform {

// Whether the terminal device at `sysPath` (its folder in /sys/class/tty) is a port backed by
// hardware; `deviceNode` is its /dev path. The rule:
//  - it needs a device behind it (a "device" link): this leaves out virtual consoles, tty,
//    console, ptmx and the like;
//  - a port of the kernel's serial core (it has a "type" attribute) counts only when its UART
//    type is known, not PORT_UNKNOWN (0). The legacy 8250 driver registers a port for every
//    possible ISA address, present or not; only those where a UART answered have a type. The
//    type is read from sysfs, or through TIOCGSERIAL where the attribute is not readable;
//  - any other terminal with a device behind it (USB serial adapters, CDC ACM modems, ...)
//    counts.
bool IsHardwarePort(const std::string& sysPath, const std::string& deviceNode);

// Ports backed by hardware, from udev's enumeration of the "tty" subsystem, in its order.
// Empty when udev cannot be asked.
std::vector<std::string> HardwarePortNames();

// The entries of VirtualPortFolder() in directory order, leaving out links whose target is gone
// (left behind by a publisher that was killed). Empty when the folder is missing or not private
// to this user.
std::vector<std::string> VirtualPortNames();

// HardwarePortNames(), then VirtualPortNames().
std::vector<std::string> SerialPortNames();

}  // namespace platform
