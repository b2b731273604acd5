// A stand-in login manager for tests of the sleep lock: takes org.freedesktop.login1 on the bus
// at argv[1] and serves Manager.Inhibit. Each lock granted is one end of a fresh pipe; the other
// end stays here, so the service sees when the lock's last copy is closed.
//
//   login1-stand-in <bus address> [--refuse | --silent]
//
// --refuse answers every Inhibit with AccessDenied; --silent never answers. One line per event
// on standard output, flushed at once, for the test to wait on:
//   ready                                       the name is ours
//   inhibit <n>\t<what>\t<who>\t<why>\t<mode>   call n arrived (before it is answered)
//   released <n>                                lock n is closed everywhere
// Runs until it is killed or the bus goes away.

#include <fcntl.h>
#include <sys/epoll.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Mode { kGrant, kRefuse, kSilent };

struct Service {
    Mode mode = Mode::kGrant;
    sd_event* event = nullptr;
    int calls = 0;
    std::vector<sd_bus_message*> unanswered;  // --silent: kept so that no error goes back
};

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

int OnLockClosed(sd_event_source* source, int fd, uint32_t /*events*/, void* userdata) {
    char byte = 0;
    if (read(fd, &byte, 1) != 0) return 0;  // nobody writes: only the end (0) counts
    Say("released " + std::to_string(reinterpret_cast<intptr_t>(userdata)));
    sd_event_source_disable_unref(source);  // closes our end too
    return 0;
}

int OnInhibit(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    Service& service = *static_cast<Service*>(userdata);
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    int r = sd_bus_message_read(call, "ssss", &what, &who, &why, &mode);
    if (r < 0) return r;
    const int n = ++service.calls;
    Say("inhibit " + std::to_string(n) + "\t" + what + "\t" + who + "\t" + why + "\t" + mode);

    switch (service.mode) {
        case Mode::kRefuse:
            return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "Permission denied");
        case Mode::kSilent:
            service.unanswered.push_back(sd_bus_message_ref(call));
            return 1;
        case Mode::kGrant:
            break;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) < 0) return -errno;
    sd_event_source* watch = nullptr;
    r = sd_event_add_io(service.event, &watch, ends[0], EPOLLIN, OnLockClosed,
                        reinterpret_cast<void*>(static_cast<intptr_t>(n)));
    if (r < 0) return r;
    sd_event_source_set_io_fd_own(watch, 1);
    // The answer carries a copy of the write end; ours goes at once, so the caller's is the last.
    r = sd_bus_reply_method_return(call, "h", ends[1]);
    close(ends[1]);
    return r;
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", OnInhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

int Fail(const char* what, int r) {
    std::fprintf(stderr, "login1-stand-in: %s: %s\n", what, std::strerror(-r));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: login1-stand-in <bus address> [--refuse | --silent]\n");
        return 2;
    }
    Service service;
    if (argc == 3) {
        if (std::strcmp(argv[2], "--refuse") == 0) {
            service.mode = Mode::kRefuse;
        } else if (std::strcmp(argv[2], "--silent") == 0) {
            service.mode = Mode::kSilent;
        } else {
            std::fprintf(stderr, "login1-stand-in: unknown option %s\n", argv[2]);
            return 2;
        }
    }

    int r = sd_event_default(&service.event);
    if (r < 0) return Fail("no event loop", r);
    sd_bus* bus = nullptr;
    if ((r = sd_bus_new(&bus)) < 0) return Fail("no bus object", r);
    if ((r = sd_bus_set_address(bus, argv[1])) < 0) return Fail("bad address", r);
    sd_bus_set_bus_client(bus, 1);
    if ((r = sd_bus_start(bus)) < 0) return Fail("cannot connect", r);
    r = sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager", kManager, &service);
    if (r < 0) return Fail("cannot serve the manager", r);
    if ((r = sd_bus_request_name(bus, "org.freedesktop.login1", 0)) < 0) {
        return Fail("cannot take the name", r);
    }
    if ((r = sd_bus_attach_event(bus, service.event, 0)) < 0) return Fail("cannot attach", r);
    sd_bus_set_exit_on_disconnect(bus, 1);
    Say("ready");
    r = sd_event_loop(service.event);
    return r < 0 ? Fail("event loop failed", r) : 0;
}
