#include "platform/ThreadStop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <vector>

#include "platform/PollWait.h"

namespace platform {
namespace {
thread_local StopSignal* currentSignal = nullptr;
}

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

StopSignal::~StopSignal() { ::close(fd_); }

void StopSignal::Raise() {
    raised_.store(true);
    const uint64_t one = 1;
    // The counter only grows; a full counter (never reached in practice) still polls readable.
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

void SetThreadStopSignal(StopSignal* signal) { currentSignal = signal; }
StopSignal* ThreadStopSignal() { return currentSignal; }

bool StopRequested() { return currentSignal != nullptr && currentSignal->Raised(); }

void ThrowIfStopRequested() {
    if (StopRequested()) throw ThreadStopRequested{};
}

void Sleep(uint32_t ms) {
    PollStoppable(nullptr, 0, static_cast<int>(ms));
}

int PollStoppable(pollfd* fds, nfds_t count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    ThrowIfStopRequested();
    std::vector<pollfd> all(fds, fds + count);
    if (currentSignal != nullptr) all.push_back({currentSignal->Descriptor(), POLLIN, 0});
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        int wait = timeoutMs;
        if (timeoutMs >= 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        for (auto& p : all) p.revents = 0;
        int n = ::poll(all.data(), all.size(), wait);
        if (n < 0 && errno == EINTR) continue;
        ThrowIfStopRequested();
        if (n > 0) {
            for (nfds_t i = 0; i < count; ++i) fds[i].revents = all[i].revents;
        }
        return n;
    }
}

}  // namespace platform
