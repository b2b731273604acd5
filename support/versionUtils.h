#pragma once
// Facts about the program's own executable file: its full name and the values of the version
// block that the build embeds in it (cmake/KelvoVersion.cmake). Keeps no state: every call reads
// the file again. Callable from any thread.
//
// The version block is the content of the ELF section ".kelvo_version":
//
//   "KVB1"   4 bytes, the format's mark
//   then entries up to the end of the section, each
//     path     a zero-terminated text: "\VarFileInfo\Translation", or "\StringFileInfo\"
//              followed by a table name (8 hexadecimal digits: language and code page), a
//              backslash and a key, e.g. "\StringFileInfo\041904E3\ProductName"
//     length   4 bytes, little-endian: the size of the value in bytes
//     value    `length` bytes; a text value ends with its zero character, which the length
//              counts (an empty text has length 1)
//
// The translation list is a run of 32-bit little-endian entries, the language in the low 16 bits
// and the code page in the high 16 bits.

#include <string>

#include "platform/VersionBlock.h"

using platform::kVersionSectionName;

// The full path of the running executable, file name included. Empty if the system cannot tell.
std::string GetExeFileName();

// The value of `key` (case-sensitive: "ProductName", "FileVersion", ...) in the string table
// named by the first entry of the block's translation list ("04000400" when the list is missing
// or empty). Empty when the executable has no version block, the table lacks the key, or the
// value is empty.
std::string GetVersionValue(const std::string& key);

// `pattern` with its placeholders replaced by version values, in this order: "%p" ProductName,
// "%v" FileVersion, "%l" LegalCopyright, "%c" Comments, "%r" ProductVersion, "%n" CompanyName,
// "%d" FileDescription. Each step replaces every occurrence in the text left by the steps
// before it, so a value holding a later placeholder gets that one replaced too. Anything else,
// "%P" and "%x" included, stays as it is. All seven values are read on every call.
std::string ExpandVersionPattern(const std::string& pattern);
