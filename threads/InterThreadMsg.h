#pragma once
// Everything a worker thread tells its receiver (the window, or kelvo-run's loop) travels as a
// message handed to a sink that queues it for the receiver's thread. Nothing is ever sent and
// waited for: the poster goes on at once. The receiver gives its sink to the link it owns
// (device/SerialLink.h) and keeps it until the link's worker has stopped; nothing here is shared
// by the whole process.

#include <cstddef>
#include <cstdint>
#include <memory>

// Notices of the serial link. UM_PORT_CLOSED carries in WParam the errno value that ended the
// connection, 0 for a close that was asked for; the other parameters are 0.
inline constexpr int UM_PORT_OPENED = 1026;
inline constexpr int UM_PORT_CLOSED = 1027;

// The id of the message that carries a copied data block (one reading): in the range of
// registered message ids, apart from every notice.
inline constexpr int SendStringToMainFormMsg = 0xC000;

// A posted thread message: where it is from (the link that posted it: a program with several
// tells its links' messages apart by it), its id and the two parameters. For
// SendStringToMainFormMsg, WParam is the address of the data block and LParam its length; the
// message owns the block, so it is freed on the receiver's thread once the message was handled,
// or dropped.
class TThreadMessage {
  public:
    TThreadMessage(const void* from, int msg, std::uintptr_t wParam, std::intptr_t lParam);
    TThreadMessage(const void* from, int msg, std::unique_ptr<std::byte[]> block, int length);

    const void* From() const { return from_; }
    int Msg() const { return msg_; }
    std::uintptr_t WParam() const { return wParam_; }
    std::intptr_t LParam() const { return lParam_; }
    const void* Block() const { return block_.get(); }

  private:
    std::unique_ptr<std::byte[]> block_;
    const void* from_;
    int msg_;
    std::uintptr_t wParam_;
    std::intptr_t lParam_;
};

// A receiver's queue. Take is called from any thread, in the order the messages were posted
// by each thread, and must not wait for the receiver; false when the message could not be
// queued (it is dropped).
class TMessageSink {
  public:
    virtual ~TMessageSink() = default;
    virtual bool Take(TThreadMessage&& message) = 0;
};
