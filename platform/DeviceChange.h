#pragma once
// A port that arrived or went, as the console's one handler of device changes takes it: from
// udev and the virtual port folder on Linux (HotPlug.h), from the window's WM_DEVICECHANGE
// messages on Windows.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Event codes and device types of a device change, as the console's handler knows them (the
// values of WM_DEVICECHANGE's DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE and DBT_DEVTYP_PORT).
inline constexpr uint32_t kDeviceArrival = 0x8000;
inline constexpr uint32_t kDeviceRemoveComplete = 0x8004;
inline constexpr uint32_t kDeviceTypePort = 3;
// Anything that appeared or went but is no serial port (a terminal with no hardware behind it,
// a folder in the virtual port folder, a volume). The handler ignores it.
inline constexpr uint32_t kDeviceTypeOther = 0;

struct DeviceChange {
    uint32_t eventCode = 0;
    uint32_t deviceType = 0;
    std::string name;  // bare name
};

#ifdef _WIN32
// The change that a window message (a MSG, as a native event filter gets it) tells of: a
// WM_DEVICECHANGE arrival or removal sent to the window with the native handle `window`, its
// device type, and for a port its name (UTF-8). The system sends each change to every top-level
// window of the program: one of them is read. Nothing for any other message or event.
std::optional<DeviceChange> DeviceChangeOfMessage(const void* message, uintptr_t window);
#endif

}  // namespace platform
