#include "platform/PortDiagnosis.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/SysError.h"

namespace platform {
namespace {

// ---- processes -------------------------------------------------------------------------------

// The pids in /proc other than the calling process's, ascending.
std::vector<int> OtherProcessIds() {
    std::vector<int> pids;
    DIR* listing = ::opendir("/proc");
    if (listing == nullptr) return pids;
    const int self = static_cast<int>(::getpid());
    while (const dirent* entry = ::readdir(listing)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0 || pid == self) continue;
        pids.push_back(static_cast<int>(pid));
    }
    ::closedir(listing);
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::string ProcessName(int pid) {
    std::string name;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::getline(comm, name);
    return name;
}

// The target of a /proc link, without the " (deleted)" that marks a file replaced since.
std::string LinkTarget(const std::string& link) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
        if (length < 0) return {};
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            break;
        }
        target.resize(target.size() * 2);
    }
    const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() &&
        target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0) {
        target.resize(target.size() - deleted.size());
    }
    return target;
}

// The executable at the same path, also one installed over it since (a window started before the
// program was updated is still a window of this console). By the link's text alone: following
// it to another process's file could hang on a network mount that is gone.
bool RunsThisProgram(int pid) {
    const std::string path = LinkTarget("/proc/" + std::to_string(pid) + "/exe");
    return !path.empty() && path == LinkTarget("/proc/self/exe");
}

