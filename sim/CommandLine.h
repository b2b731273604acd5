#pragma once
// The command line of kelvo-sim: which tester to simulate and under which name to publish it.

#include <string>
#include <vector>

#include "sim/PtyTester.h"

namespace sim {

struct ProgramOptions {
    std::string name = "ttyKELVO0";  // bare port name in the virtual port folder
    Options tester;
    bool help = false;     // --help: print Usage() and do nothing else
    bool version = false;  // --version: print the program's version and do nothing else
};

// Parses the arguments after the program name. Options take their value as the next argument or
// after '=' (--seed 7, --seed=7). Throws std::invalid_argument with a message naming the option
// for an unknown option, a missing or malformed value, or one out of range.
ProgramOptions ParseCommandLine(const std::vector<std::string>& args);

// The --help text.
std::string Usage();

}  // namespace sim
