#pragma once
// The station a test ran at, as verdicts and the register name it: the name given on the command
// line, or the machine's host name up to its first dot.

#include <string>

// `given` when it is not empty, else the host name up to its first dot ("bench-3" for
// "bench-3.lab.example"), else "localhost". Any thread.
std::string StationName(const std::string& given = {});
