#pragma once
// The programs' switch for the debug lines of platform::DebugOutput: the debug messages of the Qt
// logging category "kelvo", off by default, turned on by a program's --debug option or by
// QT_LOGGING_RULES="kelvo.debug=true". Called on the main thread at start-up.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcKelvo)

// Turns the category on when `requested` (--debug), then switches the debug output on exactly
// when the category's debug messages are enabled.
void ApplyDebugSwitch(bool requested);
