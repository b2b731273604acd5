#pragma once
// Checking and converting the numbers the operator types, with either '.' or ',' as the decimal
// mark whatever the locale. Stateless; callable from any thread.

#include <optional>
#include <string>

// Whether `text`, without the blanks and control characters around it, looks like a decimal
// number (sign in front, digits, at most one decimal mark '.' or ',' anywhere, at most one
// exponent right after a digit with an optional sign) or like a hexadecimal number with a
// leading '$'. A lone "." passes.
bool IsNumberText(const std::string& text);

// Converts `text` after replacing its first '.' (or, without one, its first ',') by the locale's
// decimal separator; see TryLocaleTextToFloat for the rest of the syntax. A second mark is left
// alone, so "1.234,5" fails. Throws EConvertError for a text that is not such a number.
double StrToFloatAnySep(const std::string& text);

// A number as a command line takes it, the same in every locale: an optional sign, digits and at
// most one decimal point; no comma, no exponent, no blanks. Nothing for any other text.
std::optional<double> PlainNumber(const std::string& text);

// StrToFloatAnySep of `text` when IsNumberText accepts it; `fallback` for any other text and for
// any failure of the conversion. Reports nothing.
double ParseFloatDef(const std::string& text, double fallback);
