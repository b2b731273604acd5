#pragma once
// The console's side of a terminal reduced to the bare minimum, for tests that talk to the
// simulator without the serial link: open, write, read with a time-out.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class RawTerminalClient {
  public:
    // Opens `path` for reading and writing in raw mode; throws std::system_error when it cannot.
    explicit RawTerminalClient(const std::string& path);
    ~RawTerminalClient();
    RawTerminalClient(const RawTerminalClient&) = delete;
    RawTerminalClient& operator=(const RawTerminalClient&) = delete;

    // Writes every byte; false when the terminal refuses them (it has gone away).
    bool Write(const std::vector<uint8_t>& bytes);

    // Reads until `count` bytes have arrived, `timeoutMs` has passed since the call, or the
    // terminal has gone away; returns what arrived.
    std::vector<uint8_t> Read(size_t count, int timeoutMs);

    // True once the other side has gone away (a hang-up), waiting at most `timeoutMs` for it.
    bool WaitHangUp(int timeoutMs);

  private:
    int fd_ = -1;
};

}  // namespace platform
