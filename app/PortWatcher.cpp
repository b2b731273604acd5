#include "app/PortWatcher.h"

#include <QSocketNotifier>
#include <exception>

#include "platform/DebugOutput.h"
#include "platform/HotPlug.h"

TPortWatcher::TPortWatcher(const QWidget* /*window*/)
    : udev_(std::make_unique<platform::UdevPortMonitor>()) {
    if (udev_->Descriptor() >= 0) {
        udevNotifier_ = new QSocketNotifier(udev_->Descriptor(), QSocketNotifier::Read, this);
        connect(udevNotifier_, &QSocketNotifier::activated, this, [this] { Emit(*udev_); });
    }
    try {
        virtual_ = std::make_unique<platform::VirtualPortWatch>();
    } catch (const std::exception& error) {
        platform::DebugOutput(std::string("hot-plug: virtual ports are not watched: ") +
                              error.what());
        return;
    }
    virtualNotifier_ = new QSocketNotifier(virtual_->Descriptor(), QSocketNotifier::Read, this);
    connect(virtualNotifier_, &QSocketNotifier::activated, this, [this] { Emit(*virtual_); });
}

// The notifiers go first: as children they would outlive the descriptors they watch.
TPortWatcher::~TPortWatcher() {
    delete udevNotifier_;
    delete virtualNotifier_;
}

bool TPortWatcher::WatchesVirtualPorts() const {
    return virtualNotifier_ != nullptr;
}

template <typename Source>
void TPortWatcher::Emit(Source& source) {
    for (const platform::DeviceChange& change : source.ReadEvents()) {
        emit DeviceChanged(change.eventCode, change.deviceType, QString::fromUtf8(change.name));
    }
}
