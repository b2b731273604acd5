// kelvo-cells: the register of tests and cells from the command line.

#include <cstdio>
#include <filesystem>

#include "cli/CellsOptions.h"
#include "cli/CellsText.h"
#include "records/Register.h"
#include "support/NamedCoreApplication.h"
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

int RunCommand(TRegister& cells, const TCellsOptions& options) {
    switch (options.Command) {
        case TCellsCommand::List: {
            const auto all = cells.Cells();
            return Printed(options.Json ? CellsJson(all) : CellsTable(all));
        }
        case TCellsCommand::Show: {
            const auto history = cells.Cell(options.Cell);
            if (!history) {
                Error("no cell '" + options.Cell + "' in " + cells.Location());
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
            cells.Rate(options.Cell, options.RatedAh);
            return kCellsDone;
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
        return RunCommand(*cells, options);
    } catch (const TRegisterError& error) {
        Error(error.what());
        return kCellsCannotOpen;
    }
}
