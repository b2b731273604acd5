#pragma once
// Arrival and removal of ports while the console runs, read on the thread that created it (the
// window's). On Linux it owns the two sources (udev for hardware ports, inotify for the virtual
// port folder) and reads them as their descriptors become readable; on Windows it reads the
// WM_DEVICECHANGE messages that the system sends to the console's window (app/win/).

#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;
class QWidget;

namespace platform {
class UdevPortMonitor;
class VirtualPortWatch;
}  // namespace platform

class TPortWatcher : public QObject {
    Q_OBJECT

  public:
    // Starts watching at once. A source that cannot be had (no udev, a virtual port folder that
    // cannot be made or is not private to this user) is left out with a debug line; the other
    // still works. On Windows the messages to `window` are read (none without one).
    explicit TPortWatcher(const QWidget* window = nullptr);
    ~TPortWatcher() override;

    bool WatchesVirtualPorts() const;

  signals:
    // One per event, in the order the source reported them: the event code (0x8000 arrival,
    // 0x8004 removal), the device type (3 for a port) and the bare name.
    void DeviceChanged(quint32 eventCode, quint32 deviceType, const QString& name);

  private:
#ifdef _WIN32
    class TMessageFilter;
    std::unique_ptr<TMessageFilter> filter_;
#else
    template <typename Source>
    void Emit(Source& source);

    std::unique_ptr<platform::UdevPortMonitor> udev_;
    std::unique_ptr<platform::VirtualPortWatch> virtual_;
    QSocketNotifier* udevNotifier_ = nullptr;     // child of this object; null when not watched
    QSocketNotifier* virtualNotifier_ = nullptr;  // likewise
#endif
};