// Device nodes are the same device when their device numbers match, whatever node was opened;
// other files when they are the same inode.
bool SameFile(const struct stat& a, const struct stat& b) {
    const auto isDevice = [](const struct stat& s) {
        return S_ISCHR(s.st_mode) || S_ISBLK(s.st_mode);
    };
    if (isDevice(a) || isDevice(b)) {
        return (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) && a.st_rdev == b.st_rdev;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool HoldsOpen(int pid, const struct stat& target) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return false;  // another user's process, or ended meanwhile
    bool found = false;
    while (const dirent* entry = ::readdir(listing)) {
        if (entry->d_name[0] == '.') continue;
        // Only what the descriptor's link names under /dev is looked at: a stat of the descriptor
        // itself would follow it to whatever file the process has open, and hang on a network
        // mount that is gone.
        const std::string opened = LinkTarget(folder + "/" + entry->d_name);
        struct stat node {};
        if (opened.starts_with("/dev/") && ::stat(opened.c_str(), &node) == 0 &&
            SameFile(node, target)) {
            found = true;
            break;
        }
    }
    ::closedir(listing);
    return found;
}

// ---- users and groups ------------------------------------------------------------------------

// Calls a getpwuid_r-like `lookup(buffer, size)` with a buffer that grows while it is too small.
template <typename Lookup>
void WithGrowingBuffer(Lookup lookup) {
    std::vector<char> buffer(1024);
    while (lookup(buffer.data(), buffer.size()) == ERANGE && buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
}

struct Account {
    std::string name;  // login name, or the uid's number when the user database has none
    gid_t group = 0;   // primary group
    bool known = false;
};

Account AccountOf(uid_t uid) {
    Account account{std::to_string(uid), 0, false};
    WithGrowingBuffer([&](char* buffer, size_t size) {
        passwd entry{};
        passwd* found = nullptr;
        const int result = ::getpwuid_r(uid, &entry, buffer, size, &found);
        if (found != nullptr) account = {found->pw_name, found->pw_gid, true};
        return result;
    });
    return account;
}

std::string GroupName(gid_t gid) {
    std::string name = std::to_string(gid);
    WithGrowingBuffer([&](char* buffer, size_t size) {
        group entry{};
        group* found = nullptr;
        const int result = ::getgrgid_r(gid, &entry, buffer, size, &found);
        if (found != nullptr) name = found->gr_name;
        return result;
    });
    return name;
}

// The groups the user database gives the account: its primary group and every group that lists
// it. A user added to a group has it here at once.
std::vector<gid_t> AccountGroups(const Account& account) {
    std::vector<gid_t> groups(32);
    for (;;) {
        int count = static_cast<int>(groups.size());
        if (::getgrouplist(account.name.c_str(), account.group, groups.data(), &count) >= 0) {
            groups.resize(static_cast<size_t>(count));
            return groups;
        }
        // count now holds the number needed.
        groups.resize(std::max(static_cast<size_t>(count), groups.size() * 2));
    }
}

// The groups this process has: fixed when the login session started.
std::vector<gid_t> SessionGroups() {
    std::vector<gid_t> groups{::getegid()};
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> supplementary(static_cast<size_t>(count));
        const int got = ::getgroups(count, supplementary.data());
        if (got > 0) {
            groups.insert(groups.end(), supplementary.begin(), supplementary.begin() + got);
        }
    }
    return groups;
}

bool Contains(const std::vector<gid_t>& groups, gid_t gid) {
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// ---- wording ---------------------------------------------------------------------------------

std::string Octal(unsigned mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777);
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Read and write bits for owner (shift 6), group (3) or others (0).
bool GrantsReadWrite(unsigned mode, int shift) {
    return ((mode >> shift) & 06) == 06;
}

// Whether the node's mode alone lets the user open it for reading and writing. As the kernel
// decides: the owner's bits for the owner, else the group's for a member, else the others'.
bool ModeLetsUserIn(const NodeAccess& access) {
    if (access.superuser) return true;
    if (access.userIsOwner) return GrantsReadWrite(access.mode, 6);
    if (access.membership == GroupMembership::kSession) return GrantsReadWrite(access.mode, 3);
    return GrantsReadWrite(access.mode, 0);
}

std::string WordPermission(const PortFacts& facts) {
    const NodeAccess& a = facts.access;
    const std::string& path = facts.devicePath;
    if (!a.known) return "Permission denied: " + path + ".";
    const std::string node =
        path + " (owner " + a.owner + ", group " + a.group + ", mode " + Octal(a.mode) + ")";
    if (ModeLetsUserIn(a)) {
        return "Permission denied: " + node +
               " lets this user read and write it, so something other than its mode refuses "
               "the access: a security module such as AppArmor or SELinux, or the device rules "
               "of a container or sandbox.";
    }
    if (a.userIsOwner) {
        return "Permission denied: " + node + " does not let its owner, the user " + a.user +
               ", read and write it.";
    }
    if (GrantsReadWrite(a.mode, 3)) {
        if (a.membership == GroupMembership::kNone) {
            const std::string command = "sudo usermod -aG " + a.group + " " + a.user;
            return "Permission denied: " + path + " belongs to the group " + a.group +
                   ", and the user " + a.user + " is not in it. Add the user with: " + command +
                   " — then log out and log in again.";
        }
        return "Permission denied: the user " + a.user + " was added to the group " + a.group +
               ", but this login session started before that. Log out and log in again.";
    }
    // Joining the group would not help: its bits do not allow it either.
    std::string text =
        "Permission denied: " + node + " does not let the group " + a.group + " read and write it.";
    if (StartsWith(path, "/dev/") && !StartsWith(path, "/dev/pts/")) {
        text += " A udev rule that gives the device MODE=\"0660\" lets the group in.";
    }
    return text;
}

// The holder to name: another window of this console first, then ModemManager, then the first.
std::string WordBusy(const PortFacts& facts) {
    const std::string& name = facts.name;
    const auto& holders = facts.holders;
    if (holders.empty()) {
        const std::string look = "as root: fuser -v " + facts.devicePath;
        return name + " is busy: another program holds it open (which one cannot be seen from " +
               "this account; " + look + ").";
    }
    const auto same = std::find_if(holders.begin(), holders.end(),
                                   [](const PortHolder& h) { return h.sameProgram; });
    if (same != holders.end()) {
        return name + " is in use by another window of this console (process " +
               std::to_string(same->pid) + "). Disconnect it there first.";
    }
    const auto modemManager = std::find_if(holders.begin(), holders.end(), [](const PortHolder& h) {
        return h.name == "ModemManager";
    });
    if (modemManager != holders.end()) {
        return name + " is busy: ModemManager (process " + std::to_string(modemManager->pid) +
               ") is probing it, as it does for a few seconds after a serial adapter appears. "
               "Wait a moment and connect again; to keep ModemManager away from the port for "
               "good, give the adapter the udev property ID_MM_DEVICE_IGNORE=1, or stop it "
               "with: sudo systemctl stop ModemManager.";
    }
    const PortHolder& first = holders.front();
    std::string text = name + " is busy: it is held by " +
                       (first.name.empty() ? std::string("a program") : first.name) + " (process " +
                       std::to_string(first.pid) + ")";
    if (holders.size() > 1) text += " and " + std::to_string(holders.size() - 1) + " more";
    return text + ". Close that program and connect again.";
}

std::string WordGone(const PortFacts& facts) {
    std::string text = facts.name +
                       " is gone: the adapter was unplugged or renumbered, or the program behind "
                       "the port ended.";
    if (facts.brlttyRunning && StartsWith(facts.name, "ttyUSB")) {
        text +=
            " brltty is running and may have claimed the adapter (it does so for some USB "
            "serial chips); remove it or disable its udev rules if you do not use a braille "
            "display.";
    }
    return text;
}

std::string WordOther(const PortFacts& facts) {
    std::string message =
        facts.error >= 0 ? SysErrorMessage(static_cast<uint32_t>(facts.error)) : std::string();
    if (message.empty()) message = "unknown system error";
    return facts.name + ": " + message + " (error " + std::to_string(facts.error) + ").";
}

}  // namespace

bool IsDeviceGoneError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == ENOENT;
}

