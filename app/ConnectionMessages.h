#pragma once
// What the status bar's message field says about the connection: why a connect failed, that a
// connection was lost and what was logged up to then, and that it came back. The causes are the
// platform's own words (ExplainPortError), shared with the command-line runner.

#include <QString>
#include <QTime>
#include <chrono>
#include <cstdint>
#include <string>

// "Cannot connect to <name>: <cause>"
QString FailedConnectText(const std::string& name, int error);

// "Connection to <name> lost at <hh:mm:ss>: <cause> <n> readings were logged in <path>." and,
// when `reconnecting`, that the console connects again once the port is back.
QString LostConnectionText(const std::string& name, int error, const QTime& at, int64_t rowsLogged,
                           const std::string& logPath, bool reconnecting);

// "<name> is busy; trying again." while an automatic reconnection waits for a busy port.
QString StillBusyText(const std::string& name);

// "Reconnected to <name> after <hh:mm:ss>."
QString ReconnectedText(const std::string& name, std::chrono::seconds away);
