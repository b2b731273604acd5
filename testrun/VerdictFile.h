#pragma once
// The files a test leaves beside its log: "<log without .csv>_test<N>.json" (the verdict) and
// "_test<N>.png" (its picture), N counting the tests that ended in that log from 1. Plain file
// system calls; any thread.

#include <string>

// "<log without .csv>_test<number><suffix>".
std::string FileBesideLog(const std::string& log, int number, const char* suffix);

// Writes `text` at `path` whole or not at all: into a new file beside it, handed to the medium,
// then renamed over it, so that no reader ever sees half a file and a failed write (a full disk)
// leaves neither a new file nor a temporary one. Returns the system's words when it fails, else
// "".
std::string WriteFileWhole(const std::string& path, const std::string& text);
