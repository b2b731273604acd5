#include "platform/RawTerminalClient.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

RawTerminalClient::RawTerminalClient(const std::string& path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "open " + path);
    termios tio{};
    if (::tcgetattr(fd_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
}

RawTerminalClient::~RawTerminalClient() {
    ::close(fd_);
}

bool RawTerminalClient::Write(const std::vector<uint8_t>& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0 || (p.revents & (POLLHUP | POLLERR)) != 0) return false;
            continue;
        }
        if (n <= 0) return false;
        written += static_cast<size_t>(n);
    }
    return true;
}

std::vector<uint8_t> RawTerminalClient::Read(size_t count, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> got;
    while (got.size() < count) {
        pollfd p{fd_, POLLIN, 0};
        const int n = ::poll(&p, 1, MsLeft(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        uint8_t buffer[256];
        const size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
        const ssize_t r = ::read(fd_, buffer, want);
        if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (r <= 0) break;  // hang-up: end of file or EIO
        got.insert(got.end(), buffer, buffer + r);
    }
    return got;
}

bool RawTerminalClient::WaitHangUp(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{fd_, 0, 0};
        const int n = ::poll(&p, 1, MsLeft(deadline));
        if (n < 0 && errno == EINTR) continue;
        return n > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
    }
}

}  // namespace platform
