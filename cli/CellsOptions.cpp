#include "cli/CellsOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <charconv>
#include <cmath>

#include "platform/Folders.h"
#include "records/Register.h"
#include "support/NumberText.h"
#include "support/qt/NamedCoreApplication.h"

namespace {

constexpr char kProgramName[] = "kelvo-cells";
// Groups in series, or cells in parallel, at most: far beyond any pack, well within an int.
constexpr int kMostInPack = 10000;

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
    "  rate CELL AH         sets a cell's rated capacity in Ah, e.g. 2.6; a cell that is not\n"
    "                       in the register yet only with --new\n"
    "  sync                 sends the tests that wait in the outbox to the server of\n"
    "                       --register, or to every server they wait for; prints\n"
    "                       \"sent N, pending M\"\n"
    "  pack --series S --parallel P\n"
    "                       groups tested cells into S groups in series of P cells in\n"
    "                       parallel, the groups' capacities as equal as they can be: the\n"
    "                       pack's capacity (its smallest group) as large as possible, so the\n"
    "                       strongest cells are used, then the spread of the groups as small\n"
    "                       as possible, then cells of close internal resistance together.\n"
    "                       Only cells with a measured capacity take part; --min-soh,\n"
    "                       --max-ir (a cell whose state of health or IR is unknown fails\n"
    "                       them), --min-capacity, --tested-since and --cells choose among\n"
    "                       them. Prints the groups (--json: keys groups, pack_capacity_mah,\n"
    "                       spread_mah, spread_pct, lower_bound_mah, unused); --output FILE\n"
    "                       writes them as CSV (group,cell,capacity_mah,ir_mohm), --sheet\n"
    "                       FILE.pdf or .png a sheet to print, a box per group (PNG: one\n"
    "                       file a page, the second FILE_2.png, ...). Fewer cells than S x P:\n"
    "                       exit 2\n\n"
    "A cell's capacity is that of its newest test that ended at the cutoff voltage; tests "
    "stopped by the operator, the timer, the tester or a lost connection measure none. Its "
    "internal resistance is the newest measured; its state of health is its capacity against "
    "its rated capacity, or, without a rating, against the capacity of its first cutoff test "
    "once it has two cutoff tests or more; else it is unknown (\"-\", null in JSON). Numbers "
    "are written with a decimal point in every locale.\n\n"
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
    "  3  the register cannot be opened or written (read-only, or a server that cannot be\n"
    "     reached or refuses), or the export's file cannot be written; sync: tests still wait";

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
    {"pack", TCellsCommand::Pack, 0},
};

// The pack's options into `options`; why they cannot be taken, or "".
std::string ReadPackOptions(const QCommandLineParser& parser, TCellsOptions& options) {
    const auto value = [&](const char* name) { return parser.value(name).toStdString(); };
    for (const auto& [name, count] :
         {std::pair{"series", &options.Series}, std::pair{"parallel", &options.Parallel}}) {
        const std::string given = value(name);
        if (given.empty()) return std::string("pack needs --") + name;
        const auto number = PlainNumber(given);
        if (!number || *number != std::floor(*number) || *number < 1 || *number > kMostInPack) {
            return std::string("--") + name + " takes a whole number from 1 to " +
                   std::to_string(kMostInPack) + ", not '" + given + "'";
        }
        *count = static_cast<int>(*number);
    }
    const TPackFilterTexts texts{value("min-soh"), value("max-ir"), value("min-capacity"),
                                 value("tested-since")};
    if (const std::optional<TPackFilterFault> fault = ReadPackFilter(texts, options.Filter)) {
        static const char* const kNames[] = {"--min-soh", "--max-ir", "--min-capacity",
                                             "--tested-since"};
        return std::string(kNames[fault->Which]) + " takes " + fault->Why;
    }
    options.CellsFile = value("cells");
    if (parser.isSet("cells") && options.CellsFile.empty()) return "--cells takes a file";
    options.Sheet = value("sheet");
    const auto endsWith = [&](const char* suffix) {
        const std::string lower = QString::fromStdString(options.Sheet).toLower().toStdString();
        return lower.size() > 4 && lower.compare(lower.size() - 4, 4, suffix) == 0;
    };
    if (parser.isSet("sheet") && !endsWith(".pdf") && !endsWith(".png")) {
        return "--sheet takes a file ending in .pdf or .png, not '" + options.Sheet + "'";
    }
    return {};
}

// The arguments with those that read as negative numbers ("rate C -1") behind "--", in their order
// among the command's words: the parser would take them for unknown short options. Unchanged when
// there is none. `options`: those of the parser, some of which take the next argument as their
// value (which stays with its option, negative or not).
QStringList NegativesAsWords(const QStringList& arguments,
                             const std::vector<const QCommandLineOption*>& options) {
    const auto takesValue = [&](const QString& word) {
        for (const QCommandLineOption* option : options) {
            if (option->valueName().isEmpty()) continue;
            for (const QString& name : option->names()) {
                if (word == (name.size() == 1 ? "-" : "--") + name) return true;
            }
        }
        return false;
    };
    const auto isOption = [](const QString& word) {
        return word.size() > 1 && word.startsWith('-') && !PlainNumber(word.toStdString());
    };
    QStringList flags{arguments.value(0)}, words;
    bool negative = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (word == "--") {
            words += arguments.mid(i + 1);
            break;
        }
        if (isOption(word)) {
            flags << word;
            if (takesValue(word) && i + 1 < arguments.size()) flags << arguments[++i];
        } else {
            negative |= word.size() > 1 && word.startsWith('-');
            words << word;
        }
    }
    if (!negative) return arguments;
    return flags + QStringList{"--"} + words;
}

}  // namespace

