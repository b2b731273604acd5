#pragma once
// The default error box: an error that escapes a handler on the window's thread is shown to the
// operator with its message, and the program goes on.

#include <QApplication>
#include <exception>
#include <functional>

// Shows `message` in a modal error box over the active window.
void ShowErrorBox(const QString& message);

// Runs a handler, showing any error it raises in the error box. Every handler of the window
// runs through this, so that no error crosses the event loop.
void RunGuarded(const std::function<void()>& handler);

// The application object: as the last net, errors that still escape an event's delivery are
// shown in the error box too.
class TConsoleApplication : public QApplication {
  public:
    TConsoleApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
