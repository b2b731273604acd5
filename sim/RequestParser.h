#pragma once
// Splits the byte stream from the console into request frames B1 B2 code p1 p2 B6.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

inline constexpr uint8_t kRequestStart1 = 0xB1;
inline constexpr uint8_t kRequestStart2 = 0xB2;
inline constexpr uint8_t kRequestEnd = 0xB6;
inline constexpr size_t kRequestLength = 6;

using RequestFrame = std::array<uint8_t, kRequestLength>;

// Bytes that cannot belong to a frame are discarded one at a time, so the parser falls back
// into step on the next B1 B2 whatever came before (noise, a torn frame, a frame without its
// end byte).
class RequestParser {
  public:
    struct Parsed {
        RequestFrame frame;
        uint64_t firstByte;  // offset of the frame's first byte in the stream since Reset()
    };

    // Takes the next bytes of the stream; returns the frames they complete, in order.
    std::vector<Parsed> Feed(std::span<const uint8_t> bytes);

    // Stream offset up to which every byte is either in a returned frame or discarded.
    uint64_t Settled() const { return pendingOffset_; }

    // Bytes thrown away so far.
    uint64_t Discarded() const { return discarded_; }

    // Forgets a partial frame and starts the stream offsets anew.
    void Reset();

  private:
    std::vector<uint8_t> pending_;  // a frame in the making: starts with B1, or is empty
    uint64_t pendingOffset_ = 0;    // stream offset of pending_[0]
    uint64_t discarded_ = 0;
};

}  // namespace sim
