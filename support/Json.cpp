#include "support/Json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "support/Format.h"

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The length of the well-formed UTF-8 sequence at the start of `text` (1 to 4), or 0 when it is
// not one; `*bad` is then the length of its maximal valid prefix (at least 1), which one U+FFFD
// replaces. Well-formed: no overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8Sequence(std::string_view text, size_t* bad) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    *bad = 1;
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if (i >= text.size()) return 0;
        const unsigned char c = byte(i);
        if (i == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return 0;
        *bad = i + 1;
    }
    return length;
}

// Appends `text`, each ill-formed part as U+FFFD.
void AppendValidUtf8(std::string& out, std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        size_t bad = 0;
        const size_t length = Utf8Sequence(text.substr(at), &bad);
        if (length == 0) {
            out += kReplacement;
            at += bad;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    AppendValidUtf8(utf8, text);
    std::string out = "\"";
    out.reserve(utf8.size() + 2);
    const auto escape = [&out](unsigned code) {
        char text[8];
        std::snprintf(text, sizeof text, "\\u%04x", code);
        out += text;
    };
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += utf8[i];
        } else if (c < 0x20 || c == 0x7F) {
            escape(c);
        } else if (c == 0xC2 && i + 1 < utf8.size() &&
                   static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
            escape(static_cast<unsigned char>(utf8[++i]));  // U+0080 to U+009F: its second byte
        } else {
            out += utf8[i];
        }
    }
    return out + '"';
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

void TJsonWriter::BeforeValue() {
    if (FAfterKey) {
        FAfterKey = false;
        return;
    }
    if (FOpen.empty()) return;
    TOpen& open = FOpen.back();
    if (!open.Empty) FText += ',';
    if (open.ItemPerLine) FText += '\n';
    open.Empty = false;
}

TJsonWriter& TJsonWriter::Object() {
    BeforeValue();
    FText += '{';
    FOpen.push_back({'}', false});
    return *this;
}

TJsonWriter& TJsonWriter::Array(bool itemPerLine) {
    BeforeValue();
    FText += '[';
    FOpen.push_back({']', itemPerLine});
    return *this;
}

TJsonWriter& TJsonWriter::End() {
    if (FOpen.empty()) return *this;
    const TOpen open = FOpen.back();
    FOpen.pop_back();
    if (open.ItemPerLine && !open.Empty) FText += '\n';
    FText += open.Close;
    return *this;
}

TJsonWriter& TJsonWriter::Key(std::string_view name) {
    if (!FOpen.empty()) {
        if (!FOpen.back().Empty) FText += ',';
        FOpen.back().Empty = false;
    }
    FText += JsonString(name);
    FText += ':';
    FAfterKey = true;
    return *this;
}

TJsonWriter& TJsonWriter::String(std::string_view text) {
    BeforeValue();
    FText += JsonString(text);
    return *this;
}

TJsonWriter& TJsonWriter::Number(double value) {
    BeforeValue();
    FText += JsonNumber(value);
    return *this;
}

TJsonWriter& TJsonWriter::Fixed(double value, int decimals) {
    BeforeValue();
    FText += std::isfinite(value) ? FixedDecimals(value, decimals) : "null";
    return *this;
}

TJsonWriter& TJsonWriter::Integer(int64_t value) {
    BeforeValue();
    FText += std::to_string(value);
    return *this;
}

TJsonWriter& TJsonWriter::Boolean(bool value) {
    BeforeValue();
    FText += value ? "true" : "false";
    return *this;
}

TJsonWriter& TJsonWriter::Null() {
    BeforeValue();
    FText += "null";
    return *this;
}

TJsonWriter& TJsonWriter::NumberOrNull(const std::optional<double>& value) {
    return value ? Number(*value) : Null();
}

TJsonWriter& TJsonWriter::FixedOrNull(const std::optional<double>& value, int decimals) {
    return value ? Fixed(*value, decimals) : Null();
}

TJsonWriter& TJsonWriter::StringOrNull(const std::optional<std::string>& text) {
    return text ? String(*text) : Null();
}

