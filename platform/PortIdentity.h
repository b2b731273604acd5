#pragma once
// What a port is, as udev knows it: which adapter, in which socket. Used to recognise an adapter
// that comes back after a hang-up, perhaps under a new name (ttyUSB0 replugged while the old
// descriptor was still open comes back as ttyUSB1), and to tell the operator what a port is.
// Stateless; callable from any thread.

#include <string>

namespace platform {

struct PortIdentity {
    std::string idPath;    // udev ID_PATH: the physical socket; empty when unknown
    std::string idSerial;  // udev ID_SERIAL, only when the adapter reports a serial number of its
                           // own (ID_SERIAL_SHORT): without one, ID_SERIAL is just vendor and
                           // model, shared by every adapter of the kind; empty otherwise
    std::string vendor;    // ID_VENDOR_FROM_DATABASE, else ID_VENDOR; empty when unknown
    std::string product;   // ID_MODEL_FROM_DATABASE, else ID_MODEL; empty when unknown
};

// udev's view of the terminal `name` (a bare name, /sys/class/tty/<name>). All fields are empty
// for a port with no udev device (virtual ports, pseudo-terminals), for a name that is not a bare
// name, and where udev keeps no database (containers).
PortIdentity IdentityOfPort(const std::string& name);

// Whether `a` and `b` are the same adapter: equal serials when both have one; otherwise equal
// sockets when both have one; false when neither can be compared.
inline bool SameAdapter(const PortIdentity& a, const PortIdentity& b) {
    if (!a.idSerial.empty() && !b.idSerial.empty()) return a.idSerial == b.idSerial;
    return !a.idPath.empty() && a.idPath == b.idPath;
}

}  // namespace platform
