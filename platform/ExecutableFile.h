#pragma once
// The running program's executable file, and named sections of ELF files (where the build
// embeds the version block). Stateless; callable from any thread.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The full path of the running executable, from /proc/self/exe, at any length. Empty when the
// system cannot tell.
std::string ExecutablePath();

// Reads the bytes of the section named `name` from the ELF file at `path` (32 or 64 bits, in the
// machine's own byte order) into `bytes`. Returns false, with `bytes` emptied, when the file
// cannot be read, is no such ELF file, lacks the section, the section holds no file bytes, or
// any header points outside the file.
bool ReadElfSection(const std::string& path, const std::string& name, std::vector<uint8_t>& bytes);

}  // namespace platform
