#pragma once
// Thread messages as Qt events: a program that receives them through its application object's
// event stream (the window, and whatever stands in for it) has them posted there, to be taken
// with AsThreadMessage in an event filter.

#include <QEvent>

#include "threads/InterThreadMsg.h"

// From now on every post goes to the application object of the moment, if there is one (a post
// without one is dropped). Call before the worker starts; calling again changes nothing.
void PostMessagesAsQtEvents();

// The posted thread message that `event` carries, or null; for the receiving filter. Call this
// before touching the event in any other way: it also tells ThreadSanitizer that the message was
// handed over through the application's event queue, whose lock it cannot see.
const TThreadMessage* AsThreadMessage(const QEvent* event);