std::vector<PortHolder> PortHolders(const std::string& devicePath) {
    std::vector<PortHolder> holders;
    struct stat target {};
    if (::stat(devicePath.c_str(), &target) != 0) return holders;
    for (const int pid : OtherProcessIds()) {
        if (!HoldsOpen(pid, target)) continue;
        holders.push_back({pid, ProcessName(pid), RunsThisProgram(pid)});
    }
    return holders;
}

bool IsProcessRunning(const std::string& name) {
    for (const int pid : OtherProcessIds()) {
        if (ProcessName(pid) == name) return true;
    }
    return false;
}

NodeAccess AccessOfNode(const std::string& devicePath) {
    NodeAccess access;
    struct stat node {};
    if (::stat(devicePath.c_str(), &node) != 0) return access;
    const uid_t self = ::geteuid();
    const Account account = AccountOf(self);
    const Account owner = AccountOf(node.st_uid);
    const bool inSession = Contains(SessionGroups(), node.st_gid);
    // Without an entry in the user database the session's groups are all that is known.
    const bool inAccount =
        account.known ? Contains(AccountGroups(account), node.st_gid) : inSession;
    access.known = true;
    access.owner = owner.name;
    access.group = GroupName(node.st_gid);
    access.mode = node.st_mode & 07777;
    access.user = account.name;
    access.userIsOwner = node.st_uid == self;
    access.superuser = self == 0;
    access.membership = inSession   ? GroupMembership::kSession
                        : inAccount ? GroupMembership::kAccountOnly
                                    : GroupMembership::kNone;
    return access;
}

std::string WordPortError(const PortFacts& facts) {
    if (facts.error == EACCES || facts.error == EPERM) return WordPermission(facts);
    if (facts.error == EBUSY) return WordBusy(facts);
    if (IsDeviceGoneError(facts.error)) return WordGone(facts);
    return WordOther(facts);
}

std::string ExplainPortError(const std::string& name, const std::string& devicePath, int error) {
    PortFacts facts;
    facts.name = name;
    facts.devicePath = devicePath;
    facts.error = error;
    if (error == EACCES || error == EPERM) {
        facts.access = AccessOfNode(devicePath);
    } else if (error == EBUSY) {
        facts.holders = PortHolders(devicePath);
    } else if (IsDeviceGoneError(error) && StartsWith(name, "ttyUSB")) {
        facts.brlttyRunning = IsProcessRunning("brltty");
    }
    return WordPortError(facts);
}

}  // namespace platform
