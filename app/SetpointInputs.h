#pragma once
// The operator's inputs for the three setpoints and the two axis maxima: the modal input box,
// the reading of what was typed, and the refusal of setpoints that the tester's encodings would
// wrap into a value the operator did not ask for.

#include <QString>
#include <QWidget>
#include <optional>
#include <string>

// Opens the modal input box; the edited text on OK, nothing on Cancel.
std::optional<QString> AskText(QWidget* parent, const QString& title, const QString& prompt,
                               const QString& initial);

// Seconds of a test-time text "H:M:S": hours clamped to 0..24, minutes and seconds to 0..59;
// empty, blank or non-numeric parts count 0; parts after the third are ignored.
int TestTimeFromText(const std::string& text);

// Why a setpoint cannot be sent, or nothing when it can: a current or a voltage below 0 or of
// 256 or more, a test time below 0 or above 65535 s, or not a number, would reach the tester
// wrapped.
std::optional<QString> SetpointRefusal(int kind, double value);
