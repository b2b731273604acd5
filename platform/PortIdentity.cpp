#include "platform/PortIdentity.h"

#include <libudev.h>

#include <memory>

#include "platform/VirtualPorts.h"

namespace platform {
namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::string Property(udev_device* device, const char* key) {
    const char* value = udev_device_get_property_value(device, key);
    return value != nullptr ? value : "";
}

std::string FirstProperty(udev_device* device, const char* key, const char* fallbackKey) {
    std::string value = Property(device, key);
    return value.empty() ? Property(device, fallbackKey) : value;
}

}  // namespace

PortIdentity IdentityOfPort(const std::string& name) {
    PortIdentity identity;
    // A name with a slash would lead udev to another device than a terminal of that name.
    if (!IsValidPortName(name)) return identity;
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) return identity;
    std::unique_ptr<udev_device, UdevDeleter> device(
        udev_device_new_from_subsystem_sysname(context.get(), "tty", name.c_str()));
    if (!device) return identity;
    identity.idPath = Property(device.get(), "ID_PATH");
    if (!Property(device.get(), "ID_SERIAL_SHORT").empty()) {
        identity.idSerial = Property(device.get(), "ID_SERIAL");
    }
    identity.vendor = FirstProperty(device.get(), "ID_VENDOR_FROM_DATABASE", "ID_VENDOR");
    identity.product = FirstProperty(device.get(), "ID_MODEL_FROM_DATABASE", "ID_MODEL");
    return identity;
}

}  // namespace platform
