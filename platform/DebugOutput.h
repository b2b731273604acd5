#pragma once
// The program's diagnostic channel: one line per event, no levels. Lines go to standard error;
// tests replace the sink to look at them.

#include <functional>
#include <string>

namespace platform {

// Writes one line (without its own line break). Callable from any thread; lines never interleave.
void DebugOutput(const std::string& line);

using DebugSink = std::function<void(const std::string& line)>;

// Sends every later line to `sink` instead of standard error; an empty sink restores standard
// error. The sink is called with an internal lock held, so it must not write debug lines itself.
void SetDebugSink(DebugSink sink);

}  // namespace platform
