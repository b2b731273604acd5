#pragma once
// What the tester may be sent as a setpoint, shared by the window's inputs and the command-line
// runner: the reading of a test-time text, the refusal of setpoints that the tester's encodings
// would wrap into a value the operator did not ask for, the setpoints that make no test, and why
// a Start did not take. No state but TStartWatch's, which its owner keeps on one thread.

#include <optional>
#include <string>

#include "device/DeviceReading.h"

// The longest test time the tester's 16-bit field holds, s.
inline constexpr int kLargestTestTimeS = 65535;

// Seconds of a test-time text "H:M:S": hours clamped to 0..24, minutes and seconds to 0..59;
// empty, blank or non-numeric parts count 0; parts after the third are ignored.
int TestTimeFromText(const std::string& text);

// Why a setpoint cannot be sent, or nothing when it can: a current or a voltage below 0 or of
// 256 or more, a test time below 0 or above 65535 s, or not a number, would reach the tester
// wrapped. `kind` is the command kind (TCommandKind) that would carry it.
std::optional<std::string> SetpointRefusal(int kind, double value);

// Whether `amperes` or `volts` reach the tester as 0: below its step of 0.01 (as it is encoded).
bool SetpointIsZero(double value);

// Why a test at the current `amperes` would make no test, or nothing: below the tester's step of
// 0.01 A it draws nothing, and the test never ends. A sentence without its fix.
std::optional<std::string> CurrentMakesNoTest(double amperes);

// Whether a cutoff of `volts` and a test time of `seconds` (0: none) leave the test nothing to
// end it but a cell run down to 0 V.
bool DrainsTheCell(double volts, int seconds);

// Why the tester left a Start alone, from the reading that showed it stopped after the Start.
struct TNotStarted {
    enum class TKind {
        CutoffAtOrAboveCell,  // it ignores Start while the cell is at or below the cutoff
        TestTimeUsedUp,       // a test time that an earlier test has used up keeps it stopped
        Other,                // whatever else: the reading's voltage and cutoff are said
    };
    TKind Kind;
    std::string Cause;  // a sentence without its fix, which the caller words for its own user
};
TNotStarted NotStartedCause(const TDeviceReading& reading);

// Follows a Start to the readings that show whether it took. Testers show Start a poll or two
// late, so a test counts as not started only after kReadingsToStart readings requested after the
// Start reached the tester still show it stopped.
class TStartWatch {
  public:
    static constexpr int kReadingsToStart = 5;

    // The Start reached the tester (its command notice); the count begins again.
    void StartReached() { FReadings = 0; }
    // Every reading; the cause once, at the reading that decides the Start did not take.
    std::optional<TNotStarted> Reading(const TDeviceReading& reading);

  private:
    std::optional<int> FReadings;  // since the Start reached the tester; none: not watching
};
