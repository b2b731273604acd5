#pragma once
// The operator's inputs for the three setpoints and the two axis maxima: the modal input box.
// What may be sent is decided by the setpoint rules (testrun/SetpointRules.h).

#include <QString>
#include <QWidget>
#include <optional>

// Opens the modal input box; the edited text on OK, nothing on Cancel.
std::optional<QString> AskText(QWidget* parent, const QString& title, const QString& prompt,
                               const QString& initial);
