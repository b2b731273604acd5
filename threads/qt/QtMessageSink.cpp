#include "threads/qt/QtMessageSink.h"

#include <QCoreApplication>

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

namespace {

// The event type is the message id, as a Windows program's thread messages are told apart by
// theirs; every id is in Qt's range of user event types.
class TThreadMessageEvent : public QEvent {
  public:
    explicit TThreadMessageEvent(TThreadMessage&& message)
        : QEvent(static_cast<QEvent::Type>(message.Msg())), message_(std::move(message)) {}
    const TThreadMessage& Message() const { return message_; }

  private:
    TThreadMessage message_;
};

}  // namespace

bool TQtMessageSink::Take(TThreadMessage&& message) {
    if (FReceiver == nullptr) return false;
    auto* event = new TThreadMessageEvent(std::move(message));
    HANDED_OVER(event);
    QCoreApplication::postEvent(FReceiver, event);  // takes ownership
    return true;
}

const TThreadMessage* AsThreadMessage(const QEvent* event) {
    TAKEN_OVER(event);
    const auto* carrier = dynamic_cast<const TThreadMessageEvent*>(event);
    return carrier != nullptr ? &carrier->Message() : nullptr;
}
