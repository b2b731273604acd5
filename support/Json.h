#pragma once
// JSON as the verdict files and the command-line programs write and read it: one writer (every
// JSON text of the project is written with it, or at least quotes its strings with JsonString) and
// a reader of whole documents. No Qt, no state shared; any thread.
//
// The reader takes files from disk as they come: damaged, truncated or hostile text gives an
// error, never a crash (nesting is limited, so no input can exhaust the stack).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// `text` as a JSON string, quotes included. Bytes that are not UTF-8 become U+FFFD, so the result
// always parses; control characters (C0, DEL and C1) are written as \u00XX, so that printing the
// text on a terminal cannot steer it.
std::string JsonString(std::string_view text);

// `value` as a JSON number, the shortest text that reads back as the same double, with a decimal
// point whatever the locale; "null" for infinities and NaN, which JSON cannot hold.
std::string JsonNumber(double value);

// Writes one JSON text as it goes: commas and colons where they belong, no blanks, strings through
// JsonString. An array may put each item on a line of its own ("[\n{...},\n{...}\n]", "[]" when
// empty), for outputs that people read a line at a time. The calls must nest as JSON does (a value
// in an object after its Key); the writer does not check it.
class TJsonWriter {
  public:
    TJsonWriter& Object();
    TJsonWriter& Array(bool itemPerLine = false);
    // Closes the innermost object or array.
    TJsonWriter& End();
    TJsonWriter& Key(std::string_view name);

    TJsonWriter& String(std::string_view text);
    // The shortest text that reads back as the same double (JsonNumber).
    TJsonWriter& Number(double value);
    // `decimals` digits after the point (FixedDecimals); null when not finite.
    TJsonWriter& Fixed(double value, int decimals);
    TJsonWriter& Integer(int64_t value);
    TJsonWriter& Boolean(bool value);
    TJsonWriter& Null();
    // null for nothing.
    TJsonWriter& NumberOrNull(const std::optional<double>& value);
    TJsonWriter& FixedOrNull(const std::optional<double>& value, int decimals);
    TJsonWriter& StringOrNull(const std::optional<std::string>& text);
    TJsonWriter& Strings(const std::vector<std::string>& texts);

    // What is written so far, and the same ended by a newline, as the programs print it.
    const std::string& Text() const { return FText; }
    std::string Line() const { return FText + '\n'; }

  private:
    void BeforeValue();

    struct TOpen {
        char Close;
        bool ItemPerLine;
        bool Empty = true;
    };
    std::string FText;
    std::vector<TOpen> FOpen;
    bool FAfterKey = false;
};

// One JSON value as read. Strings are UTF-8 (escapes decoded, surrogate pairs joined; a lone
// surrogate or a byte that is not UTF-8 becomes U+FFFD).
class TJsonValue {
  public:
    enum class TKind { Null, Boolean, Number, String, Array, Object };
    using TMember = std::pair<std::string, TJsonValue>;

    TKind Kind() const { return FKind; }
    bool IsNull() const { return FKind == TKind::Null; }

    // The value when it is of that kind, else nothing.
    std::optional<bool> Boolean() const;
    std::optional<double> Number() const;
    const std::string* String() const;
    const std::vector<TJsonValue>* Array() const;
    const std::vector<TMember>* Object() const;

    // The member `name` of an object (the last one, when a name repeats); nullptr when this is not
    // an object or has no such member.
    const TJsonValue* Find(std::string_view name) const;

  private:
    friend class TJsonReader;
    TKind FKind = TKind::Null;
    bool FBoolean = false;
    double FNumber = 0;
    std::string FString;
    std::vector<TJsonValue> FArray;
    std::vector<TMember> FObject;
};

// What ParseJson made of a text: the value, or why there is none and where (a byte offset).
struct TJsonParsed {
    std::optional<TJsonValue> Value;
    std::string Error;
    size_t Offset = 0;
};

// Arrays and objects nested deeper than this are refused.
inline constexpr int kJsonMaxDepth = 64;

// Reads one JSON document (RFC 8259, a UTF-8 byte order mark allowed in front): whitespace may
// surround the value, nothing else may follow it.
TJsonParsed ParseJson(std::string_view text, int maxDepth = kJsonMaxDepth);
