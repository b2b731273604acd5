// PortWatcher.h on Windows: the system tells every top-level window of a port that came or went
// (WM_DEVICECHANGE); the messages to the console's window are read from the application's
// native events, before Qt handles them.
#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWidget>

#include "app/PortWatcher.h"
#include "platform/DebugOutput.h"
#include "platform/DeviceChange.h"

class TPortWatcher::TMessageFilter final : public QAbstractNativeEventFilter {
  public:
    TMessageFilter(TPortWatcher& watcher, const QWidget& window)
        : Watcher(watcher), Window(window) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "windows_generic_MSG") return false;
        // The window's handle as it is now: none before the window is made, so nothing is
        // matched then (and none is made here).
        const auto handle = static_cast<uintptr_t>(Window.internalWinId());
        if (handle == 0) return false;
        if (const auto change = platform::DeviceChangeOfMessage(message, handle)) {
            emit Watcher.DeviceChanged(change->eventCode, change->deviceType,
                                       QString::fromStdString(change->name));
        }
        return false;  // Qt sees the message too
    }

  private:
    TPortWatcher& Watcher;
    const QWidget& Window;
};

TPortWatcher::TPortWatcher(const QWidget* window) {
    if (window == nullptr || QCoreApplication::instance() == nullptr) {
        platform::DebugOutput("hot-plug: no window to hear of ports from: ports are not watched");
        return;
    }
    filter_ = std::make_unique<TMessageFilter>(*this, *window);
    QCoreApplication::instance()->installNativeEventFilter(filter_.get());
}

TPortWatcher::~TPortWatcher() {
    if (filter_ && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(filter_.get());
    }
}

bool TPortWatcher::WatchesVirtualPorts() const {
    return false;  // Windows has no virtual port folder
}
