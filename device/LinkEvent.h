#pragma once
// What a tester's link tells its receiver, as typed events: the port opened, the port closed (and
// why), a reading taken, a command carried out. Between the threads each event travels as a
// TThreadMessage that the link posts through its sink, in the order the events happened; the
// receiver reads the event back with LinkEventOf and never looks at message ids, parameters or
// block sizes.

#include <optional>
#include <variant>

#include "device/DeviceReading.h"
#include "threads/InterThreadMsg.h"

// The message id of TCommandDone, beside the port notices of threads/InterThreadMsg.h.
inline constexpr int UM_COMMAND_DONE = 1028;

struct TPortOpened {};
// Error: 0 for a close that was asked for, else the errno value that ended the connection (or
// that the failed open met).
struct TPortClosed {
    int Error = 0;
};
struct TReadingTaken {
    TDeviceReading Reading;
};
// A command of kinds 1 to 5 was carried out on the open port before the next poll (On: its value
// was not 0). A reading that follows it was requested after the command reached the tester.
struct TCommandDone {
    int Kind = 0;
    bool On = false;
};

using TLinkEvent = std::variant<TPortOpened, TPortClosed, TReadingTaken, TCommandDone>;

// The message that carries `event` from the link `from`.
TThreadMessage LinkMessage(const void* from, const TLinkEvent& event);
// The event that `message` carries; none for any other message (another id, or a block that is
// no reading).
std::optional<TLinkEvent> LinkEventOf(const TThreadMessage& message);
