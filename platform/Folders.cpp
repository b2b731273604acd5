// Folders.h on Linux; the file system calls through std::filesystem, whose paths are the bytes
// of the names here.
#include "platform/Folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace platform {
namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

// The value of XDG_DOCUMENTS_DIR in the user-dirs file, "$HOME" replaced; "" when not set.
std::string XdgDocumentsFolder(const std::string& home) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string configFolder =
        config != nullptr && config[0] == '/' ? std::string(config) : home + "/.config";
    std::ifstream dirs(configFolder + "/user-dirs.dirs");
    const std::string key = "XDG_DOCUMENTS_DIR=";
    std::string line;
    while (std::getline(dirs, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (value.compare(0, 5, "$HOME") == 0) value.replace(0, 5, home);
        return value;
    }
    return {};
}

}  // namespace

std::string CanonicalFolder(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(folder, error);
    return error ? std::string() : canonical.string();
}

bool MakeFolders(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

bool RemoveFile(const std::string& path) {
    std::error_code error;
    std::filesystem::remove(path, error);
    return !std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

std::string UserDataFolder() {
    // The XDG rule: a relative XDG_DATA_HOME is ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
        return data;
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] != '\0' ? std::string(home) + "/.local/share"
                                               : ".local/share";
}

std::string InstalledProgramsFolder() {
    return {};
}

std::string UserDataFileText(const std::string& name) {
    return "$XDG_DATA_HOME/" + name + " (~/.local/share/" + name + ")";
}

std::string DocumentsFolder() {
    const std::string home = HomeFolder();
    if (const std::string xdg = XdgDocumentsFolder(home); !xdg.empty()) return xdg;
    return home.empty() ? std::string() : home + "/Documents";
}

}  // namespace platform
