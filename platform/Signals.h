#pragma once
// The signals that ask a program to end (Ctrl+C in its terminal, a plain kill), taken as events
// to wait for rather than as asynchronous handlers, so that the program can clean up in order.

#include <cstdint>
#include <optional>

namespace platform {

enum class EndSignal { Interrupt, Terminate, HangUp };  // SIGINT, SIGTERM, SIGHUP

// The ways of sending them, as a program's help names them (a literal, to join with others).
#ifdef _WIN32
#define KELVO_END_SIGNAL_NAMES "Ctrl+C, or closing the console window,"
#else
#define KELVO_END_SIGNAL_NAMES "Ctrl+C, SIGTERM or SIGHUP"
#endif

// Blocks both for the calling thread and for every thread it starts afterwards: call first in
// main(), before any thread exists, or one of them may take the signal and end the program.
void BlockEndSignals();

// Waits until one of them is pending (they must be blocked) and takes it.
EndSignal WaitForEndSignal();

// A descriptor that polls readable while one of them is pending (they must be blocked), for an
// event loop; -1 when the system refuses. The caller owns it.
int EndSignalDescriptor();
// Takes the pending signal from that descriptor without waiting; nothing when none is pending.
std::optional<EndSignal> TakeEndSignal(int descriptor);

// Sends one to the process `processId`; false when it cannot be delivered.
bool SendEndSignal(int64_t processId, EndSignal signal);

}  // namespace platform
