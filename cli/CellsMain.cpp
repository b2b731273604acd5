// kelvo-cells: the register of tests and cells from the command line.

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <stdexcept>

#include "cli/CellsOptions.h"
#include "cli/CellsText.h"
#include "records/PackReport.h"
#include "records/Register.h"
#include "records/qt/PackSheet.h"
#include "support/qt/NamedCoreApplication.h"
#include "testrun/VerdictFile.h"

namespace {

constexpr char kProgram[] = "kelvo-cells";

void Error(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
}

// Standard output, whole; false when it could not be written (a full disk, a closed pipe).
bool Print(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

int Printed(const std::string& text) {
    if (Print(text)) return kCellsDone;
    Error("cannot write standard output");
    return kCellsCannotOpen;
}

// Sends the outbox to the server at `where` (empty: every server tests wait for): done only when
// nothing waits any more.
int Sync(const std::string& where) {
    const TOutboxReport report = TRegister::SendOutbox(where);
    if (!report.Error.empty()) Error(report.Error);
    const int printed = Printed("sent " + std::to_string(report.Sent) + ", pending " +
                                std::to_string(report.Pending) + "\n");
    if (printed != kCellsDone) return printed;
    return report.Pending == 0 && report.Error.empty() ? kCellsDone : kCellsCannotOpen;
}

// The identifiers in `path`, one a line (blank lines and blanks around a name skipped); nothing
// when it cannot be read.
std::optional<std::set<std::string>> CellNamesIn(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::set<std::string> names;
    for (std::string line; std::getline(file, line);) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        names.insert(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
    }
    if (file.bad()) return std::nullopt;
    return names;
}

int Pack(TRegister& cells, TCellsOptions options, int argc, char** argv) {
    if (!options.CellsFile.empty()) {
        options.Filter.Only = CellNamesIn(options.CellsFile);
        if (!options.Filter.Only) {
            Error("cannot read " + options.CellsFile);
            return kCellsCannotOpen;
        }
    }
    const std::vector<TPackCell> candidates = PackCandidates(cells.Cells(), options.Filter);
    const size_t needed = static_cast<size_t>(options.Series) * options.Parallel;
    if (candidates.size() < needed) {
        Error(std::to_string(candidates.size()) + " cells with a measured capacity pass the " +
              "filters; a " + std::to_string(options.Series) + "S" +
              std::to_string(options.Parallel) + "P pack needs " + std::to_string(needed) + ": " +
              std::to_string(needed - candidates.size()) + " missing");
        return kCellsUsage;
    }
    const TPack pack = BuildPack(candidates, options.Series, options.Parallel);
    if (!options.Output.empty()) {
        if (const std::string failure = WriteFileWhole(options.Output, PackCsv(pack));
            !failure.empty()) {
            Error("cannot write " + options.Output + ": " + failure);
            return kCellsCannotOpen;
        }
    }
    if (!options.Sheet.empty()) {
        // Drawn without a display, whatever the session has.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        const QGuiApplication drawing(argc, argv);
        try {
            WritePackSheet(options.Sheet, pack, PackTitle(pack));
        } catch (const std::runtime_error& error) {
            Error(error.what());
            return kCellsCannotOpen;
        }
    }
    return Printed(options.Json ? PackJson(pack) : PackTitle(pack) + "\n" + PackText(pack));
}

int RunCommand(TRegister& cells, const TCellsOptions& options, int argc, char** argv) {
    switch (options.Command) {
        case TCellsCommand::List: {
            const auto all = cells.Cells();
            return Printed(options.Json ? CellsJson(all) : CellsTable(all));
        }
        case TCellsCommand::Show: {
            const auto history = cells.Cell(options.Cell);
            if (!history) {
                Error("no cell '" + Printable(options.Cell) + "' in " + cells.Location());
                return kCellsUnknown;
            }
            return Printed(options.Json ? CellHistoryJson(*history) : CellHistoryText(*history));
        }
        case TCellsCommand::Unassigned: {
            const TCellHistory history{{}, cells.UnassignedTests()};
            return Printed(options.Json ? CellHistoryJson(history) : CellHistoryText(history));
        }
        case TCellsCommand::Export: {
            const std::string csv = CellsCsv(cells.Cells());
            if (options.Output.empty()) return Printed(csv);
            if (const std::string failure = WriteFileWhole(options.Output, csv); !failure.empty()) {
                Error("cannot write " + options.Output + ": " + failure);
                return kCellsCannotOpen;
            }
            return kCellsDone;
        }
        case TCellsCommand::Import: {
            const TImportResult result = cells.Import(options.Paths, options.Station);
            for (const std::string& file : result.Unreadable) {
                std::error_code error;
                Error(Printable(file) + (std::filesystem::exists(file, error)
                                             ? ": cannot be read as a test verdict"
                                             : ": no such file or folder"));
            }
            const int printed =
                Printed("imported " + std::to_string(result.Imported) + ", already there " +
                        std::to_string(result.AlreadyThere) + ", unreadable " +
                        std::to_string(result.Unreadable.size()) + "\n");
            if (printed != kCellsDone) return printed;
            return result.Unreadable.empty() ? kCellsDone : kCellsUnknown;
        }
        case TCellsCommand::Assign:
            if (!cells.Assign(options.TestId, options.Cell)) {
                Error("no test " + std::to_string(options.TestId) + " in " + cells.Location());
                return kCellsUnknown;
            }
            return kCellsDone;
        case TCellsCommand::Rate:
            // A name mistyped would otherwise make a new cell beside the one meant.
            if (!options.New && !cells.Cell(options.Cell)) {
                Error("no cell '" + Printable(options.Cell) + "' in " + cells.Location() +
                      "; rate --new adds it");
                return kCellsUnknown;
            }
            cells.Rate(options.Cell, options.RatedAh);
            return kCellsDone;
        case TCellsCommand::Pack:
            return Pack(cells, options, argc, argv);
        case TCellsCommand::Sync:
            break;  // before the register is opened
    }
    return kCellsUsage;
}

}  // namespace

int main(int argc, char** argv) {
    const TParsedCellsCommandLine command = ParseCellsCommandLine(argc, argv);
    if (!command.Error.empty()) {
        SayUsageError(kProgram, command.Error);
        return kCellsUsage;
    }
    if (!command.Options) return Printed(command.Output);
    const TCellsOptions& options = *command.Options;
    if (options.Command == TCellsCommand::Sync) return Sync(options.Register);
    try {
        const std::unique_ptr<TRegister> cells = TRegister::Open(
            options.Register.empty() ? TRegister::DefaultLocation() : options.Register);
        return RunCommand(*cells, options, argc, argv);
    } catch (const TRegisterError& error) {
        Error(error.what());
        return kCellsCannotOpen;
    }
}
