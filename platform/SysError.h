#pragma once
// System error codes (errno values) and their texts.

#include <cstdint>
#include <string>

namespace platform {

// The system's message text for the errno value `code` (in the language of LC_MESSAGES), or an
// empty text when the system has none for it; a failed lookup sets the calling thread's last
// error to EINVAL. Callable from any thread.
std::string SysErrorMessage(uint32_t code);

// The calling thread's last system error (errno).
uint32_t LastSysError();

}  // namespace platform
