#include "platform/VirtualPorts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "platform/PortNames.h"

namespace platform {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// The target of the link at `path`, or empty when it is no link.
std::string LinkTarget(const std::string& path) {
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<size_t>(length) >= target.size()) return {};
    target.resize(static_cast<size_t>(length));
    return target;
}

// A link whose target no longer exists.
bool IsDanglingLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return false;
    return ::stat(path.c_str(), &info) != 0 && errno == ENOENT;
}

}  // namespace

bool IsValidPortName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool IsPrivateFolder(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

void EnsureVirtualPortFolder() {
    const std::string folder = VirtualPortFolder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) ThrowErrno("mkdir " + folder);
    if (!IsPrivateFolder(folder)) {
        throw std::runtime_error(folder + ": not a folder that only this user can change");
    }
}

PublishedPort::PublishedPort(const std::string& name, const std::string& target) : target_(target) {
    if (!IsValidPortName(name)) throw std::invalid_argument("invalid port name: \"" + name + '"');
    EnsureVirtualPortFolder();
    path_ = VirtualPortFolder() + "/" + name;
    if (::symlink(target.c_str(), path_.c_str()) == 0) return;
    if (errno != EEXIST) ThrowErrno("symlink " + path_);
    // A stale link is one whose target is gone, or one that already points at this terminal: the
    // number of a terminal that closed is given to the next one opened, so a publisher that was
    // killed leaves a link to the terminal that its successor now holds.
    if (!IsDanglingLink(path_) && LinkTarget(path_) != target) {
        throw std::runtime_error(path_ + ": the name is in use");
    }
    // Take its place, removed and made again so that watchers see the port come back. A
    // publisher racing for the same name wins or loses here.
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) ThrowErrno("unlink " + path_);
    if (::symlink(target.c_str(), path_.c_str()) == 0) return;
    if (errno == EEXIST) throw std::runtime_error(path_ + ": the name is in use");
    ThrowErrno("symlink " + path_);
}

PublishedPort::~PublishedPort() {
    if (LinkTarget(path_) == target_) ::unlink(path_.c_str());
}

}  // namespace platform
