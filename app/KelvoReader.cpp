// The console program: the command line, the application with its title, then either the console
// window with the operator's remembered choices and the (hidden) protocol description window, or
// with --bench the bench of testers; and the event loop.
#include <QPointer>

#include "app/AboutBox.h"
#include "app/BenchWindow.h"
#include "app/ConsoleOptions.h"
#include "app/ErrorBox.h"
#include "app/RememberedChoices.h"
#include "app/uProtoInfo.h"
#include "app/uReader.h"
#include "support/qt/DebugSwitch.h"

namespace {

// A bench with the ports given, or else those of the last bench; `remembered` keeps its ports
// and place when it closes.
TBenchWindow* OpenBench(TRememberedChoices& remembered, const TConsoleOptions& options,
                        QWidget* parent = nullptr) {
    auto* bench = new TBenchWindow(remembered, options, {}, parent);
    bench->setAttribute(Qt::WA_DeleteOnClose);
    if (!remembered.BenchGeometry.isEmpty()) bench->restoreGeometry(remembered.BenchGeometry);
    for (const QString& port : options.Ports.isEmpty() ? remembered.BenchPorts : options.Ports) {
        bench->AddTester(port);
    }
    QObject::connect(bench, &TBenchWindow::Closing, bench,
                     [&remembered, bench](const QStringList& ports) {
                         remembered.BenchPorts = ports;
                         remembered.BenchGeometry = bench->saveGeometry();
                     });
    if (options.Connect) bench->ConnectAll();
    bench->show();
    return bench;
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    const auto options = ReadConsoleOptions(argc, argv, exitCode);
    if (!options) return exitCode;

    TConsoleApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Battery tester Kelvo console");
    QApplication::setDesktopFileName("org.kelvo.Console");
    QApplication::setWindowIcon(ProgramIcon());
    ApplyDebugSwitch(options->Debug);

    TRememberedChoices remembered = LoadChoices();
    if (options->Bench) {
        OpenBench(remembered, *options);
        const int result = QApplication::exec();
        SaveChoices(remembered);
        return result;
    }

    TForm1 form;
    TFProtoInfo protoInfo(&form);  // created hidden; the menu shows fresh windows of its own
    form.ApplyStartChoices(remembered, *options);
    QPointer<TBenchWindow> bench;
    QObject::connect(form.aBench, &QAction::triggered, &form, [&] {
        if (!bench) {
            TConsoleOptions benchOptions = *options;  // the session's, none of the console's ports
            benchOptions.Ports.clear();
            benchOptions.Connect = false;
            bench = OpenBench(remembered, benchOptions);
        }
        bench->raise();
        bench->activateWindow();
    });
    form.show();
    const int result = QApplication::exec();
    if (bench) {
        remembered.BenchPorts = bench->Ports();
        remembered.BenchGeometry = bench->saveGeometry();
        delete bench;  // its testers' connections end before the console's
    }
    TRememberedChoices choices = form.Choices();
    choices.BenchPorts = remembered.BenchPorts;
    choices.BenchGeometry = remembered.BenchGeometry;
    SaveChoices(choices);
    return result;
}
