// kelvo-run: one discharge test from the command line, for scripts, labs and headless machines.

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/RunOptions.h"
#include "cli/Runner.h"
#include "platform/Signals.h"
#include "support/qt/DebugSwitch.h"
#include "support/qt/NamedCoreApplication.h"

int main(int argc, char** argv) {
    // Before any thread exists, so that the end signals reach only the runner's descriptor.
    platform::BlockEndSignals();

    const TParsedCommandLine command = ParseRunCommandLine(argc, argv);
    if (!command.Error.empty()) {
        SayUsageError("kelvo-run", command.Error);
        return kExitUsage;
    }
    if (!command.Options) {
        std::fputs(command.Output.c_str(), stdout);
        return 0;
    }
    const TRunOptions& options = *command.Options;
    if (!options.Log.empty() && std::filesystem::exists(options.Log)) {
        std::fprintf(stderr, "kelvo-run: %s exists; a log is always a new file\n",
                     options.Log.c_str());
        return kExitUsage;
    }

    QCoreApplication app(argc, argv);
    ApplyDebugSwitch(options.Debug);
    if (options.ListPorts) {
        ListPorts();
        return 0;
    }
    // Without it Ctrl+C could not stop the test at the tester: the signals are blocked.
    const int endSignals = platform::EndSignalDescriptor();
    if (endSignals < 0) {
        std::fprintf(stderr, "kelvo-run: cannot watch for Ctrl+C, SIGTERM and SIGHUP: %s\n",
                     std::strerror(errno));
        return kExitCannotOpen;
    }
    TRunner runner(options, endSignals);
    runner.Start();
    return QCoreApplication::exec();
}
