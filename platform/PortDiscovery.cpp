#include "platform/PortDiscovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <libudev.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <memory>

#include "platform/PortNames.h"
#include "platform/VirtualPorts.h"

namespace platform {
namespace {

constexpr int kPortUnknown = 0;  // PORT_UNKNOWN of the serial core

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// The UART type that the serial core reports through TIOCGSERIAL, or kPortUnknown when the port
// cannot be asked. O_NONBLOCK: the open must not wait for a carrier.
int UartTypeOfDevice(const std::string& deviceNode) {
    const int fd = ::open(deviceNode.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kPortUnknown;
    serial_struct info{};
    const int result = ::ioctl(fd, TIOCGSERIAL, &info);
    ::close(fd);
    return result == 0 ? info.type : kPortUnknown;
}

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

}  // namespace

bool IsHardwarePort(const std::string& sysPath, const std::string& deviceNode) {
    if (!Exists(sysPath + "/device")) return false;
    const std::string typePath = sysPath + "/type";
    if (!Exists(typePath)) return true;
    int type = kPortUnknown;
    std::ifstream attribute(typePath);
    if (!(attribute >> type)) type = UartTypeOfDevice(deviceNode);
    return type != kPortUnknown;
}

std::vector<std::string> HardwarePortNames() {
    std::vector<std::string> names;
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) return names;
    std::unique_ptr<udev_enumerate, UdevDeleter> enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return names;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        const char* sysPath = udev_list_entry_get_name(entry);
        std::unique_ptr<udev_device, UdevDeleter> device(
            udev_device_new_from_syspath(context.get(), sysPath));
        if (!device) continue;
        const char* name = udev_device_get_sysname(device.get());
        const char* node = udev_device_get_devnode(device.get());
        if (name == nullptr || node == nullptr) continue;
        if (IsHardwarePort(sysPath, node)) names.emplace_back(name);
    }
    return names;
}

std::vector<std::string> VirtualPortNames() {
    std::vector<std::string> names;
    const std::string folder = VirtualPortFolder();
    if (!IsPrivateFolder(folder)) return names;
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return names;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (!IsValidPortName(name)) continue;
        if (Exists(folder + "/" + name)) names.push_back(name);
    }
    ::closedir(listing);
    return names;
}

std::vector<std::string> SerialPortNames() {
    std::vector<std::string> names = HardwarePortNames();
    for (std::string& name : VirtualPortNames()) names.push_back(std::move(name));
    return names;
}

}  // namespace platform
