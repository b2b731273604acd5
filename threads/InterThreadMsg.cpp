#include "threads/InterThreadMsg.h"

#include <QCoreApplication>
#include <cstring>

const int SendStringToMainFormMsg = QEvent::registerEventType();

TThreadMessage::TThreadMessage(int msg, std::uintptr_t wParam, std::intptr_t lParam)
    : QEvent(static_cast<QEvent::Type>(msg)), wParam_(wParam), lParam_(lParam) {}

TThreadMessage::TThreadMessage(int msg, std::unique_ptr<std::byte[]> block, int length)
    : QEvent(static_cast<QEvent::Type>(msg)),
      block_(std::move(block)),
      wParam_(reinterpret_cast<std::uintptr_t>(block_.get())),
      lParam_(length) {}

namespace {

bool Post(TThreadMessage* message) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        delete message;
        return false;
    }
    QCoreApplication::postEvent(app, message);  // takes ownership
    return true;
}

}  // namespace

bool PostToMainThread(int msg, std::uintptr_t wParam, std::intptr_t lParam) {
    return Post(new TThreadMessage(msg, wParam, lParam));
}

void PostBlockToMainThread(const void* data, int len) {
    if (len <= 0) return;
    auto copy = std::make_unique<std::byte[]>(static_cast<size_t>(len));
    std::memcpy(copy.get(), data, static_cast<size_t>(len));
    // A failed post deletes the message and with it the copy: the data is dropped.
    Post(new TThreadMessage(SendStringToMainFormMsg, std::move(copy), len));
}
