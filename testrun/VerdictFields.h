#pragma once
// A verdict's shape, written once: the table of its fields, in the order its JSON lists them,
// drives writing the JSON (VerdictJson), reading it back (ParseVerdictJson) and the register's
// columns of a test (records/Register.cpp), each by the type of the summary's member it holds. A
// new field is its member in TTestSummary and one line in the table; its column in the register
// comes with a new numbered migration, which the line names (Since). No I/O, no state; any thread.

#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "support/Json.h"
#include "testrun/TestVerdict.h"

// The member of TTestSummary that a field holds; its type is the field's kind.
using TVerdictMember =
    std::variant<TEndReason TTestSummary::*, TLocalStamp TTestSummary::*, double TTestSummary::*,
                 int TTestSummary::*, std::optional<double> TTestSummary::*,
                 std::string TTestSummary::*, std::vector<std::string> TTestSummary::*,
                 std::optional<std::string> TTestSummary::*>;

struct TVerdictField {
    // In the JSON, and the name of the register's column; a moment has two columns there,
    // "<key>_text" as the JSON writes it and "<key>_utc", its UTC second.
    const char* Key;
    TVerdictMember Member;
    int Decimals = 0;       // a number's digits after the point in the JSON
    bool Required = false;  // a verdict without it is none
    // The register's schema version that made its column: 1 for the fields of the first
    // register; a field added later names the migration that adds its column.
    int Since = 1;
};

// Every field, in the order of the JSON.
std::span<const TVerdictField> VerdictFields();

// A field's value on its way between a summary and a verdict's JSON or a register's row:
// std::monostate when absent (an unknown figure is not written), null (no cell is), a number, a
// text (reasons and moments as the JSON writes them) or a list of texts (the logs).
using TVerdictValue =
    std::variant<std::monostate, std::nullptr_t, double, std::string, std::vector<std::string>>;

// The value of `field` in `summary` as the verdict writes it (numbers as they are: the JSON rounds
// them to the field's decimals).
TVerdictValue VerdictValue(const TVerdictField& field, const TTestSummary& summary);

// Sets `field` of `summary` from `value` by the one rule of each kind; why it cannot (a verdict
// or a row that is damaged), or empty. A required field must have a value; null is absent. A
// reason must be one of ReasonName's words, a moment a text that ParseIsoStamp takes, a number
// finite; the joined time a number of seconds of 0 or more (rounded). Absent numbers are 0, except
// an absent duration, which is the time from start to end (fields are set in the table's order);
// empty log names are left out; an empty cell is none.
std::string SetVerdictValue(const TVerdictField& field, const TVerdictValue& value,
                            TTestSummary& summary);

// A moment as the verdict writes it: "2026-12-08T14:03:12+01:00", local time, whole seconds, its
// offset from UTC.
std::string VerdictMomentText(const TLocalStamp& stamp);

// A JSON value as a field's value into `value`: why it cannot be one (an object, a list with
// something not a text in it), or empty. `key` names the field in the fault.
std::string JsonVerdictValue(const TJsonValue& json, const char* key, TVerdictValue& value);

// Every field of `summary` as members of the object that `json` has open.
void WriteVerdictFields(TJsonWriter& json, const TTestSummary& summary);

// The summary that a verdict's JSON object holds, or why it holds none (Fault). Keys that are not
// fields are ignored.
struct TVerdictRead {
    std::optional<TTestSummary> Summary;
    std::string Fault;
};
TVerdictRead ReadVerdictFields(const TJsonValue& object);
