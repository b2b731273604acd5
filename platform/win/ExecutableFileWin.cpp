// ExecutableFile.h on Windows: the running executable's path. Its separators are turned into
// slashes, which every Windows call takes too, so that the layers above split paths one way.
// There are no ELF files here; the version block is a resource (VersionBlockWin.cpp).
#include "platform/ExecutableFile.h"

#include <windows.h>

#include <algorithm>

#include "platform/win/WideText.h"

namespace platform {

std::string ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // cut short: try again with more room
    }
    std::string utf8 = Utf8Text(path);
    std::replace(utf8.begin(), utf8.end(), '\\', '/');
    return utf8;
}

bool ReadElfSection(const std::string& /*path*/, const std::string& /*name*/,
                    std::vector<uint8_t>& bytes) {
    bytes.clear();
    return false;
}

}  // namespace platform