TJsonWriter& TJsonWriter::Strings(const std::vector<std::string>& texts) {
    Array();
    for (const std::string& text : texts) String(text);
    return End();
}

std::optional<bool> TJsonValue::Boolean() const {
    if (FKind != TKind::Boolean) return std::nullopt;
    return FBoolean;
}

std::optional<double> TJsonValue::Number() const {
    if (FKind != TKind::Number) return std::nullopt;
    return FNumber;
}

const std::string* TJsonValue::String() const {
    return FKind == TKind::String ? &FString : nullptr;
}

const std::vector<TJsonValue>* TJsonValue::Array() const {
    return FKind == TKind::Array ? &FArray : nullptr;
}

const std::vector<TJsonValue::TMember>* TJsonValue::Object() const {
    return FKind == TKind::Object ? &FObject : nullptr;
}

const TJsonValue* TJsonValue::Find(std::string_view name) const {
    if (FKind != TKind::Object) return nullptr;
    for (auto it = FObject.rbegin(); it != FObject.rend(); ++it) {
        if (it->first == name) return &it->second;
    }
    return nullptr;
}

// One pass of recursive descent over the text; the first fault stops it.
class TJsonReader {
  public:
    TJsonReader(std::string_view text, int maxDepth) : FText(text), FMaxDepth(maxDepth) {}

    TJsonParsed Read() {
        TJsonParsed parsed;
        if (FText.substr(0, 3) == "\xEF\xBB\xBF") FAt = 3;
        TJsonValue value;
        SkipSpace();
        if (Value(value, 0)) {
            SkipSpace();
            if (FAt == FText.size()) {
                parsed.Value = std::move(value);
                return parsed;
            }
            Fail("text after the value");
        }
        parsed.Error = FError;
        parsed.Offset = FAt;
        return parsed;
    }

