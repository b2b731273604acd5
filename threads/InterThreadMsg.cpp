#include "threads/InterThreadMsg.h"

#include <QCoreApplication>
#include <atomic>
#include <cstring>

const int SendStringToMainFormMsg = QEvent::registerEventType();

// Qt's event queue is guarded by a lock that ThreadSanitizer does not see (Qt itself is not
// instrumented), so the hand-over of a message from the poster to the receiver is declared here.
#if defined(__SANITIZE_THREAD__)
#define KELVO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KELVO_TSAN 1
#endif
#endif

#ifdef KELVO_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#define HANDED_OVER(address) __tsan_release(const_cast<void*>(static_cast<const void*>(address)))
#define TAKEN_OVER(address) __tsan_acquire(const_cast<void*>(static_cast<const void*>(address)))
#else
#define HANDED_OVER(address) static_cast<void>(address)
#define TAKEN_OVER(address) static_cast<void>(address)
#endif

TThreadMessage::TThreadMessage(int msg, std::uintptr_t wParam, std::intptr_t lParam)
    : QEvent(static_cast<QEvent::Type>(msg)), wParam_(wParam), lParam_(lParam) {}

TThreadMessage::TThreadMessage(int msg, std::unique_ptr<std::byte[]> block, int length)
    : QEvent(static_cast<QEvent::Type>(msg)),
      block_(std::move(block)),
      wParam_(reinterpret_cast<std::uintptr_t>(block_.get())),
      lParam_(length) {}

namespace {

std::atomic<std::uint64_t> postedMessages{0};

bool Post(TThreadMessage* message) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        delete message;
        return false;
    }
    HANDED_OVER(message);
    postedMessages.fetch_add(1, std::memory_order_relaxed);
    QCoreApplication::postEvent(app, message);  // takes ownership
    return true;
}

}  // namespace

const TThreadMessage* AsThreadMessage(const QEvent* event) {
    TAKEN_OVER(event);
    return dynamic_cast<const TThreadMessage*>(event);
}

std::uint64_t PostedMessageCount() {
    return postedMessages.load(std::memory_order_relaxed);
}

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
