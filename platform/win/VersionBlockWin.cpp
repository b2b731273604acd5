// VersionBlock.h on Windows: the VERSIONINFO resource of the running executable (windres puts it
// there from cmake/KelvoVersion.rc.in).
#include "platform/VersionBlock.h"

#include <windows.h>

#include "platform/win/WideText.h"

namespace platform {

bool QueryOwnVersionValue(const std::string& path, std::vector<uint8_t>& value) {
    wchar_t exe[MAX_PATH * 4] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4) return false;
    const DWORD size = ::GetFileVersionInfoSizeW(exe, nullptr);
    if (size == 0) return false;
    std::vector<uint8_t> block(size);
    if (!::GetFileVersionInfoW(exe, 0, size, block.data())) return false;
    void* found = nullptr;
    UINT count = 0;  // bytes for the translation list, characters with the null for a text
    if (!::VerQueryValueW(block.data(), WideText(path).c_str(), &found, &count) ||
        found == nullptr) {
        return false;
    }
    if (path.rfind("\\StringFileInfo\\", 0) != 0) {
        const auto* bytes = static_cast<const uint8_t*>(found);
        value.assign(bytes, bytes + count);
        return true;
    }
    const std::wstring text(static_cast<const wchar_t*>(found), count > 0 ? count - 1 : 0);
    const std::string utf8 = Utf8Text(text.substr(0, text.find(L'\0')));
    value.assign(utf8.begin(), utf8.end());
    value.push_back(0);
    return true;
}

}  // namespace platform
