#include "cli/CellsOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <charconv>
#include <cmath>

#include "records/Register.h"
#include "support/NamedCoreApplication.h"
#include "support/NumberText.h"

namespace {

constexpr char kProgramName[] = "kelvo-cells";

const char* const kDescription =
    "Lists, shows, exports and fills the register of battery tests and the cells they measured. "
    "kelvo-run and the console record every test that ends in it; import records verdict files "
    "written before, or while the register could not be written.\n\n"
    "Commands:\n"
    "  list                 every cell, one line each: its tests, capacity (Ah), internal\n"
    "                       resistance (milliohms), state of health (%), rated capacity (Ah),\n"
    "                       last tested; --json prints an array of objects with the keys\n"
    "                       cell, tests, capacity_ah, ir_ohm, soh_pct, rated_ah, last_tested\n"
    "  show CELL            the cell and its tests, newest first; --json prints the keys cell,\n"
    "                       rated_ah and tests (each with its id, every key of its verdict, and\n"
    "                       summary: the verdict file)\n"
    "  unassigned           the tests that name no cell (imported from before cells were\n"
    "                       named), newest first, as show lists them; --json as show prints\n"
    "  export               the cells as CSV: cell, capacity_mah, ir_mohm, soh_pct, tests,\n"
    "                       last_tested (to standard output, or to --output FILE)\n"
    "  import PATH...       records verdict files (<log>_test<N>.json), folders searched\n"
    "                       through; a test already there is not added again\n"
    "  assign TEST-ID CELL  gives a test (its id from show or unassigned) to a cell\n"
    "  rate CELL AH         sets a cell's rated capacity in Ah, e.g. 2.6\n"
    "  sync                 sends the tests that wait in the outbox to the server of\n"
    "                       --register, or to every server they wait for; prints\n"
    "                       \"sent N, pending M\"\n\n"
    "A cell's capacity is that of its newest test that ended at the cutoff voltage; tests "
    "stopped by the operator, the timer, the tester or a lost connection measure none. Its "
    "internal resistance is the newest measured; its state of health is its capacity against "
    "its rated capacity, or against the capacity of its first cutoff test when it has no "
    "rating. Numbers are written with a decimal point in every locale.\n\n"
    "A register on a PostgreSQL server is shared by a lab. Every test recorded there (by "
    "kelvo-run, the console or import) is first kept in the outbox of the default register "
    "file, and leaves it once the server has committed it: a server that is away, restarts or "
    "refuses the login loses no test. What waits is sent with the next record, whenever a "
    "program opens the register on that server, and by sync. Reading the register needs the "
    "server. The server's password is never part of --register: libpq takes it from "
    "~/.pgpass, the file named by PGPASSFILE, or PGPASSWORD.\n\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  an unknown cell or test, or some files could not be read\n"
    "  2  usage error\n"
    "  3  the register cannot be opened or written (a server that cannot be reached or refuses),\n"
    "     or the export's file cannot be written; sync: tests still wait";

struct TCommandName {
    const char* Name;
    TCellsCommand Command;
    size_t Arguments;  // after the command's name; import takes one or more
};
constexpr TCommandName kCommands[] = {
    {"list", TCellsCommand::List, 0},
    {"show", TCellsCommand::Show, 1},
    {"unassigned", TCellsCommand::Unassigned, 0},
    {"export", TCellsCommand::Export, 0},
    {"import", TCellsCommand::Import, 1},
    {"assign", TCellsCommand::Assign, 2},
    {"rate", TCellsCommand::Rate, 2},
    {"sync", TCellsCommand::Sync, 0},
};

}  // namespace