  private:
    bool Fail(const char* why) {
        if (FError.empty()) FError = why;
        return false;
    }
    bool AtEnd() const { return FAt >= FText.size(); }
    char Peek() const { return AtEnd() ? '\0' : FText[FAt]; }
    void SkipSpace() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
            ++FAt;
        }
    }
    bool Word(std::string_view word) {
        if (FText.substr(FAt, word.size()) != word) return Fail("not a JSON value");
        FAt += word.size();
        return true;
    }

    bool Value(TJsonValue& value, int depth) {
        if (AtEnd()) return Fail("the text ends where a value should be");
        switch (Peek()) {
            case '{':
                value.FKind = TJsonValue::TKind::Object;
                return Object(value.FObject, depth + 1);
            case '[':
                value.FKind = TJsonValue::TKind::Array;
                return Array(value.FArray, depth + 1);
            case '"':
                value.FKind = TJsonValue::TKind::String;
                return String(value.FString);
            case 't':
                value.FKind = TJsonValue::TKind::Boolean;
                value.FBoolean = true;
                return Word("true");
            case 'f':
                value.FKind = TJsonValue::TKind::Boolean;
                return Word("false");
            case 'n':
                return Word("null");
            default:
                value.FKind = TJsonValue::TKind::Number;
                return Number(value.FNumber);
        }
    }

    bool Object(std::vector<TJsonValue::TMember>& members, int depth) {
        if (depth > FMaxDepth) return Fail("nested too deeply");
        ++FAt;  // '{'
        SkipSpace();
        if (Peek() == '}') {
            ++FAt;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (Peek() != '"') return Fail("a member's name must be a string");
            TJsonValue::TMember member;
            if (!String(member.first)) return false;
            SkipSpace();
            if (Peek() != ':') return Fail("':' expected after a member's name");
            ++FAt;
            SkipSpace();
            if (!Value(member.second, depth)) return false;
            members.push_back(std::move(member));
            SkipSpace();
            if (Peek() == ',') {
                ++FAt;
                continue;
            }
            if (Peek() == '}') {
                ++FAt;
                return true;
            }
            return Fail("',' or '}' expected in an object");
        }
    }

    bool Array(std::vector<TJsonValue>& items, int depth) {
        if (depth > FMaxDepth) return Fail("nested too deeply");
        ++FAt;  // '['
        SkipSpace();
        if (Peek() == ']') {
            ++FAt;
            return true;
        }
        for (;;) {
            SkipSpace();
            items.emplace_back();
            if (!Value(items.back(), depth)) return false;
            SkipSpace();
            if (Peek() == ',') {
                ++FAt;
                continue;
            }
            if (Peek() == ']') {
                ++FAt;
                return true;
            }
            return Fail("',' or ']' expected in an array");
        }
    }

    // Four hexadecimal digits after "\u".
    bool Hex4(uint32_t& code) {
        if (FText.size() - FAt < 4) return Fail("\\u needs four hexadecimal digits");
        const char* begin = FText.data() + FAt;
        const auto [end, error] = std::from_chars(begin, begin + 4, code, 16);
        if (error != std::errc() || end != begin + 4) {
            return Fail("\\u needs four hexadecimal digits");
        }
        FAt += 4;
        return true;
    }

    bool String(std::string& out) {
        ++FAt;  // '"'
        for (;;) {
            const size_t run = FAt;
            while (!AtEnd() && Peek() != '"' && Peek() != '\\' &&
                   static_cast<unsigned char>(Peek()) >= 0x20) {
                ++FAt;
            }
            AppendValidUtf8(out, FText.substr(run, FAt - run));
            if (AtEnd()) return Fail("a string is not closed");
            const char c = Peek();
            if (c == '"') {
                ++FAt;
                return true;
            }
            if (c != '\\') return Fail("a control character inside a string");
            ++FAt;
            if (AtEnd()) return Fail("a string is not closed");
            const char escape = FText[FAt++];
            switch (escape) {
                case '"':
                case '\\':
                case '/':
                    out += escape;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t code = 0;
                    if (!Hex4(code)) return false;
                    if (code >= 0xD800 && code <= 0xDBFF &&
                        FText.substr(FAt, 2) == "\\u") {  // a high surrogate: its low one next?
                        const size_t afterHigh = FAt;
                        FAt += 2;
                        uint32_t low = 0;
                        if (!Hex4(low)) return false;
                        if (low >= 0xDC00 && low <= 0xDFFF) {
                            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        } else {
                            FAt = afterHigh;  // the next escape stands alone
                        }
                    }
                    if (code >= 0xD800 && code <= 0xDFFF) {
                        out += kReplacement;
                    } else {
                        AppendUtf8(out, code);
                    }
                    break;
                }
                default:
                    --FAt;
                    return Fail("an unknown escape in a string");
            }
        }
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool Number(double& number) {
        const size_t begin = FAt;
        const auto digits = [&] {
            const size_t from = FAt;
            while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++FAt;
            return FAt - from;
        };
        if (Peek() == '-') ++FAt;
        if (Peek() == '0') {
            ++FAt;
        } else if (digits() == 0) {
            FAt = begin;
            return Fail("not a JSON value");
        }
        if (Peek() == '.') {
            ++FAt;
            if (digits() == 0) return Fail("digits expected after a decimal point");
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++FAt;
            if (Peek() == '+' || Peek() == '-') ++FAt;
            if (digits() == 0) return Fail("digits expected in an exponent");
        }
        const char* first = FText.data() + begin;
        const char* last = FText.data() + FAt;
        const auto [end, error] = std::from_chars(first, last, number);
        if (error == std::errc::result_out_of_range) {
            FAt = begin;
            return Fail("a number out of range");
        }
        if (error != std::errc() || end != last) {
            FAt = begin;
            return Fail("not a JSON value");
        }
        return true;
    }

    std::string_view FText;
    const int FMaxDepth;
    size_t FAt = 0;
    std::string FError;
};

TJsonParsed ParseJson(std::string_view text, int maxDepth) {
    return TJsonReader(text, maxDepth).Read();
}
