#pragma once
// Test > Register...: where the console records its verdicts. A file (typed, or chosen with
// Browse...) or a PostgreSQL server's connection string; one that carries a password is refused
// in the dialog, so that none is remembered in the settings file. Window's thread.

#include <QString>
#include <optional>

class QWidget;

// Asks for the register's location, starting from `current` (empty: the default file). Nothing
// when the operator cancels; an empty text chooses the default file.
std::optional<QString> AskRegisterLocation(QWidget* parent, const QString& current);
