#include "device/LinkEvent.h"

#include <cstring>
#include <memory>

#include "support/Overloaded.h"

TThreadMessage LinkMessage(const void* from, const TLinkEvent& event) {
    return std::visit(
        TOverloaded{
            [from](const TPortOpened&) {
                return TThreadMessage(from, UM_PORT_OPENED, std::uintptr_t{0}, std::intptr_t{0});
            },
            [from](const TPortClosed& closed) {
                return TThreadMessage(from, UM_PORT_CLOSED,
                                      static_cast<std::uintptr_t>(closed.Error), std::intptr_t{0});
            },
            [from](const TReadingTaken& taken) {
                // The block is the message's own copy, freed on the receiver's thread with it.
                auto copy = std::make_unique<std::byte[]>(sizeof taken.Reading);
                std::memcpy(copy.get(), &taken.Reading, sizeof taken.Reading);
                return TThreadMessage(from, SendStringToMainFormMsg, std::move(copy),
                                      sizeof taken.Reading);
            },
            [from](const TCommandDone& done) {
                return TThreadMessage(from, UM_COMMAND_DONE, static_cast<std::uintptr_t>(done.Kind),
                                      done.On ? 1 : 0);
            },
        },
        event);
}

std::optional<TLinkEvent> LinkEventOf(const TThreadMessage& message) {
    switch (message.Msg()) {
        case UM_PORT_OPENED:
            return TPortOpened{};
        case UM_PORT_CLOSED:
            return TPortClosed{static_cast<int>(message.WParam())};
        case UM_COMMAND_DONE:
            return TCommandDone{static_cast<int>(message.WParam()), message.LParam() != 0};
        case SendStringToMainFormMsg: {
            TReadingTaken taken{};
            if (message.Block() == nullptr || message.LParam() != sizeof taken.Reading) break;
            std::memcpy(&taken.Reading, message.Block(), sizeof taken.Reading);
            return taken;
        }
        default:
            break;
    }
    return std::nullopt;
}
