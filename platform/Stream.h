#pragma once
// A byte sink that text lines are written to (the test log writes its file through one).

#include <cstddef>

namespace platform {

class TStream {
  public:
    virtual ~TStream() = default;
    // Writes `count` bytes from `data`; true when every byte was written.
    virtual bool Write(const void* data, size_t count) = 0;
};

}  // namespace platform
