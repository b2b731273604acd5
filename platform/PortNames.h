#pragma once
// Where port names live on this system. Ports are offered to the operator by bare name (ttyUSB0,
// ttyACM0, or the name of a simulated tester); the device path is made from the name here only.

#include <string>

namespace platform {

// The folder whose entries are virtual ports: symbolic links named by their bare port names,
// pointing at pseudo-terminals. $XDG_RUNTIME_DIR/kelvo-ports, or /tmp/kelvo-ports-<uid> when that
// variable is unset or empty. The folder is not created here.
std::string VirtualPortFolder();

// The device path of a bare port name: the entry of the virtual port folder when it has one of
// that name, otherwise "/dev/" + name.
std::string DevicePathFor(const std::string& name);

}  // namespace platform
