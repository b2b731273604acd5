#include "threads/MessageQueue.h"

bool TMessageQueue::Take(TThreadMessage&& message) {
    {
        std::lock_guard guard(FLock);
        FMessages.push_back(std::move(message));
    }
    FArrived.notify_one();
    return true;
}

std::optional<TThreadMessage> TMessageQueue::WaitUntil(TClock::time_point deadline) {
    std::unique_lock guard(FLock);
    if (!FArrived.wait_until(guard, deadline, [this] { return !FMessages.empty(); })) return {};
    std::optional<TThreadMessage> message(std::move(FMessages.front()));
    FMessages.pop_front();
    return message;
}
