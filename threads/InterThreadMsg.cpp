#include "threads/InterThreadMsg.h"

#include <atomic>
#include <cstring>

TThreadMessage::TThreadMessage(int msg, std::uintptr_t wParam, std::intptr_t lParam)
    : msg_(msg), wParam_(wParam), lParam_(lParam) {}

TThreadMessage::TThreadMessage(int msg, std::unique_ptr<std::byte[]> block, int length)
    : block_(std::move(block)),
      msg_(msg),
      wParam_(reinterpret_cast<std::uintptr_t>(block_.get())),
      lParam_(length) {}

namespace {

std::atomic<TMessageSink*> messageSink{nullptr};
std::atomic<std::uint64_t> postedMessages{0};

bool Post(TThreadMessage&& message) {
    TMessageSink* sink = messageSink.load(std::memory_order_acquire);
    // A message nobody takes goes, and with it any block.
    if (sink == nullptr || !sink->Take(std::move(message))) return false;
    postedMessages.fetch_add(1, std::memory_order_relaxed);
    return true;
}

}  // namespace

void SetMessageSink(TMessageSink* sink) {
    messageSink.store(sink, std::memory_order_release);
}

std::uint64_t PostedMessageCount() {
    return postedMessages.load(std::memory_order_relaxed);
}

bool PostToMainThread(int msg, std::uintptr_t wParam, std::intptr_t lParam) {
    return Post(TThreadMessage(msg, wParam, lParam));
}

void PostBlockToMainThread(const void* data, int len) {
    if (len <= 0) return;
    auto copy = std::make_unique<std::byte[]>(static_cast<size_t>(len));
    std::memcpy(copy.get(), data, static_cast<size_t>(len));
    Post(TThreadMessage(SendStringToMainFormMsg, std::move(copy), len));
}
