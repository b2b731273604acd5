// SleepLock.h on Linux: a "block" lock on "sleep" from the login manager over the system bus.
#include "platform/SleepLock.h"

#include "platform/SleepInhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <utility>

#include "platform/DebugOutput.h"
#include "platform/SysError.h"

namespace platform {
namespace {

constexpr char kWho[] = "Kelvo console";

std::string ErrnoText(int error) {
    const std::string text = SysErrorMessage(static_cast<uint32_t>(error));
    return text.empty() ? "error " + std::to_string(error) : text;
}

// What came of the one Inhibit call; filled by its reply handler.
struct InhibitCall {
    bool answered = false;
    int lock = -1;        // our own duplicate of the descriptor in the answer
    std::string failure;  // why there is no lock, once answered without one
};

int OnInhibitReply(sd_bus_message* reply, void* userdata, sd_bus_error* /*unused*/) {
    InhibitCall& call = *static_cast<InhibitCall*>(userdata);
    call.answered = true;
    if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
        call.failure = std::string("Inhibit failed: ") +
                       (error->name != nullptr ? error->name : "") + ": " +
                       (error->message != nullptr ? error->message : "");
        return 0;
    }
    int fd = -1;
    const int r = sd_bus_message_read(reply, "h", &fd);
    if (r < 0) {
        call.failure = "unexpected answer from the login manager: " + ErrnoText(-r);
        return 0;
    }
    // The answer owns `fd` and closes it when freed. Our duplicate stays off 0..2 in case one of
    // those is closed, and is not inherited by programs started later.
    call.lock = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (call.lock < 0) call.failure = "cannot keep the lock's descriptor: " + ErrnoText(errno);
    return 0;
}

// A connection of our own, closed without flushing: nothing is left to send once we are done,
// and a flush could wait on a bus that stopped reading.
struct Connection {
    sd_bus* bus = nullptr;
    sd_bus_slot* slot = nullptr;  // the pending call; unreferenced first, so no late callback
    ~Connection() {
        sd_bus_slot_unref(slot);
        sd_bus_close_unref(bus);
    }
};

// Returns the lock's descriptor, or -1 with `failure` said.
}  // namespace

int TakeSleepLock(const std::string& why, std::string& failure) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + kSleepLockCallBound;
    const auto boundUs =
        std::chrono::duration_cast<std::chrono::microseconds>(kSleepLockCallBound).count();

    // Connects without waiting: a socket that is not there fails here. Authentication and the
    // bus's greeting are left to the loop below, under the same deadline as the call.
    Connection connection;
    int r = sd_bus_open_system(&connection.bus);
    if (r < 0) {
        failure = "no system bus: " + ErrnoText(-r);
        return -1;
    }
    sd_bus_set_method_call_timeout(connection.bus, static_cast<uint64_t>(boundUs));
    InhibitCall call;
    r = sd_bus_call_method_async(connection.bus, &connection.slot, "org.freedesktop.login1",
                                 "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                 "Inhibit", OnInhibitReply, &call, "ssss", "sleep", kWho,
                                 why.c_str(), "block");
    if (r < 0) {
        failure = "cannot call the login manager: " + ErrnoText(-r);
        return -1;
    }
    while (!call.answered) {
        r = sd_bus_process(connection.bus, nullptr);
        if (r < 0) {
            failure = "the system bus connection failed: " + ErrnoText(-r);
            return -1;
        }
        if (call.answered) break;
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            failure = "no answer from the login manager within " +
                      std::to_string(kSleepLockCallBound.count()) + " ms";
            return -1;
        }
        if (r > 0) continue;  // more may be ready at once
        r = sd_bus_wait(connection.bus,
                        static_cast<uint64_t>(
                            std::chrono::duration_cast<std::chrono::microseconds>(left).count()) +
                            1);
        if (r < 0 && r != -EINTR) {
            failure = "waiting on the system bus failed: " + ErrnoText(-r);
            return -1;
        }
    }
    if (call.lock < 0) failure = call.failure;
    return call.lock;
}

void GiveSleepLockBack(int lock) {
    close(lock);
}

}  // namespace platform
