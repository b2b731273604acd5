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

// `value` in fixed notation with exactly `decimals` digits after `separator`, every integer digit
// and no group separators, whatever the C or Qt locale: the log's, the verdict's and kelvo-run's
// numbers. A value that rounds to zero is written without a sign ("0.000", never "-0.000").
std::string FixedDecimals(double value, int decimals, char separator = '.');

// `text` as one field of a comma-separated line: as it is, or in double quotes (inner quotes
// doubled) when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text);
