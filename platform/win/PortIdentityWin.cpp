// PortIdentity.h on Windows: what the device manager knows of a port (the class Ports), found by
// the port name its driver gave it. The device instance identifies the adapter in its socket;
// a serial number of its own shows as the instance's last part only for adapters that report
// one, which cannot be told apart here, so it is left empty.
#include "platform/PortIdentity.h"

#include <windows.h>
// After windows.h, which they need.
#include <devguid.h>
#include <setupapi.h>

#include <vector>

#include "platform/win/WideText.h"

namespace platform {
namespace {

std::wstring PortNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key =
        ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof name[0];
    DWORD type = 0;
    const LSTATUS read =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    ::RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? std::wstring(name) : std::wstring();
}

std::string PropertyOf(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[256] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                             reinterpret_cast<BYTE*>(text),
                                             sizeof text - sizeof text[0], nullptr)) {
        return {};
    }
    return Utf8Text(text);
}

}  // namespace

PortIdentity IdentityOfPort(const std::string& name) {
    PortIdentity identity;
    const HDEVINFO devices =
        ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return identity;
    const std::wstring wanted = WideText(name);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        if (_wcsicmp(PortNameOf(devices, device).c_str(), wanted.c_str()) != 0) continue;
        wchar_t instance[512] = {};
        if (::SetupDiGetDeviceInstanceIdW(devices, &device, instance, 511, nullptr)) {
            identity.idPath = Utf8Text(instance);
        }
        identity.vendor = PropertyOf(devices, device, SPDRP_MFG);
        identity.product = PropertyOf(devices, device, SPDRP_FRIENDLYNAME);
        break;
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return identity;
}

}  // namespace platform
