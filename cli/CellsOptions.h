#pragma once
// The command line of kelvo-cells, read and checked before the register is opened: a command
// with the wrong arguments or an option it does not take is a usage error, and touches nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/PackReport.h"

enum class TCellsCommand { List, Show, Unassigned, Export, Import, Assign, Rate, Sync, Pack };

struct TCellsOptions {
    TCellsCommand Command = TCellsCommand::List;
    std::string Register;  // a file or a server's location; empty: TRegister::DefaultLocation()
                           // (sync: every server that tests wait for)
    bool Json = false;     // list, show, unassigned, pack
    std::string Output;    // export, pack: the CSV file; empty: standard output (export)
    std::optional<std::string> Station;  // import: for verdicts that name none
    std::string Cell;                    // show, assign, rate
    int64_t TestId = 0;                  // assign
    double RatedAh = 0;                  // rate; above 0
    bool New = false;                    // rate: the cell may be one the register does not have
    std::vector<std::string> Paths;      // import: files and folders
    int Series = 0, Parallel = 0;        // pack: groups in series, cells in parallel in each
    TPackFilter Filter;                  // pack: which cells take part (Only: from CellsFile)
    std::string CellsFile;               // pack: one identifier a line; empty: all cells
    std::string Sheet;                   // pack: the sheet to print, .pdf or .png; empty: none
};

// What the command line asks for: a command to run, or a program that is done.
struct TParsedCellsCommandLine {
    std::optional<TCellsOptions> Options;
    std::string Output;  // for standard output (help, version), when done
    std::string Error;   // the usage error, when there is one
};

TParsedCellsCommandLine ParseCellsCommandLine(int argc, char** argv);

// The exit codes, as --help lists them.
enum TCellsExit : int {
    kCellsDone = 0,
    kCellsUnknown = 1,  // an unknown cell or test, or files that could not be read
    kCellsUsage = 2,
    kCellsCannotOpen = 3,  // the register (or the export's file) cannot be opened or written;
                           // sync: tests still wait
};
