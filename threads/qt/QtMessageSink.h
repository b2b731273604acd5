#pragma once
// Thread messages as Qt events: a receiver on a Qt thread gives its link a sink that posts each
// message to a Qt object of its choosing, to be taken with AsThreadMessage (in that object's
// event handling, or in an event filter that sees its events).

#include <QEvent>
#include <QObject>

#include "threads/InterThreadMsg.h"

class TQtMessageSink final : public TMessageSink {
  public:
    // Posts to `receiver`, which must outlive every post that may still come; a message still
    // queued when the receiver goes is freed with it.
    explicit TQtMessageSink(QObject* receiver) : FReceiver(receiver) {}
    bool Take(TThreadMessage&& message) override;

  private:
    QObject* const FReceiver;
};

// The posted thread message that `event` carries, or null; for the receiving filter. Call this
// before touching the event in any other way: it also tells ThreadSanitizer that the message was
// handed over through the application's event queue, whose lock it cannot see.
const TThreadMessage* AsThreadMessage(const QEvent* event);
