// The console program: the application with its title, the console window, the (hidden)
// protocol description window, and the event loop.
#include <QCommandLineParser>

#include "app/ErrorBox.h"
#include "app/uProtoInfo.h"
#include "app/uReader.h"
#include "support/DebugSwitch.h"

int main(int argc, char** argv) {
    TConsoleApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Battery tester Kelvo console");

    QCommandLineParser parser;
    const QCommandLineOption debug("debug", "Write the link's debug lines to standard error.");
    parser.addOption(debug);
    parser.process(app);
    ApplyDebugSwitch(parser.isSet(debug));

    TForm1 form;
    TFProtoInfo protoInfo(&form);  // created hidden; the menu shows fresh windows of its own
    form.show();
    return QApplication::exec();
}
