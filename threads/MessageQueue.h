#pragma once
// The receiver's side of the thread messages for a program without an event loop of its own
// (kelvo-run): any thread posts, the receiving thread waits for the next message or a deadline.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "threads/InterThreadMsg.h"

class TMessageQueue final : public TMessageSink {
  public:
    using TClock = std::chrono::steady_clock;

    // Queues `message` and wakes the receiver; any thread.
    bool Take(TThreadMessage&& message) override;

    // The oldest message, waiting for one until `deadline`; nothing when the deadline came first.
    std::optional<TThreadMessage> WaitUntil(TClock::time_point deadline);

  private:
    std::mutex FLock;
    std::condition_variable FArrived;
    std::deque<TThreadMessage> FMessages;  // guarded by FLock
};
