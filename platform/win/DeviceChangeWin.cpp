// DeviceChange.h on Windows: the system broadcasts WM_DEVICECHANGE to every top-level window
// when a port comes or goes, its name in a DEV_BROADCAST_PORT.
#include "platform/DeviceChange.h"

#include <windows.h>
// After windows.h, which it needs.
#include <dbt.h>

#include "platform/win/WideText.h"

namespace platform {

std::optional<DeviceChange> DeviceChangeOfMessage(const void* message, uintptr_t window) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg == nullptr || msg->message != WM_DEVICECHANGE) return std::nullopt;
    if (reinterpret_cast<uintptr_t>(msg->hwnd) != window) return std::nullopt;
    if (msg->wParam != DBT_DEVICEARRIVAL && msg->wParam != DBT_DEVICEREMOVECOMPLETE) {
        return std::nullopt;
    }
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
    if (header == nullptr) return std::nullopt;
    DeviceChange change;
    change.eventCode = static_cast<uint32_t>(msg->wParam);
    if (header->dbch_devicetype != DBT_DEVTYP_PORT) {
        change.deviceType = kDeviceTypeOther;
        return change;
    }
    change.deviceType = kDeviceTypePort;
    // The name ends with the structure, whose size the sender gave: never read past it.
    const auto* port = reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header);
    const size_t room =
        header->dbch_size > offsetof(DEV_BROADCAST_PORT_W, dbcp_name)
            ? (header->dbch_size - offsetof(DEV_BROADCAST_PORT_W, dbcp_name)) / sizeof(wchar_t)
            : 0;
    size_t length = 0;
    while (length < room && port->dbcp_name[length] != L'\0') ++length;
    change.name = Utf8Text(std::wstring(port->dbcp_name, length));
    return change;
}

}  // namespace platform
