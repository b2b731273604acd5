// kelvo-run: a discharge test from the command line, on one tester or several at once, for
// scripts, labs and headless machines.

#include <cstdio>
#include <filesystem>

#include "cli/RunOptions.h"
#include "cli/Runner.h"
#include "platform/DebugOutput.h"
#include "platform/Signals.h"
#include "support/OptionText.h"

int main(int argc, char** argv) {
    // Before any thread exists, so that the end signals reach only the runner.
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

    platform::SetDebugOutputEnabled(options.Debug);
    if (options.ListPorts) {
        ListPorts();
        return 0;
    }
    return RunTests(options);
}
