#pragma once
// The device side of a pseudo-terminal pair, for the tester simulator.
//
// The simulator reads requests from the master and writes answers to it; the console opens
// SlavePath() like any serial port. The pair is in raw mode (no echo, no line processing). One
// slave descriptor stays open inside this object, so the master never sees a hang-up while the
// console has its side closed; only Close() makes the terminal vanish for the console.
//
// Waits use plain ppoll(2) (microsecond deadlines for pacing bytes at the higher baud rates): the
// simulator's threads are not stoppable the platform way, so a wait is ended with Wake() instead.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class PseudoTerminal {
  public:
    // Opens a new pair; throws std::system_error when the system refuses.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // The terminal the console opens, e.g. /dev/pts/7.
    const std::string& SlavePath() const { return slavePath_; }
    bool IsOpen() const { return master_ >= 0; }

    // Waits at most `timeout` (negative: without limit) for bytes from the console, then reads
    // what is there, at most `capacity` bytes. Returns the count read; 0 on time-out, on Wake()
    // or once closed; -1 when the terminal fails. Read and Write may run on two threads at
    // once; Close must run alone.
    long Read(uint8_t* buffer, size_t capacity, std::chrono::microseconds timeout);

    // Writes without blocking; bytes that find no room in the terminal's queue (a console that
    // reads nothing) are dropped. Returns the count written.
    size_t Write(const uint8_t* data, size_t count);

    // Ends the current or the next Read() early. Callable from any thread.
    void Wake();

    // The terminal goes away: the console's descriptor sees a hang-up, its reads end and its
    // writes fail. Reads after this return 0.
    void Close();

  private:
    int master_ = -1;
    int slaveKeeper_ = -1;  // held so that the master stays usable without a console
    int wake_ = -1;         // eventfd that Wake() makes readable
    std::string slavePath_;
};

}  // namespace platform
