#include "platform/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <system_error>

namespace platform {
namespace {

[[noreturn]] void Throw(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void CloseIfOpen(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// ppoll(2) restarted on EINTR with the time that is left; a negative timeout waits without limit.
int PollRestarting(pollfd* fds, nfds_t count, std::chrono::microseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        timespec wait{};
        if (timeout.count() >= 0) {
            const auto left = std::max(std::chrono::nanoseconds(deadline - Clock::now()),
                                       std::chrono::nanoseconds(0));
            wait.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            wait.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
        }
        const int n = ::ppoll(fds, count, timeout.count() >= 0 ? &wait : nullptr, nullptr);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    try {
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_ < 0) Throw("eventfd");
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0) Throw("posix_openpt");
        if (::grantpt(master_) != 0) Throw("grantpt");
        if (::unlockpt(master_) != 0) Throw("unlockpt");
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0) Throw("ptsname_r");
        slavePath_ = name;
        slaveKeeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveKeeper_ < 0) Throw("open pseudo-terminal slave");
        termios tio{};
        if (::tcgetattr(slaveKeeper_, &tio) != 0) Throw("tcgetattr");
        ::cfmakeraw(&tio);
        if (::tcsetattr(slaveKeeper_, TCSANOW, &tio) != 0) Throw("tcsetattr");
        const int flags = ::fcntl(master_, F_GETFL);
        if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) Throw("fcntl");
    } catch (...) {
        CloseIfOpen(slaveKeeper_);
        CloseIfOpen(master_);
        CloseIfOpen(wake_);
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    Close();
    CloseIfOpen(wake_);
}

long PseudoTerminal::Read(uint8_t* buffer, size_t capacity, std::chrono::microseconds timeout) {
    pollfd fds[2] = {{wake_, POLLIN, 0}, {master_, POLLIN, 0}};
    const nfds_t count = master_ >= 0 ? 2 : 1;
    const int n = PollRestarting(fds, count, timeout);
    if (n < 0) return -1;
    if ((fds[0].revents & POLLIN) != 0) {
        uint64_t drained = 0;
        [[maybe_unused]] ssize_t r = ::read(wake_, &drained, sizeof drained);
        return 0;
    }
    if (count < 2 || fds[1].revents == 0) return 0;
    const ssize_t got = ::read(master_, buffer, capacity);
    if (got >= 0) return static_cast<long>(got);
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

size_t PseudoTerminal::Write(const uint8_t* data, size_t count) {
    size_t written = 0;
    while (master_ >= 0 && written < count) {
        const ssize_t n = ::write(master_, data + written, count - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    return written;
}

void PseudoTerminal::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
}

void PseudoTerminal::Close() {
    CloseIfOpen(slaveKeeper_);
    CloseIfOpen(master_);
}

}  // namespace platform
