// FileManager.h on Windows: Explorer, asked through the shell; it returns at once.
#include "platform/FileManager.h"

#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>

#include <algorithm>

#include "platform/win/WideText.h"

namespace platform {
namespace {

// Explorer wants backslashes; the layers above write slashes.
std::wstring WindowsPath(const std::string& path) {
    std::wstring wide = WideText(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}

bool Started(HINSTANCE result) {
    return reinterpret_cast<INT_PTR>(result) > 32;  // ShellExecute's own way of saying so
}

}  // namespace

bool IsExistingFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(WideText(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ShowFolderInFileManager(const std::string& folder) {
    return Started(::ShellExecuteW(nullptr, L"explore", WindowsPath(folder).c_str(), nullptr,
                                   nullptr, SW_SHOWNORMAL));
}

bool ShowFileInFileManager(const std::string& file) {
    const std::wstring arguments = L"/select,\"" + WindowsPath(file) + L"\"";
    return Started(::ShellExecuteW(nullptr, L"open", L"explorer.exe", arguments.c_str(), nullptr,
                                   SW_SHOWNORMAL));
}

}  // namespace platform
