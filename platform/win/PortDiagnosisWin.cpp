// PortDiagnosis.h on Windows: errors are Windows error numbers. Windows does not show which
// process holds a communications device, nor does a device carry file modes, so the facts that
// the other back end gathers are left empty and the words rest on the error number alone.
#include "platform/PortDiagnosis.h"

#include <windows.h>

#include "platform/SysError.h"

namespace platform {
namespace {

// Missing from MinGW-w64's winerror.h.
constexpr int kNoSuchDevice = 433;

bool IsNotFound(int error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

bool IsDeviceGoneError(int error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_COMMAND:  // USB serial drivers, for a request after a surprise removal
        case ERROR_GEN_FAILURE:
        case ERROR_BROKEN_PIPE:  // the far end hung up
        case kNoSuchDevice:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
            return true;
        default:
            return false;
    }
}

std::vector<PortHolder> PortHolders(const std::string&) {
    return {};
}

bool IsProcessRunning(const std::string&) {
    return false;
}

NodeAccess AccessOfNode(const std::string&) {
    return {};
}

std::string WordPortError(const PortFacts& facts) {
    const std::string& name = facts.name;
    switch (facts.error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            // A port takes one program at a time. The same number on an open port is what the
            // USB serial drivers give once their adapter was pulled.
            return name +
                   " is in use by another program, or its adapter was unplugged while it was "
                   "open. Close the program that holds it (a terminal, another window of this "
                   "console) or plug the adapter in again, then connect.";
        case ERROR_INVALID_NAME:
            return name + " is not a serial port name that Windows accepts.";
        default:
            break;
    }
    if (IsNotFound(facts.error)) {
        return name +
               " is not there: its adapter is unplugged, or Windows gave it another COM number. "
               "Plug it in, or pick the port again from the list.";
    }
    if (IsDeviceGoneError(facts.error)) {
        return name +
               " is gone: the adapter was unplugged or stopped answering, or the program behind "
               "the port ended. Plug it in again and connect.";
    }
    std::string message =
        facts.error >= 0 ? SysErrorMessage(static_cast<uint32_t>(facts.error)) : std::string();
    if (message.empty()) message = "unknown system error";
    return name + ": " + message + " (error " + std::to_string(facts.error) + ").";
}

std::string ExplainPortError(const std::string& name, const std::string& devicePath, int error) {
    PortFacts facts;
    facts.name = name;
    facts.devicePath = devicePath;
    facts.error = error;
    return WordPortError(facts);
}

}  // namespace platform
