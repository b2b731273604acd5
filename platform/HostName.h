#pragma once
// The machine's name on the network, as the system has it.

#include <string>

namespace platform {

// The host name (gethostname), empty when the system gives none. Any thread.
std::string HostName();

}  // namespace platform
