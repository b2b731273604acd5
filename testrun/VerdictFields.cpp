#include "testrun/VerdictFields.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "support/CivilTime.h"
#include "support/DateTime.h"
#include "testrun/VerdictRead.h"

namespace {

using S = TTestSummary;

constexpr TVerdictField kFields[] = {
    {"reason", &S::Reason, 0, true},
    {"start", &S::Start, 0, true},
    {"end", &S::End, 0, true},
    {"duration_s", &S::DurationS, 0},
    {"joined_at_s", &S::JoinedAtS, 0},
    {"ah", &S::Ah, 3},
    {"wh", &S::Wh, 3},
    {"mean_v", &S::MeanV, 3},
    {"min_v", &S::MinV, 3},
    {"max_v", &S::MaxV, 3},
    {"mean_a", &S::MeanA, 3},
    {"max_temp_c", &S::MaxTempC, 0},
    {"internal_resistance_ohm", &S::InternalResistanceOhm, 4},
    {"port", &S::Port, 0, true},
    {"log", &S::Log},
    {"logs", &S::Logs},
    {"cell", &S::Cell},
    {"station", &S::Station},
};

template <typename T>
bool Holds(const TVerdictValue& value) {
    return std::holds_alternative<T>(value);
}

// What a value is, for a fault's words.
const char* KindOf(const TVerdictValue& value) {
    if (Holds<double>(value)) return "a number";
    if (Holds<std::string>(value)) return "a text";
    if (Holds<std::vector<std::string>>(value)) return "a list";
    return "nothing";
}

}  // namespace

std::span<const TVerdictField> VerdictFields() {
    return kFields;
}

std::string VerdictMomentText(const TLocalStamp& stamp) {
    return IsoLocalTimeText(stamp.DateTime, stamp.UtcOffsetMin);
}

TVerdictValue VerdictValue(const TVerdictField& field, const TTestSummary& s) {
    return std::visit(
        [&](auto member) -> TVerdictValue {
            const auto& value = s.*member;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, TEndReason>) {
                return std::string(ReasonName(value));
            } else if constexpr (std::is_same_v<T, TLocalStamp>) {
                return VerdictMomentText(value);
            } else if constexpr (std::is_same_v<T, double> || std::is_same_v<T, int>) {
                return static_cast<double>(value);
            } else if constexpr (std::is_same_v<T, std::optional<double>>) {
                if (value) return *value;
                return std::monostate{};
            } else if constexpr (std::is_same_v<T, std::optional<std::string>>) {
                if (value) return *value;
                return nullptr;
            } else {
                return value;  // a text or the list of texts
            }
        },
        field.Member);
}

std::string SetVerdictValue(const TVerdictField& field, const TVerdictValue& given,
                            TTestSummary& s) {
    const std::string key = field.Key;
    const bool absent = Holds<std::monostate>(given) || Holds<std::nullptr_t>(given);
    if (absent && field.Required) return "no " + key;
    const auto wrong = [&](const char* wanted) {
        return key + " is " + KindOf(given) + ", not " + wanted;
    };
    const double* number = std::get_if<double>(&given);
    const std::string* text = std::get_if<std::string>(&given);
    if (number != nullptr && !std::isfinite(*number)) return key + " is not a finite number";
    return std::visit(
        [&](auto member) -> std::string {
            auto& value = s.*member;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, TEndReason>) {
                if (text == nullptr) return wrong("a reason");
                const std::optional<TEndReason> reason = ReasonNamed(*text);
                if (!reason) return key + " '" + *text + "' is not a reason the programs know";
                value = *reason;
            } else if constexpr (std::is_same_v<T, TLocalStamp>) {
                if (text == nullptr) return wrong("a moment");
                const std::optional<TLocalStamp> stamp = ParseIsoStamp(*text);
                if (!stamp) return key + " '" + *text + "' is not a moment";
                value = *stamp;
            } else if constexpr (std::is_same_v<T, double>) {
                if (absent) {
                    // Fields are set in order: start and end are known by now.
                    value = member == &TTestSummary::DurationS
                                ? std::max(0.0, std::round(SecondsBetween(s.Start, s.End)))
                                : 0;
                } else if (number == nullptr) {
                    return wrong("a number");
                } else {
                    value = *number;
                }
            } else if constexpr (std::is_same_v<T, int>) {
                if (absent) {
                    value = 0;
                } else if (number == nullptr) {
                    return wrong("a number");
                } else if (*number < 0 || *number > std::numeric_limits<int>::max()) {
                    return key + " is not a number of seconds of 0 or more";
                } else {
                    value = static_cast<int>(std::lround(*number));
                }
            } else if constexpr (std::is_same_v<T, std::optional<double>>) {
                if (absent) {
                    value.reset();
                } else if (number == nullptr) {
                    return wrong("a number");
                } else {
                    value = *number;
                }
            } else if constexpr (std::is_same_v<T, std::optional<std::string>>) {
                if (absent) {
                    value.reset();
                } else if (text == nullptr) {
                    return wrong("a text");
                } else {
                    value = text->empty() ? std::nullopt : std::optional<std::string>(*text);
                }
            } else if constexpr (std::is_same_v<T, std::string>) {
                if (absent) {
                    value.clear();
                } else if (text == nullptr) {
                    return wrong("a text");
                } else {
                    value = *text;
                }
            } else {
                value.clear();
                if (absent) return {};
                const auto* list = std::get_if<std::vector<std::string>>(&given);
                if (list == nullptr) return wrong("a list of texts");
                for (const std::string& item : *list) {
                    if (!item.empty()) value.push_back(item);
                }
            }
            return {};
        },
        field.Member);
}

void WriteVerdictFields(TJsonWriter& json, const TTestSummary& summary) {
    for (const TVerdictField& field : VerdictFields()) {
        const TVerdictValue value = VerdictValue(field, summary);
        if (Holds<std::monostate>(value)) continue;
        json.Key(field.Key);
        if (const auto* number = std::get_if<double>(&value)) {
            json.Fixed(*number, field.Decimals);
        } else if (const auto* text = std::get_if<std::string>(&value)) {
            json.String(*text);
        } else if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
            json.Strings(*list);
        } else {
            json.Null();
        }
    }
}

std::string JsonVerdictValue(const TJsonValue& json, const char* key, TVerdictValue& value) {
    switch (json.Kind()) {
        case TJsonValue::TKind::Null:
            value = nullptr;
            return {};
        case TJsonValue::TKind::Number:
            value = *json.Number();
            return {};
        case TJsonValue::TKind::String:
            value = *json.String();
            return {};
        case TJsonValue::TKind::Array: {
            std::vector<std::string> texts;
            for (const TJsonValue& item : *json.Array()) {
                if (item.String() == nullptr)
                    return std::string(key) + " lists something not a text";
                texts.push_back(*item.String());
            }
            value = std::move(texts);
            return {};
        }
        default:
            return std::string(key) + " is neither a number, a text nor a list";
    }
}

TVerdictRead ReadVerdictFields(const TJsonValue& object) {
    TVerdictRead read;
    if (object.Object() == nullptr) {
        read.Fault = "not an object";
        return read;
    }
    TTestSummary summary;
    for (const TVerdictField& field : VerdictFields()) {
        TVerdictValue value;
        if (const TJsonValue* member = object.Find(field.Key); member != nullptr) {
            read.Fault = JsonVerdictValue(*member, field.Key, value);
        }
        if (read.Fault.empty()) read.Fault = SetVerdictValue(field, value, summary);
        if (!read.Fault.empty()) return read;
    }
    read.Summary = std::move(summary);
    return read;
}
