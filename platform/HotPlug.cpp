#include "platform/HotPlug.h"

#include <libudev.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>

#include "platform/DebugOutput.h"
#include "platform/PortDiscovery.h"
#include "platform/PortNames.h"
#include "platform/VirtualPorts.h"

namespace platform {

// ---- udev ------------------------------------------------------------------------------------

struct UdevPortMonitor::State {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    int fd = -1;
};

UdevPortMonitor::UdevPortMonitor() : state_(std::make_unique<State>()) {
    state_->context = udev_new();
    if (state_->context == nullptr) return;
    // The "udev" group: events after the daemon has made the device node ready to open.
    state_->monitor = udev_monitor_new_from_netlink(state_->context, "udev");
    if (state_->monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(state_->monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(state_->monitor) < 0) {
        DebugOutput("hot-plug: no udev monitor; hardware ports are not watched");
        return;
    }
    state_->fd = udev_monitor_get_fd(state_->monitor);
}

UdevPortMonitor::~UdevPortMonitor() {
    if (state_->monitor != nullptr) udev_monitor_unref(state_->monitor);
    if (state_->context != nullptr) udev_unref(state_->context);
}

int UdevPortMonitor::Descriptor() const {
    return state_->fd;
}

std::vector<DeviceChange> UdevPortMonitor::ReadEvents() {
    std::vector<DeviceChange> events;
    if (state_->fd < 0) return events;
    // The socket does not block: receiving ends with null once nothing is pending.
    while (udev_device* device = udev_monitor_receive_device(state_->monitor)) {
        const char* action = udev_device_get_action(device);
        const char* name = udev_device_get_sysname(device);
        if (action != nullptr && name != nullptr) {
            if (std::strcmp(action, "add") == 0) {
                const char* node = udev_device_get_devnode(device);
                const bool port =
                    IsHardwarePort(udev_device_get_syspath(device),
                                   node != nullptr ? node : "/dev/" + std::string(name));
                events.push_back({kDeviceArrival, port ? kDeviceTypePort : kDeviceTypeOther, name});
            } else if (std::strcmp(action, "remove") == 0) {
                events.push_back({kDeviceRemoveComplete, kDeviceTypePort, name});
            }
        }
        udev_device_unref(device);
    }
    return events;
}

// ---- inotify ---------------------------------------------------------------------------------

VirtualPortWatch::VirtualPortWatch() {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) throw std::system_error(errno, std::generic_category(), "inotify_init1");
    try {
        Watch(nullptr);
    } catch (...) {
        ::close(inotify_);
        throw;
    }
}

VirtualPortWatch::~VirtualPortWatch() {
    ::close(inotify_);
}

void VirtualPortWatch::Watch(std::vector<DeviceChange>* arrivals) {
    EnsureVirtualPortFolder();
    const std::string folder = VirtualPortFolder();
    watch_ = ::inotify_add_watch(
        inotify_, folder.c_str(),
        IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR | IN_DONT_FOLLOW);
    if (watch_ < 0) {
        throw std::system_error(errno, std::generic_category(), "inotify_add_watch " + folder);
    }
    if (arrivals == nullptr) return;
    for (std::string& name : VirtualPortNames()) {
        arrivals->push_back({kDeviceArrival, kDeviceTypePort, std::move(name)});
    }
}

std::vector<DeviceChange> VirtualPortWatch::ReadEvents() {
    std::vector<DeviceChange> events;
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    bool folderGone = false;
    for (;;) {
        const ssize_t length = ::read(inotify_, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR) continue;
        if (length <= 0) break;  // EAGAIN: nothing more pending
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->wd != watch_) continue;
            if ((event->mask & IN_IGNORED) != 0) {
                folderGone = true;
                continue;
            }
            if (event->len == 0) continue;
            const uint32_t type =
                (event->mask & IN_ISDIR) != 0 ? kDeviceTypeOther : kDeviceTypePort;
            if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                events.push_back({kDeviceArrival, type, event->name});
            } else if ((event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
                events.push_back({kDeviceRemoveComplete, type, event->name});
            }
        }
    }
    if (folderGone) {
        // The folder was deleted (its entries were reported removed first): make it again, so
        // that publishers started later are still seen.
        watch_ = -1;
        try {
            Watch(&events);
        } catch (const std::exception& error) {
            DebugOutput(std::string("hot-plug: virtual ports are no longer watched: ") +
                        error.what());
        }
    }
    return events;
}

}  // namespace platform
