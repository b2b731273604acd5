#pragma once
// The running executable's version block, as the system keeps it: on Linux the ELF section that
// the build embeds (cmake/KelvoVersion.cmake; its format in support/versionUtils.h), on Windows
// the VERSIONINFO resource. Stateless; every call reads it again. Callable from any thread.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The name of the ELF section that holds the version block.
inline constexpr char kVersionSectionName[] = ".kelvo_version";

// The value under `path` ("\VarFileInfo\Translation", or "\StringFileInfo\<table>\<key>"): the
// translation list's bytes, or a text in UTF-8 with its closing zero. False when the executable
// has no version block or the block no such value.
bool QueryOwnVersionValue(const std::string& path, std::vector<uint8_t>& value);

}  // namespace platform
