#include "tests/windows/DeviceChangeSender.h"

#include <windows.h>
// After windows.h, which it needs.
#include <dbt.h>

#include <cstddef>
#include <vector>

bool SendPortRemoval(WId window, const QString& port) {
    const std::wstring name = port.toStdWString();
    // The structure ends with the name, its terminator included.
    std::vector<std::byte> block(offsetof(DEV_BROADCAST_PORT_W, dbcp_name) +
                                 (name.size() + 1) * sizeof(wchar_t));
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_PORT_W*>(block.data());
    broadcast->dbcp_size = static_cast<DWORD>(block.size());
    broadcast->dbcp_devicetype = DBT_DEVTYP_PORT;
    broadcast->dbcp_reserved = 0;
    std::copy(name.c_str(), name.c_str() + name.size() + 1, broadcast->dbcp_name);
    DWORD_PTR answer = 0;
    return ::SendMessageTimeoutW(reinterpret_cast<HWND>(window), WM_DEVICECHANGE,
                                 DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(broadcast),
                                 SMTO_NORMAL, 10000, &answer) != 0;
}
