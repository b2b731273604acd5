#include "app/PortList.h"

#include <QComboBox>
#include <utility>

#include "platform/DeviceChange.h"
#include "support/CommonTools.h"

namespace {

void AppendKeepingSelection(QComboBox& box, const QString& name) {
    const int selected = box.currentIndex();
    box.addItem(name);
    if (box.currentIndex() != selected) box.setCurrentIndex(selected);
}

}  // namespace

void AddPortName(const char* name, void* context) {
    if (context == nullptr || name == nullptr) return;
    AppendKeepingSelection(*static_cast<QComboBox*>(context), QString::fromUtf8(name));
}

TPortList::TPortList(QComboBox* box, std::function<void()> closePort,
                     std::function<QString()> portInUse)
    : box_(box), closePort_(std::move(closePort)), portInUse_(std::move(portInUse)) {}

void TPortList::Fill() {
    ListSerialPorts(AddPortName, box_);
    if (box_->count() > 0) box_->setCurrentIndex(0);
}

int TPortList::WMDeviceChange(uint32_t eventCode, uint32_t deviceType, const QString& name) {
    if (deviceType == platform::kDeviceTypePort) {
        if (eventCode == platform::kDeviceArrival) {
            Arrive(name);
        } else if (eventCode == platform::kDeviceRemoveComplete) {
            Remove(name);
        }
    }
    return 1;
}

void TPortList::Arrive(const QString& name) {
    AppendKeepingSelection(*box_, name);
    if (box_->count() == 1) box_->setCurrentIndex(0);
}

void TPortList::Remove(const QString& name) {
    // Not the selection: once another removal has moved it to item 0, it no longer names the
    // open port.
    const QString open = portInUse_ ? portInUse_() : QString();
    const QString inUse = open.isEmpty() ? box_->currentText() : open;
    if (inUse == name && closePort_) closePort_();
    for (int i = 0; i < box_->count(); ++i) {
        if (box_->itemText(i).compare(name, Qt::CaseInsensitive) == 0) {
            box_->removeItem(i);
            break;
        }
    }
    box_->setCurrentIndex(box_->count() == 0 ? -1 : 0);
}
