// Folders.h on Windows: names are UTF-8 here and UTF-16 to the system.
#include "platform/Folders.h"

#include <windows.h>
// After windows.h, which they need.
#include <shlobj.h>

#include <algorithm>
#include <filesystem>

#include "platform/win/WideText.h"

namespace platform {
namespace {

std::filesystem::path PathOf(const std::string& name) {
    return std::filesystem::path(WideText(name));
}

}  // namespace

std::string CanonicalFolder(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(PathOf(folder), error);
    return error ? std::string() : Utf8Text(canonical.wstring());
}

bool MakeFolders(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(PathOf(folder), error);
    return std::filesystem::is_directory(PathOf(folder), error);
}

bool RemoveFile(const std::string& path) {
    return ::DeleteFileW(WideText(path).c_str()) != 0 ||
           ::GetFileAttributesW(WideText(path).c_str()) == INVALID_FILE_ATTRIBUTES;
}

namespace {

std::string KnownFolder(const KNOWNFOLDERID& id) {
    PWSTR folder = nullptr;
    std::string found;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &folder))) found = Utf8Text(folder);
    ::CoTaskMemFree(folder);  // also when the call failed
    return found;
}

}  // namespace

std::string DocumentsFolder() {
    return KnownFolder(FOLDERID_Documents);
}

std::string UserDataFolder() {
    return KnownFolder(FOLDERID_LocalAppData);
}

std::string InstalledProgramsFolder() {
    return KnownFolder(FOLDERID_ProgramFilesX64);
}

std::string UserDataFileText(const std::string& name) {
    std::string text = "%LOCALAPPDATA%\\" + name;
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

}  // namespace platform
