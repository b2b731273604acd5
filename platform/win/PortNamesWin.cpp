// PortNames.h on Windows: ports are reached through the device namespace, which also takes
// COM10 and above (the bare name does not).
#include "platform/PortNames.h"

namespace platform {

// No counterpart: simulated testers appear as COM ports of a virtual port driver instead.
std::string VirtualPortFolder() {
    return {};
}

std::string DevicePathFor(const std::string& name) {
    return "\\\\.\\" + name;
}

}  // namespace platform
