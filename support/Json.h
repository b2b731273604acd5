#pragma once
// JSON as the verdict files and the command-line programs write and read it: one string writer
// (every JSON text of the project quotes its strings here) and a reader of whole documents. No Qt,
// no state; any thread.
//
// The reader takes files from disk as they come: damaged, truncated or hostile text gives an
// error, never a crash (nesting is limited, so no input can exhaust the stack).

#include <cstddef>
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