TParsedCellsCommandLine ParseCellsCommandLine(int argc, char** argv) {
    const TNamedCoreApplication core(argc, argv, kProgramName);

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    const QCommandLineOption registerAt(
        "register",
        QString("The register at LOCATION instead of the default ") +
            QString::fromStdString(platform::UserDataFileText("Kelvo/register.sqlite")) + ". " +
            RegisterLocationForms(),
        "LOCATION");
    const QCommandLineOption json("json", "list, show, unassigned, pack: print JSON.");
    const QCommandLineOption output("output", "export, pack: write the CSV to FILE.", "FILE");
    const QCommandLineOption station("station", "import: the station of verdicts that name none.",
                                     "NAME");
    const QCommandLineOption series("series", "pack: S groups in series.", "S");
    const QCommandLineOption parallel("parallel", "pack: P cells in parallel in each group.", "P");
    const QCommandLineOption minSoh("min-soh", "pack: cells of at least PCT % state of health.",
                                    "PCT");
    const QCommandLineOption maxIr("max-ir", "pack: cells of at most MOHM milliohms.", "MOHM");
    const QCommandLineOption minCapacity("min-capacity", "pack: cells of at least AH Ah.", "AH");
    const QCommandLineOption testedSince(
        "tested-since", "pack: cells last tested on DATE (YYYY-MM-DD) or later.", "DATE");
    const QCommandLineOption cellsFile("cells", "pack: only the cells named in FILE, one a line.",
                                       "FILE");
    const QCommandLineOption sheet("sheet", "pack: write a sheet to print, FILE.pdf or FILE.png.",
                                   "FILE");
    const QCommandLineOption addNew(
        "new",
        "rate: add the cell when the register has none of that name (else a typo is refused).");
    const std::vector<const QCommandLineOption*> all = {
        &help,   &version, &registerAt,  &json,        &output,    &station, &series, &parallel,
        &minSoh, &maxIr,   &minCapacity, &testedSince, &cellsFile, &sheet,   &addNew};
    for (const QCommandLineOption* option : all) parser.addOption(*option);
    parser.addPositionalArgument(
        "command", "list, show, unassigned, export, import, assign, rate, sync or pack.",
        "command [arguments]");

    TParsedCellsCommandLine result;
    const auto refuse = [&](const std::string& why) {
        result.Error = why;
        return result;
    };
    if (!parser.parse(NegativesAsWords(QCoreApplication::arguments(), all))) {
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
            "a command is needed: list, show, unassigned, export, import, assign, rate, sync or "
            "pack");
    const TCommandName* command = nullptr;
    for (const TCommandName& known : kCommands) {
        if (words[0] == known.Name) command = &known;
    }
    if (command == nullptr) return refuse("unknown command '" + words[0] + "'");
    const std::string name = command->Name;
    const size_t given = words.size() - 1;
    if (command->Command == TCellsCommand::Import ? given == 0 : given != command->Arguments) {
        static const char* const kForms[] = {
            "list",         "show CELL",      "unassigned",
            "export",       "import PATH...", "assign TEST-ID CELL",
            "rate CELL AH", "sync",           "pack --series S --parallel P"};
        return refuse("the form is: " + std::string(kForms[command - kCommands]));
    }

    TCellsOptions options;
    options.Command = command->Command;
    const bool pack = options.Command == TCellsCommand::Pack;
    const bool listOrShow = options.Command == TCellsCommand::List ||
                            options.Command == TCellsCommand::Show ||
                            options.Command == TCellsCommand::Unassigned;
    if (parser.isSet(json) && !listOrShow && !pack) return refuse(name + " takes no --json");
    if (parser.isSet(output) && options.Command != TCellsCommand::Export && !pack) {
        return refuse(name + " takes no --output");
    }
    for (const QCommandLineOption* packOnly :
         {&series, &parallel, &minSoh, &maxIr, &minCapacity, &testedSince, &cellsFile, &sheet}) {
        if (parser.isSet(*packOnly) && !pack) {
            return refuse(name + " takes no --" + packOnly->names().first().toStdString());
        }
    }
    if (parser.isSet(station) && options.Command != TCellsCommand::Import) {
        return refuse(name + " takes no --station");
    }
    if (parser.isSet(addNew) && options.Command != TCellsCommand::Rate) {
        return refuse(name + " takes no --new");
    }
    options.New = parser.isSet(addNew);
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
        case TCellsCommand::Pack:
            if (const std::string why = ReadPackOptions(parser, options); !why.empty()) {
                return refuse(why);
            }
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
