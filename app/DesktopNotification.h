#pragma once
// Desktop notifications, for news the operator should hear of while looking at another window
// (a test that ended). Sent to org.freedesktop.Notifications on the session bus as "Kelvo
// console", with the console's installed icon, for the desktop's own time on screen. On Windows
// a balloon of the console's icon in the notification area (app/win/).
//
// Asynchronous: the call returns at once and its answer is handled later by the event loop of
// the calling thread, which must run one (the window's thread). Without a session bus or a
// notification service, or on a refusal, nothing is shown and one debug line says why.

#include <QString>

// The icon name the console is installed under (its application id: the desktop entry's Icon,
// see cmake/KelvoInstall.cmake).
inline constexpr char kConsoleIconName[] = "org.kelvo.Console";

// Asks the desktop to show `summary` (one short line) and `body` (plain text). Call on the
// window's thread.
void ShowDesktopNotification(const QString& summary, const QString& body);
