// The console program: the command line, the application with its title, the console window
// with the operator's remembered choices, the (hidden) protocol description window, and the
// event loop.
#include "app/AboutBox.h"
#include "app/ConsoleOptions.h"
#include "app/ErrorBox.h"
#include "app/RememberedChoices.h"
#include "app/uProtoInfo.h"
#include "app/uReader.h"
#include "support/qt/DebugSwitch.h"

int main(int argc, char** argv) {
    int exitCode = 0;
    const auto options = ReadConsoleOptions(argc, argv, exitCode);
    if (!options) return exitCode;

    TConsoleApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Battery tester Kelvo console");
    QApplication::setDesktopFileName("org.kelvo.Console");
    QApplication::setWindowIcon(ProgramIcon());
    ApplyDebugSwitch(options->Debug);

    TForm1 form;
    TFProtoInfo protoInfo(&form);  // created hidden; the menu shows fresh windows of its own
    form.ApplyStartChoices(LoadChoices(), *options);
    form.show();
    const int result = QApplication::exec();
    SaveChoices(form.Choices());
    return result;
}
