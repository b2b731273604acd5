#include "sim/RequestParser.h"

#include <algorithm>

namespace sim {

std::vector<RequestParser::Parsed> RequestParser::Feed(std::span<const uint8_t> bytes) {
    std::vector<Parsed> frames;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    size_t start = 0;
    auto discardOne = [&] {
        ++start;
        ++discarded_;
    };
    while (start < pending_.size()) {
        const size_t left = pending_.size() - start;
        if (pending_[start] != kRequestStart1) {
            discardOne();
        } else if (left >= 2 && pending_[start + 1] != kRequestStart2) {
            discardOne();
        } else if (left < kRequestLength) {
            break;
        } else if (pending_[start + kRequestLength - 1] != kRequestEnd) {
            discardOne();
        } else {
            Parsed parsed{{}, pendingOffset_ + start};
            std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(start), kRequestLength,
                        parsed.frame.begin());
            frames.push_back(parsed);
            start += kRequestLength;
        }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
    pendingOffset_ += start;
    return frames;
}

void RequestParser::Reset() {
    pending_.clear();
    pendingOffset_ = 0;
}

}  // namespace sim
