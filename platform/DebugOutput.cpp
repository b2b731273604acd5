#include "platform/DebugOutput.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex& SinkLock() {
    static std::mutex lock;
    return lock;
}

DebugSink& Sink() {
    static DebugSink sink;  // guarded by SinkLock()
    return sink;
}

}  // namespace

void DebugOutput(const std::string& line) {
    std::lock_guard guard(SinkLock());
    if (Sink()) {
        Sink()(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

void SetDebugSink(DebugSink sink) {
    std::lock_guard guard(SinkLock());
    Sink() = std::move(sink);
}

}  // namespace platform
