#include "platform/SysError.h"

#include <cerrno>
#include <climits>
#include <cstring>

namespace platform {

std::string SysErrorMessage(uint32_t code) {
    // strerror_r writes "Unknown error N" for any code; only a code with a name has a real text.
    if (code > INT_MAX || strerrorname_np(static_cast<int>(code)) == nullptr) {
        errno = EINVAL;
        return {};
    }
    char buffer[256];
    return strerror_r(static_cast<int>(code), buffer, sizeof buffer);
}

uint32_t LastSysError() {
    return static_cast<uint32_t>(errno);
}

}  // namespace platform
