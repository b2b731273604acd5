// Fuzzes the text helpers: CutToken with any delimiter set and flags, ParseNextParam and
// PickParam over any zero-terminated text, IsNumberText and ParseFloatDef over any text.
//
// Input layout: byte 0 holds the CutToken flags (bit 0 keep the delimiter, bit 1 skip leading
// delimiters), byte 1 the count of delimiter bytes that follow (modulo 8), the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/Mystrutils.h"
#include "support/NumberText.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// The token, the removed delimiter and what is left must put the source back together.
void CheckCutToken(const std::string& source, const std::string& delimiterBytes, bool keepDelimiter,
                   bool skipLeading) {
    const TCharSet delimiters = CharSetOf(delimiterBytes);
    const auto isDelimiter = [&](char c) { return delimiters.test(static_cast<unsigned char>(c)); };
    std::string rest = source;
    std::string token = "stale";
    CutToken(rest, delimiters, keepDelimiter, skipLeading, token);

    size_t skipped = 0;
    if (skipLeading) {
        while (skipped < source.size() && isDelimiter(source[skipped])) ++skipped;
    }
    Require(skipped + token.size() <= source.size());
    Require(source.compare(skipped, token.size(), token) == 0);
    for (const char c : token) Require(!isDelimiter(c));

    const size_t after = skipped + token.size();
    if (after == source.size()) {
        Require(rest.empty());
        return;
    }
    Require(isDelimiter(source[after]));
    Require(rest == source.substr(keepDelimiter ? after : after + 1));
}

// Splits the whole text with ParseNextParam as PickParam does, checking each step, and compares
// the arguments with PickParam's.
void CheckParams(const std::string& text) {
    const char* begin = text.c_str();
    const char* end = begin + std::strlen(begin);
    std::vector<std::string> arguments;
    const char* position = begin;
    std::string argument = "stale";
    for (;;) {
        const char* next = ParseNextParam(position, argument);
        Require(next >= position && next <= end);
        Require(argument.size() <= kMaxParamLength);
        Require(argument.find('\0') == std::string::npos);
        if (argument.empty()) break;
        Require(next > position);
        arguments.push_back(argument);
        position = next;
    }
    Require(ParseNextParam(nullptr, argument) == nullptr && argument.empty());

    std::string picked = "stale";
    for (size_t i = 0; i <= arguments.size() && i < 8; ++i) {
        PickParam(text, static_cast<int>(i), picked);
        Require(picked == (i < arguments.size() ? arguments[i] : std::string()));
    }
    PickParam(text, -1, picked);
    Require(picked.empty());
}

void CheckNumbers(const std::string& text) {
    const bool number = IsNumberText(text);
    // Blanks and control characters around the text do not matter.
    Require(IsNumberText(" \t" + text + "\r\n") == number);
    constexpr double kFallback = -98765.25;
    const double value = ParseFloatDef(text, kFallback);  // must not throw
    if (!number) Require(value == kFallback);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool keepDelimiter = (data[0] & 1) != 0;
    const bool skipLeading = (data[0] & 2) != 0;
    const size_t delimiterCount = std::min<size_t>(data[1] % 8, size - 2);
    const std::string delimiters(reinterpret_cast<const char*>(data + 2), delimiterCount);
    const std::string text(reinterpret_cast<const char*>(data + 2 + delimiterCount),
                           size - 2 - delimiterCount);

    CheckCutToken(text, delimiters, keepDelimiter, skipLeading);
    CheckParams(text);
    CheckNumbers(text);
    return 0;
}
