#include "platform/DebugOutput.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::atomic<bool> switchedOn{false};
std::atomic<bool> sinkSet{false};

std::mutex& SinkLock() {
    static std::mutex lock;
    return lock;
}

DebugSink& Sink() {
    static DebugSink sink;  // guarded by SinkLock()
    return sink;
}

}  // namespace

bool DebugOutputEnabled() {
    return sinkSet.load(std::memory_order_relaxed) || switchedOn.load(std::memory_order_relaxed);
}

void DebugOutput(const std::string& line) {
    if (!DebugOutputEnabled()) return;
    std::lock_guard guard(SinkLock());
    if (Sink()) {
        Sink()(line);
        return;
    }
    if (switchedOn) std::fprintf(stderr, "%s\n", line.c_str());
}

void SetDebugOutputEnabled(bool enabled) {
    switchedOn = enabled;
}

void SetDebugSink(DebugSink sink) {
    std::lock_guard guard(SinkLock());
    sinkSet = static_cast<bool>(sink);
    Sink() = std::move(sink);
}

}  // namespace platform
