#pragma once
// Tells a window, as the system does, that a port was removed: WM_DEVICECHANGE with
// DBT_DEVICEREMOVECOMPLETE and the port's name in a DEV_BROADCAST_PORT.

#include <QString>
#include <QWindow>

// True when the window took the message (it was sent, and answered).
bool SendPortRemoval(WId window, const QString& port);
