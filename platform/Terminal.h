#pragma once
// The terminal a command-line program writes to.

namespace platform {

// Whether standard error is a terminal (a console on Windows), where a line can be rewritten in
// place; false for a file or a pipe.
bool StandardErrorIsTerminal();

}  // namespace platform
