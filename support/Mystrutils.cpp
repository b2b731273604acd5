#include "support/Mystrutils.h"

namespace {

bool IsBlankOrControl(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

bool EndsArgument(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

}  // namespace

TCharSet CharSetOf(std::string_view characters) {
    TCharSet set;
    for (const char c : characters) set.set(static_cast<unsigned char>(c));
    return set;
}

void CutToken(std::string& source, const TCharSet& delimiters, bool keepDelimiter, bool skipLeading,
              std::string& token) {
    token.clear();
    if (source.empty()) return;

    const auto isDelimiter = [&](char c) { return delimiters.test(static_cast<unsigned char>(c)); };
    size_t start = 0;
    if (skipLeading) {
        while (start < source.size() && isDelimiter(source[start])) ++start;
    }
    size_t end = start;
    while (end < source.size() && !isDelimiter(source[end])) ++end;

    token.assign(source, start, end - start);
    if (end == source.size()) {
        source.clear();
    } else {
        source.erase(0, keepDelimiter ? end : end + 1);
    }
}

const char* ParseNextParam(const char* position, std::string& argument) {
    argument.clear();
    if (position == nullptr) return nullptr;

    const char* p = position;
    for (;;) {
        while (IsBlankOrControl(*p)) ++p;
        if (p[0] == '"' && p[1] == '"') {
            p += 2;
            continue;
        }
        break;
    }

    while (!EndsArgument(*p) && argument.size() < kMaxParamLength) {
        if (*p != '"') {
            argument.push_back(*p++);
            continue;
        }
        ++p;
        while (*p != '\0' && *p != '"' && argument.size() < kMaxParamLength) {
            argument.push_back(*p++);
        }
        // Also when the limit stopped the copy right before the closing quote, so that the quote
        // does not open a new quoted run in the next call.
        if (*p == '"') ++p;
    }
    return p;
}

void PickParam(const std::string& text, int index, std::string& argument) {
    argument.clear();
    if (text.empty() || index < 0) return;

    const char* position = text.c_str();
    for (;;) {
        position = ParseNextParam(position, argument);
        if (index == 0 || argument.empty()) return;
        --index;
    }
}
