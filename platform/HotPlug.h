#pragma once
// Sources of port arrival and removal: the kernel's hardware ports through a udev monitor, and
// the virtual port folder through an inotify watch. Each exposes a descriptor that polls
// readable when events are pending, and reads them without blocking. Neither is thread-safe: one
// thread (the window's) owns each source.

#include <memory>
#include <vector>

#include "platform/DeviceChange.h"

namespace platform {

// Watches udev's "tty" subsystem: a terminal backed by hardware (see IsHardwarePort) that is
// added arrives as a port; any other terminal that is added arrives as kDeviceTypeOther. Every
// removal is reported as a port, since a device that is gone can no longer be examined; a
// handler removes only names it lists. Other udev actions (change, bind, ...) are not reported.
// Without a udev daemon (containers) no event ever comes: that is not an error.
class UdevPortMonitor {
  public:
    UdevPortMonitor();  // never throws for want of udev; Descriptor() is then -1
    ~UdevPortMonitor();
    UdevPortMonitor(const UdevPortMonitor&) = delete;
    UdevPortMonitor& operator=(const UdevPortMonitor&) = delete;

    int Descriptor() const;
    // Every event pending now, in order; empty when there is none.
    std::vector<DeviceChange> ReadEvents();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Watches VirtualPortFolder(): an entry created or moved in arrives, an entry deleted or moved
// out is removed (a subfolder as kDeviceTypeOther). The folder is created (mode 0700) when
// missing, and again when it was deleted while watched.
class VirtualPortWatch {
  public:
    // Throws std::system_error when inotify refuses, and the errors of EnsureVirtualPortFolder().
    VirtualPortWatch();
    ~VirtualPortWatch();
    VirtualPortWatch(const VirtualPortWatch&) = delete;
    VirtualPortWatch& operator=(const VirtualPortWatch&) = delete;

    int Descriptor() const { return inotify_; }
    // Every event pending now, in order; empty when there is none.
    std::vector<DeviceChange> ReadEvents();

  private:
    // Creates the folder when missing and watches it; entries already there are appended to
    // `arrivals` when given (a folder made again may have been filled before it was watched).
    void Watch(std::vector<DeviceChange>* arrivals);

    int inotify_ = -1;
    int watch_ = -1;
};

}  // namespace platform
