#pragma once
// Helpers on narrow (one byte per character) text: cutting tokens off a text, and command-line
// style arguments with double quotes. Character codes are compared as unsigned bytes, so codes
// 128 to 255 are ordinary characters everywhere here. Stateless; callable from any thread.

#include <bitset>
#include <string>
#include <string_view>

// A set of byte values.
using TCharSet = std::bitset<256>;

// The set holding every byte of `characters`.
TCharSet CharSetOf(std::string_view characters);

// Cuts the next token off `source`: the run up to (not including) the first character of
// `delimiters`, or up to the end. With `skipLeading`, delimiters at the beginning are passed over
// first. The delimiter that ended the token is removed from `source` with the token unless
// `keepDelimiter` is set (then it stays as the first character); further delimiters stay in either
// case. Without a delimiter after the token, `source` becomes empty. Never fails.
void CutToken(std::string& source, const TCharSet& delimiters, bool keepDelimiter, bool skipLeading,
              std::string& token);

// The longest argument ParseNextParam collects; a longer one is split there.
inline constexpr size_t kMaxParamLength = 4096;

// Parses the argument that starts at `position` in a zero-terminated text: blanks, control
// characters and empty quoted pairs before it are skipped; double quotes group characters
// (blanks included) and are dropped; quoted and unquoted pieces join into one argument. Returns
// where parsing stopped, the start for the next call. An argument longer than kMaxParamLength
// ends after its kMaxParamLength-th character, quoted or not, and the next call starts with the
// character after it. A null `position` gives an empty argument and returns null.
const char* ParseNextParam(const char* position, std::string& argument);

// The argument at `index` (0 = first) of `text`, as ParseNextParam splits it; empty when the text
// holds fewer arguments or the index is negative.
void PickParam(const std::string& text, int index, std::string& argument);
