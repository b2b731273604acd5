#pragma once
// What the tester may be sent as a setpoint, shared by the window's inputs and the command-line
// runner: the reading of a test-time text, and the refusal of setpoints that the tester's
// encodings would wrap into a value the operator did not ask for. No state; any thread.

#include <optional>
#include <string>

// The longest test time the tester's 16-bit field holds, s.
inline constexpr int kLargestTestTimeS = 65535;

// Seconds of a test-time text "H:M:S": hours clamped to 0..24, minutes and seconds to 0..59;
// empty, blank or non-numeric parts count 0; parts after the third are ignored.
int TestTimeFromText(const std::string& text);

// Why a setpoint cannot be sent, or nothing when it can: a current or a voltage below 0 or of
// 256 or more, a test time below 0 or above 65535 s, or not a number, would reach the tester
// wrapped. `kind` is the command kind (TCommandKind) that would carry it.
std::optional<std::string> SetpointRefusal(int kind, double value);
