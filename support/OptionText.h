#pragma once
// A command-line option as the layers without Qt describe it, for the programs' parsers
// (TCommandLine, and Qt's through WithOptions in support/qt/NamedCoreApplication.h).

#include <string>

struct TOptionText {
    const char* Name;
    const char* ValueName;  // nullptr: a switch
    const char* Help;
};

// What the options every program has say: a text to print before exiting 0 (--help, --version),
// a usage error to say before exiting 2, or neither, when the program goes on.
struct TStandardOptions {
    std::string Output;
    std::string Error;
    bool Done() const { return !Output.empty() || !Error.empty(); }
};

// Says a usage error on standard error the way every program of the project does.
void SayUsageError(const char* program, const std::string& error);
