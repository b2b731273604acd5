#pragma once
// printf-style formatting into a std::string, for the debug lines and texts whose formats are
// fixed ("PortOpened: %d", "Error open file %s: %s", ...).

#include <string>

#if defined(__GNUC__)
#define KELVO_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KELVO_PRINTF_FORMAT(fmt, args)
#endif

std::string Format(const char* format, ...) KELVO_PRINTF_FORMAT(1, 2);
