#pragma once
// A command-line option as the layers without Qt describe it, for the programs' parsers
// (CommandLineOption in NamedCoreApplication.h).

struct TOptionText {
    const char* Name;
    const char* ValueName;  // nullptr: a switch
    const char* Help;
};
