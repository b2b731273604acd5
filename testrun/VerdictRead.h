#pragma once
// Reading a verdict back: the JSON that VerdictJson writes, from a file on disk, into the summary
// it was written from. No Qt, no state; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "testrun/TestVerdict.h"

// The summary in `text`, a verdict as VerdictJson writes it; nothing when it is not one: not
// JSON, not an object, without `reason` (one of ReasonName's words), `start`, `end` or `port`, or
// with a key of the wrong kind (the rules of VerdictFields.h's SetVerdictValue). Keys that are
// absent leave their fields empty (`duration_s` is then the time from start to end); `cell` null,
// empty or absent is no cell. Unknown keys are ignored.
std::optional<TTestSummary> ParseVerdictJson(const std::string& text);

// A moment as the verdict writes it, "2026-12-08T14:03:12+01:00" (local time and its offset from
// UTC; a fraction of a second and "Z" are taken too): the local days since 1899-12-30 and the
// offset. Nothing for any other text, or a date or time that does not exist.
std::optional<TLocalStamp> ParseIsoStamp(std::string_view text);

// The UTC second of a whole-second moment such as ParseIsoStamp gives, since 1970-01-01; the same
// second for every offset that names it.
int64_t UtcSecond(const TLocalStamp& stamp);