TParsedCellsCommandLine ParseCellsCommandLine(int argc, char** argv) {
    const TNamedCoreApplication core(argc, argv, kProgramName);

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    const QCommandLineOption registerAt(
        "register",
        QString("The register at LOCATION instead of the default "
                "$XDG_DATA_HOME/Kelvo/register.sqlite (~/.local/share/Kelvo/register.sqlite). ") +
            RegisterLocationForms(),
        "LOCATION");
    const QCommandLineOption json("json", "list, show, unassigned: print JSON.");
    const QCommandLineOption output("output", "export: write the CSV to FILE.", "FILE");
    const QCommandLineOption station("station", "import: the station of verdicts that name none.",
                                     "NAME");
    parser.addOptions({help, version, registerAt, json, output, station});
    parser.addPositionalArgument("command",
                                 "list, show, unassigned, export, import, assign, rate or sync.",
                                 "command [arguments]");

    TParsedCellsCommandLine result;
    const auto refuse = [&](const std::string& why) {
        result.Error = why;
        return result;
    };
    if (!parser.parse(QCoreApplication::arguments())) {
        return refuse(parser.errorText().toStdString());
    }
    if (parser.isSet(help)) {
        result.Output = parser.helpText().toStdString();
        return result;
    }
    if (parser.isSet(version)) {
        result.Output = std::string(kProgramName) + " " + KELVO_PROJECT_VERSION + "\n";
        return result;
    }

    std::vector<std::string> words;
    for (const QString& word : parser.positionalArguments()) words.push_back(word.toStdString());
    if (words.empty())
        return refuse(
            "a command is needed: list, show, unassigned, export, import, assign, rate or sync");
    const TCommandName* command = nullptr;
    for (const TCommandName& known : kCommands) {
        if (words[0] == known.Name) command = &known;
    }
    if (command == nullptr) return refuse("unknown command '" + words[0] + "'");
    const std::string name = command->Name;
    const size_t given = words.size() - 1;
    if (command->Command == TCellsCommand::Import ? given == 0 : given != command->Arguments) {
        static const char* const kForms[] = {
            "list",           "show CELL",           "unassigned",   "export",
            "import PATH...", "assign TEST-ID CELL", "rate CELL AH", "sync"};
        return refuse("the form is: " + std::string(kForms[command - kCommands]));
    }

    TCellsOptions options;
    options.Command = command->Command;
    const bool listOrShow = options.Command == TCellsCommand::List ||
                            options.Command == TCellsCommand::Show ||
                            options.Command == TCellsCommand::Unassigned;
    if (parser.isSet(json) && !listOrShow) return refuse(name + " takes no --json");
    if (parser.isSet(output) && options.Command != TCellsCommand::Export) {
        return refuse(name + " takes no --output");
    }
    if (parser.isSet(station) && options.Command != TCellsCommand::Import) {
        return refuse(name + " takes no --station");
    }
    options.Json = parser.isSet(json);
    options.Register = parser.value(registerAt).toStdString();
    if (parser.isSet(registerAt) && options.Register.empty()) {
        return refuse("--register takes the register's file or server");
    }
    if (const std::optional<std::string> why = RegisterLocationRefusal(options.Register)) {
        return refuse(*why);
    }
    if (options.Command == TCellsCommand::Sync && !options.Register.empty() &&
        !IsServerLocation(options.Register)) {
        return refuse(
            "sync sends the outbox to a server: --register takes its location, or is left out "
            "for every server that tests wait for");
    }
    options.Output = parser.value(output).toStdString();
    if (parser.isSet(output) && options.Output.empty()) return refuse("--output takes a file");
    if (parser.isSet(station)) {
        options.Station = parser.value(station).toStdString();
        if (options.Station->empty()) return refuse("--station takes a name");
    }

    switch (options.Command) {
        case TCellsCommand::List:
        case TCellsCommand::Unassigned:
        case TCellsCommand::Export:
        case TCellsCommand::Sync:
            break;
        case TCellsCommand::Show:
            options.Cell = words[1];
            break;
        case TCellsCommand::Import:
            options.Paths.assign(words.begin() + 1, words.end());
            break;
        case TCellsCommand::Assign: {
            const std::string& id = words[1];
            const auto [end, error] =
                std::from_chars(id.data(), id.data() + id.size(), options.TestId);
            if (id.empty() || error != std::errc() || end != id.data() + id.size() ||
                options.TestId <= 0) {
                return refuse("a test's id is a whole number above 0 (see show), not '" + id + "'");
            }
            options.Cell = words[2];
            break;
        }
        case TCellsCommand::Rate: {
            options.Cell = words[1];
            const auto ah = PlainNumber(words[2]);
            if (!ah || !std::isfinite(*ah) || *ah <= 0) {
                return refuse(
                    "a rated capacity is a number of Ah above 0 with a decimal point, "
                    "not '" +
                    words[2] + "'");
            }
            options.RatedAh = *ah;
            break;
        }
    }
    const bool names =
        options.Command == TCellsCommand::Assign || options.Command == TCellsCommand::Rate;
    if (names && !IsCellName(options.Cell)) {
        return refuse("a cell's name is printable text, without control characters, not blank");
    }
    result.Options = options;
    return result;
}
