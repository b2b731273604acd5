#include "support/LocaleText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/LocaleFormats.h"

namespace {

constexpr int kSignificantDigits = 8;
constexpr int kMaxDecimals = 18;

// A non-negative finite value rounded to kSignificantDigits digits: d0.d1d2... x 10^exponent.
struct SignificantDigits {
    std::array<char, kSignificantDigits> digits{};
    int exponent = 0;
};

SignificantDigits RoundToSignificant(double magnitude) {
    // to_chars rounds correctly and, unlike printf, ignores the C locale's decimal point.
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                      std::chars_format::scientific, kSignificantDigits - 1);
    // buffer holds "d.ddddddde+XX".
    SignificantDigits rounded;
    rounded.digits[0] = buffer[0];
    std::copy_n(buffer + 2, kSignificantDigits - 1, rounded.digits.begin() + 1);
    const char* exponent = buffer + kSignificantDigits + 2;
    if (*exponent == '+') ++exponent;
    std::from_chars(exponent, result.ptr, rounded.exponent);
    return rounded;
}

std::string Scientific(bool negative, const SignificantDigits& rounded, char separator) {
    std::string text = negative ? "-" : "";
    text += rounded.digits[0];
    text += separator;
    text.append(rounded.digits.begin() + 1, rounded.digits.end());
    text += 'E';
    text += rounded.exponent < 0 ? '-' : '+';
    const std::string exponent = std::to_string(std::abs(rounded.exponent));
    if (exponent.size() < 2) text += '0';
    text += exponent;
    return text;
}

// Adds one unit in the last place of a run of decimal digits; grows the run on overflow.
void IncrementDigits(std::string& digits) {
    size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0) {
        digits.insert(digits.begin(), '1');
    } else {
        ++digits[i - 1];
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

char LocaleDecimalSeparator() {
    const std::string separator = platform::LocaleDecimalSeparatorText();
    if (separator.size() != 1 || static_cast<unsigned char>(separator[0]) > 127) return '.';
    return separator[0];
}

std::string FormatFixed(double value, int decimals) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    const char separator = LocaleDecimalSeparator();

    const SignificantDigits rounded = RoundToSignificant(std::fabs(value));
    if (rounded.exponent >= kSignificantDigits) {
        return Scientific(std::signbit(value), rounded, separator);
    }

    // The digits of the places 10^top down to 10^-decimals; digit i of `rounded` sits at the
    // place 10^(exponent - i).
    const int top = std::max(rounded.exponent, 0);
    std::string digits;
    for (int place = top; place >= -decimals; --place) {
        const int i = rounded.exponent - place;
        digits += (i >= 0 && i < kSignificantDigits) ? rounded.digits[static_cast<size_t>(i)] : '0';
    }
    const int firstDropped = rounded.exponent + decimals + 1;
    if (firstDropped >= 0 && firstDropped < kSignificantDigits &&
        rounded.digits[static_cast<size_t>(firstDropped)] >= '5') {
        IncrementDigits(digits);
    }

    const size_t integerDigits = digits.size() - static_cast<size_t>(decimals);
    std::string text;
    if (std::signbit(value) && digits.find_first_not_of('0') != std::string::npos) text += '-';
    text.append(digits, 0, integerDigits);
    if (decimals > 0) {
        text += separator;
        text.append(digits, integerDigits);
    }
    return text;
}

bool TryLocaleTextToFloat(const std::string& text, double& value) {
    const char separator = LocaleDecimalSeparator();
    size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) return false;
    const size_t end = text.find_last_not_of(' ') + 1;

    // Rewritten in the form from_chars reads: no '+', '.' as the separator.
    std::string plain;
    size_t i = begin;
    if (text[i] == '+' || text[i] == '-') {
        if (text[i] == '-') plain += '-';
        ++i;
    }
    int mantissaDigits = 0;
    for (; i < end && IsDigit(text[i]); ++i, ++mantissaDigits) plain += text[i];
    if (i < end && text[i] == separator) {
        plain += '.';
        for (++i; i < end && IsDigit(text[i]); ++i, ++mantissaDigits) plain += text[i];
    }
    if (mantissaDigits == 0) return false;
    if (i < end && (text[i] == 'E' || text[i] == 'e')) {
        plain += 'e';
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        int exponentDigits = 0;
        for (; i < end && IsDigit(text[i]); ++i, ++exponentDigits) plain += text[i];
        if (exponentDigits == 0) return false;
    }
    if (i != end) return false;

    double converted = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), converted);
    if (result.ec != std::errc() || result.ptr != plain.data() + plain.size()) return false;
    value = converted;
    return true;
}
