#pragma once
// The one place that knows how the user's locale writes numbers, from the locale settings of
// platform/LocaleFormats.h. Callable from any thread; no application object is needed.

#include <string>

// The decimal separator of the user's locale ('.' or ',' in most locales). A locale whose
// separator is not a single ASCII character gets '.', since texts here are narrow.
char LocaleDecimalSeparator();

// Fixed notation: `value` rounded to 8 significant digits, then (half away from zero) to
// `decimals` digits after LocaleDecimalSeparator() (limited to 0..18); a leading '-' when the
// written value is not zero, at least one digit before the separator, never group separators.
// A value whose integer part has more than 8 digits is written in scientific notation instead,
// 8 significant digits and a signed exponent of at least two digits ("1,2345679E+08").
// NaN and infinities are written "NAN", "INF" and "-INF".
std::string FormatFixed(double value, int decimals);

// Converts a decimal number written the locale's way: blanks before and after, an optional sign,
// digits with at most one LocaleDecimalSeparator(), an optional exponent ('E' or 'e', optional
// sign, digits). Never accepts group separators, hexadecimal, "inf" or "nan". Returns false
// (and leaves `value` alone) for any other text and for numbers beyond the range of a double.
bool TryLocaleTextToFloat(const std::string& text, double& value);
