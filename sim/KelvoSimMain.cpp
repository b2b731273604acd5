// kelvo-sim: a simulated tester published as a virtual serial port until it is stopped.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "platform/Signals.h"
#include "platform/VirtualPorts.h"
#include "sim/CommandLine.h"
#include "sim/PtyTester.h"

// The project version, given by the build (cmake/KelvoInstall.cmake).
#ifndef KELVO_PROJECT_VERSION
#error "KELVO_PROJECT_VERSION is not defined: configure through the top-level CMakeLists.txt"
#endif

int main(int argc, char** argv) {
    // Before the tester's thread exists, so that the signals reach only the wait below.
    platform::BlockEndSignals();

    sim::ProgramOptions options;
    try {
        options = sim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& error) {
        std::cerr << "kelvo-sim: " << error.what() << "\nTry 'kelvo-sim --help'.\n";
        return 2;
    }
    if (options.help) {
        std::cout << sim::Usage();
        return 0;
    }
    if (options.version) {
        std::cout << "kelvo-sim " KELVO_PROJECT_VERSION "\n";
        return 0;
    }

    try {
        sim::PtyTester tester(options.tester);
        // Declared after the tester: the entry goes before the terminal closes.
        const platform::PublishedPort port(options.name, tester.DevicePath());
        std::cout << port.Path() << std::endl;
        std::cerr << "kelvo-sim: " << tester.DevicePath() << " published as " << options.name
                  << "; stop with Ctrl+C\n";
        platform::WaitForEndSignal();
    } catch (const std::exception& error) {
        std::cerr << "kelvo-sim: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
