#pragma once
// The program's diagnostic channel: one line per event, no levels. Like a system debug output,
// it is silent until someone listens: lines are dropped (and never formatted) unless the output
// was switched on, when they go to standard error, or a sink is set, as tests do to look at them.

#include <concepts>
#include <functional>
#include <string>

namespace platform {

// True when a line written now would go somewhere. Callable from any thread.
bool DebugOutputEnabled();

// Writes one line (without its own line break) when the output is enabled. Callable from any
// thread; lines never interleave.
void DebugOutput(const std::string& line);

// Writes the line that `makeLine` returns, calling it only when the output is enabled, so that a
// line nobody listens to costs no formatting.
template <typename MakeLine>
requires std::invocable<MakeLine&> &&
    std::convertible_to<std::invoke_result_t<MakeLine&>, std::string>
void DebugOutput(MakeLine&& makeLine) {
    if (DebugOutputEnabled()) DebugOutput(std::string(makeLine()));
}

// Switches the output to standard error on or off (off at start). The programs switch it on from
// their command line or logging rules.
void SetDebugOutputEnabled(bool enabled);

using DebugSink = std::function<void(const std::string& line)>;

// Sends every later line to `sink` instead of standard error, whether or not the output is
// switched on; an empty sink restores the switch. The sink is called with an internal lock held,
// so it must not write debug lines itself.
void SetDebugSink(DebugSink sink);

}  // namespace platform
