#pragma once
// Small routines that touch the operating system or format raw data. Stateless; callable from
// any thread unless a comment says otherwise.

#include <cstdint>
#include <string>

#include "platform/Stream.h"

// Shows `path` in the desktop's file manager: a folder opened, anything else (a file, or a path
// that does not exist) selected in its folder. The path may come in double quotes. Returns at
// once without waiting for the file manager; failures go unnoticed. Does nothing for an empty
// path.
void OpenInExplorer(const std::string& path);

// Called once per port found, with its bare name (valid only during the call: copy it) and the
// context given to ListSerialPorts, passed through unchanged.
using TPortFoundProc = void (*)(const char* name, void* context);

// Finds the serial ports: those backed by hardware in the order the system enumerates them, then
// the virtual ports in the order of their folder. Reports each to `callback`; with a null
// callback the search still runs and reports nothing. Reports no error.
void ListSerialPorts(TPortFoundProc callback, void* context);

// Writes the bytes of `text` (no terminator) to `stream`, then CR LF when `lineBreak` is set.
// Both writes are made in any case; returns whether every byte was written.
bool WriteStreamLine(platform::TStream& stream, const std::string& text, bool lineBreak);

// Calendar parts (proleptic Gregorian) of a date-time: days since 30 December 1899, the fraction
// being the time of day. The whole part is the value truncated toward zero, so -1.25 is
// 29 December 1899, 06:00. Values outside 1 January 0001 .. 31 December 9999, and NaN, give 0.
uint16_t DateYear(double dateTime);
uint16_t DateMonth(double dateTime);
uint16_t DateDay(double dateTime);

// Writes the uppercase hexadecimal digit of `value` at `out`. Throws EConvertError when the value
// is above 15, then EInvalidPointer when `out` is null.
void Byte2PHexChar(uint8_t value, char* out);
// Writes the two uppercase hexadecimal digits of `value` at out[0] and out[1]; throws as
// Byte2PHexChar.
void Byte2PHex(uint8_t value, char* out);

// Status codes of Buff2PHex.
inline constexpr uint32_t kHexOk = 0;
inline constexpr uint32_t kHexNothingToWrite = 0x8000FFFF;
inline constexpr uint32_t kHexNoInput = 0x80004003;
inline constexpr uint32_t kHexNoOutput = 0x8007000E;

// Writes two uppercase hexadecimal digits for each of the `count` bytes of `buff` to `out`, each
// followed by `separator` unless it is '\0'; `out` must hold count * 3 characters (2 without a
// separator). No terminator is written. Returns a status code instead of throwing: nothing is
// written unless it is kHexOk.
uint32_t Buff2PHex(const uint8_t* buff, int32_t count, char* out, char separator);

// The `size` bytes of `buff` as uppercase hexadecimal text, each byte followed by `separator`
// unless it is '\0' (so the text ends with it). Empty for a size of 0 or less, even with a null
// `buff`; throws EInvalidPointer for a null `buff` otherwise.
std::string Buff2HexString(const uint8_t* buff, int32_t size, char separator);

// The system's text for the error code `code` (an errno value), without trailing blanks, control
// characters and full stops; prefixed with "(0x%.8X) " when `withCode` is set. For a code the
// system has no text for: "Ошибка: $" and the code in 8 uppercase hexadecimal digits, and one
// debug line with the thread's last system error after the failed lookup.
void GetSysErrorText(uint32_t code, bool withCode, std::string& text);
