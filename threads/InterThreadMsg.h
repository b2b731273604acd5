#pragma once
// Everything the worker thread tells the window travels as an event posted to the application
// object, on the thread that runs the application's event loop (the window's thread). Nothing is
// ever sent and waited for: the poster goes on at once.

#include <QEvent>
#include <cstddef>
#include <cstdint>
#include <memory>

// Notices of the serial link. UM_PORT_CLOSED carries in WParam the errno value that ended the
// connection, 0 for a close that was asked for; the other parameters are 0.
inline constexpr int UM_PORT_OPENED = 1026;
inline constexpr int UM_PORT_CLOSED = 1027;

// The registered id of the message that carries a copied data block (one reading). Taken once,
// before main() runs, and never changed.
extern const int SendStringToMainFormMsg;

// A posted thread message: its id is the event type; WParam and LParam are the two parameters.
// For SendStringToMainFormMsg, WParam is the address of the data block and LParam its length;
// the event owns the block, so it is freed on the window's thread once the event was handled,
// or dropped.
class TThreadMessage : public QEvent {
  public:
    TThreadMessage(int msg, std::uintptr_t wParam, std::intptr_t lParam);
    TThreadMessage(int msg, std::unique_ptr<std::byte[]> block, int length);

    int Msg() const { return static_cast<int>(type()); }
    std::uintptr_t WParam() const { return wParam_; }
    std::intptr_t LParam() const { return lParam_; }
    const void* Block() const { return block_.get(); }

  private:
    std::unique_ptr<std::byte[]> block_;
    std::uintptr_t wParam_;
    std::intptr_t lParam_;
};

// The posted thread message that `event` is, or null; for the receiving filter. Call this before
// touching the event in any other way: it also tells ThreadSanitizer that the message was handed
// over through the application's event queue, whose lock it cannot see.
const TThreadMessage* AsThreadMessage(const QEvent* event);

// Posts a message to the window's thread. Callable from any thread; false when there is no
// application object to receive it.
bool PostToMainThread(int msg, std::uintptr_t wParam, std::intptr_t lParam);

// How many messages have been posted since the program started (a diagnostic: each one must
// reach the window's thread exactly once).
std::uint64_t PostedMessageCount();

// Posts a copy of `len` bytes at `data` with SendStringToMainFormMsg. Nothing happens when `len`
// is 0 or negative. Callable from any thread.
void PostBlockToMainThread(const void* data, int len);
