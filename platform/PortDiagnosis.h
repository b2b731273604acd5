#pragma once
// Why a serial port could not be opened, or why an open line ended, in words for the operator at
// the bench, with what to do about it. The window and the command-line runner show these texts
// as they are: complete English sentences, no trailing newline.
//
// The facts come from the running system (the device node, the user's groups, the processes in
// /proc) through small functions; WordPortError turns facts into text without looking at the
// system, so every case can be worded without a real permission problem. Nothing here keeps
// state: every function may be called from any thread.

#include <string>
#include <vector>

namespace platform {

// Whether `error` (an errno value) means the device behind a port is gone: EIO, ENXIO, ENODEV,
// ENOENT.
bool IsDeviceGoneError(int error);

// A process that holds a device open.
struct PortHolder {
    int pid = 0;
    std::string name;          // /proc/<pid>/comm; empty when it could not be read
    bool sameProgram = false;  // runs the same executable as the calling process
};

// The processes other than the calling one that hold `devicePath` open, in pid order. The path
// is followed through symbolic links; a descriptor counts when it leads to the same device (the
// same device number for a device node, the same inode otherwise). Processes whose descriptors
// cannot be read (other users' when not root) are skipped: an empty result means "none that can
// be seen".
std::vector<PortHolder> PortHolders(const std::string& devicePath);

// Whether a process other than the calling one is named `name` (its /proc/<pid>/comm).
bool IsProcessRunning(const std::string& name);

// How the user stands with the group that owns a device node.
enum class GroupMembership {
    kNone,         // neither the account nor this login session is in the group
    kAccountOnly,  // the account is, but this login session started before it was added
    kSession,      // this login session is (the process has the group)
};

// A device node and the user who failed to open it, as they bear on a permission error.
struct NodeAccess {
    bool known = false;  // false: the node could not be examined, the fields below are empty
    std::string owner;   // the node's owner, by name (by number when it has none)
    std::string group;   // the node's group, likewise
    unsigned mode = 0;   // the node's permission bits, e.g. 0660
    std::string user;    // the effective user's login name (number when it has none)
    bool userIsOwner = false;
    bool superuser = false;  // effective user 0, to whom file modes do not apply
    GroupMembership membership = GroupMembership::kNone;
};

// The node at `devicePath` (links followed) and the calling process's effective user. The
// account's groups come from the user database, the session's from the process itself.
NodeAccess AccessOfNode(const std::string& devicePath);

// What is known about a failed open or an ended line of one port.
struct PortFacts {
    std::string name;                 // bare port name, e.g. ttyUSB0 or ttyKELVO0
    std::string devicePath;           // what was opened, e.g. /dev/ttyUSB0
    int error = 0;                    // errno value
    NodeAccess access;                // for EACCES and EPERM
    std::vector<PortHolder> holders;  // for EBUSY, in pid order
    bool brlttyRunning = false;       // for the errors of a device that is gone
};

// The operator's text for `facts`; uses only the fields that bear on `facts.error`.
std::string WordPortError(const PortFacts& facts);

// Explains `error` (errno value) from opening port `name` at `devicePath`, or from its line while
// connected: gathers the facts that bear on the error and words them.
std::string ExplainPortError(const std::string& name, const std::string& devicePath, int error);

}  // namespace platform
