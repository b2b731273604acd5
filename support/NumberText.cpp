#include "support/NumberText.h"

#include <charconv>

#include "support/Errors.h"
#include "support/Format.h"
#include "support/LocaleText.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexLetter(char c) {
    return (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

}  // namespace

bool IsNumberText(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlankOrControl(text[begin])) ++begin;
    while (end > begin && IsBlankOrControl(text[end - 1])) --end;
    const size_t length = end - begin;
    if (length == 0) return false;

    const bool hex = text[begin] == '$';
    if (hex && length == 1) return false;

    bool decimalMarkSeen = false;
    bool exponentMarkSeen = false;
    for (size_t i = begin + (hex ? 1 : 0); i < end; ++i) {
        const char c = text[i];
        const bool first = i == begin;
        const char before = first ? '\0' : text[i - 1];
        const bool decimalMark = c == '.' || c == ',';
        const bool exponentMark = !hex && (c == 'E' || c == 'e') && !first && IsDigit(before);
        const bool sign = (c == '+' || c == '-') && length > 1 &&
                          (first || (!hex && (before == 'E' || before == 'e')));

        const bool accepted = IsDigit(c) || (hex && IsHexLetter(c)) || sign ||
                              (decimalMark && !decimalMarkSeen) ||
                              (exponentMark && !exponentMarkSeen);
        if (!accepted) return false;
        decimalMarkSeen = decimalMarkSeen || decimalMark;
        exponentMarkSeen = exponentMarkSeen || exponentMark;
    }
    return true;
}

double StrToFloatAnySep(const std::string& text) {
    std::string localised = text;
    size_t mark = localised.find('.');
    if (mark == std::string::npos) mark = localised.find(',');
    if (mark != std::string::npos) localised[mark] = LocaleDecimalSeparator();

    double value = 0;
    if (!TryLocaleTextToFloat(localised, value)) {
        throw EConvertError(Format("'%s' is not a valid floating point value", text.c_str()));
    }
    return value;
}

double ParseFloatDef(const std::string& text, double fallback) {
    try {
        if (IsNumberText(text)) return StrToFloatAnySep(text);
    } catch (const std::exception&) {
        // Any failure gives the default.
    }
    return fallback;
}

std::optional<double> PlainNumber(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789.+-") != std::string::npos) return {};
    double value = 0;
    const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return {};
    return value;
}
