#include "platform/PortNames.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

std::string VirtualPortFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/kelvo-ports";
    return "/tmp/kelvo-ports-" + std::to_string(::getuid());
}

std::string DevicePathFor(const std::string& name) {
    // A name with a slash would reach outside the folder; such names are device names only.
    if (!name.empty() && name.find('/') == std::string::npos) {
        const std::string entry = VirtualPortFolder() + "/" + name;
        struct stat info {};
        if (::lstat(entry.c_str(), &info) == 0) return entry;
    }
    return "/dev/" + name;
}

}  // namespace platform
