#include "cli/RunOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/Folders.h"
#include "platform/Signals.h"
#include "records/Register.h"
#include "support/CommandLine.h"
#include "support/Format.h"
#include "support/NumberText.h"
#include "support/TimeText.h"
#include "support/versionUtils.h"
#include "testrun/ReaderCommand.h"
#include "testrun/SetpointRules.h"

namespace {

constexpr char kProgramName[] = "kelvo-run";
constexpr uint32_t kBauds[] = {9600, 19200, 38400, 57600, 115200};

// Adjacent literals, so that each build's text is one constant.
#if KELVO_POSTGRES
#define KELVO_SERVER_OUTBOX                                                                       \
    " A register on a PostgreSQL server that is away, restarts or refuses the login keeps the "  \
    "verdict in the outbox of the default register file, from where the next record, the next "  \
    "program that opens that register, or kelvo-cells sync sends it; kelvo-run says so once."
#else
#define KELVO_SERVER_OUTBOX ""
#endif
#if KELVO_MQTT
#define KELVO_PUBLISHED                                                                           \
    "With --mqtt, the tester's status, every reading and the verdict go to an MQTT broker as "    \
    "well (kelvo/<station>/<port>/status, reading, verdict), for the lab's dashboards; a "        \
    "broker that is away or slow never holds up the test or its log: readings are then dropped "  \
    "and counted, the verdict waits for the broker for up to 10 s at the end.\n\n"
#else
#define KELVO_PUBLISHED "This build does not publish to an MQTT broker: --mqtt is refused.\n\n"
#endif
#define KELVO_KEPT                                                                                \
    "Every verdict is also written beside the log as <log>_test1.json and recorded in the "       \
    "register of tests and cells (see kelvo-cells); a register that cannot be written loses "     \
    "nothing: the run, its log, its verdict and its exit code stay as they are, and kelvo-cells " \
    "import records the verdict later." KELVO_SERVER_OUTBOX "\n\n" KELVO_PUBLISHED

const char* const kDescription =
    "Runs one discharge test on a Kelvo tester from the command line: sets the discharge current, "
    "the cutoff voltage and, when given, the test time, starts the test, logs every reading to "
    "a CSV file in the console's format, and prints the verdict when the test ends.\n\n"
    "Standard output carries only the verdict; progress goes to standard error. " KELVO_END_SIGNAL_NAMES
    " stop the test at the tester: kelvo-run ends once a reading shows it "
    "stopped, sending Stop again for up to 5 s, and says whether the tester was seen stopped; a "
    "second Ctrl+C ends at once. A test that does not start, or a tester that gives no reading "
    "for 10 s, is stopped the same way.\n\n"
    "Exit codes:\n"
    "  0  the test ended at its cutoff voltage or its test time\n"
    "  1  it was stopped at the tester, or never started although the tester answers (the "
    "cause is said: a cutoff at or above the cell's voltage, a test time that an earlier test "
    "used up, ...)\n"
    "  2  usage error, or setpoints that make no test: a current below the tester's step of "
    "0.01 A (it would draw nothing and never end), or a cutoff of 0 V without --time (it would "
    "discharge the cell to 0 V)\n"
    "  3  the port or the log could not be opened, or a test that ended as set could not be kept "
    "whole: its log or its verdict file could not be written (the verdict is still printed, the "
    "file is named on standard error)\n"
    "  4  the connection was lost, or no reading came within 10 s\n"
    "  5  stopped by a signal\n\n" KELVO_KEPT
    "Several testers: --port once for each. The test runs on all at once, each tester with its "
    "own connection, log (Log_<date>_<time>_<port>.csv in the log folder), verdict file and "
    "register record; a tester that fails or is lost ends only its own test. Each verdict is "
    "printed as its test ends (with --json one object per line), messages and progress name their "
    "port, a signal stops every tester, and the exit code is the highest of theirs.";

std::string LargestTestTimeText() {
    return DurationText(kLargestTestTimeS);
}

// H:MM:SS, each part as the console's test-time input would keep it (not clamped).
std::optional<int> TestTimeText(const std::string& text) {
    long long seconds = 0;
    size_t at = 0;
    for (int part = 0; part < 3; ++part) {
        const size_t end = part < 2 ? text.find(':', at) : text.size();
        if (end == std::string::npos || end == at) return {};
        const std::string digits = text.substr(at, end - at);
        // Six digits of hours at most: whatever is longer is far past any test time, and could
        // not be counted in seconds without overflowing.
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6) {
            return {};
        }
        if (part > 0 && digits.size() != 2) return {};
        seconds = seconds * 60 + std::stoll(digits);
        at = end + 1;
    }
    if (TestTimeFromText(text) != seconds) return {};  // the input would clamp a part
    return static_cast<int>(seconds);
}

}  // namespace

TParsedCommandLine ParseRunCommandLine(int argc, char** argv) {
    // Help texts made at run time live as long as the parser that points at them.
    const std::string timeHelp = "The test time as H:MM:SS, at most " + LargestTestTimeText() +
                                 "; without it the tester's own setting stays.";
    const std::string registerHelp =
        std::string(
            "Record the verdict in the register at LOCATION instead of the default ") +
        platform::UserDataFileText("Kelvo/register.sqlite") + ". " +
        RegisterLocationForms();
    const TOptionText options[] = {
        {"port", "NAME",
         "The tester's serial port NAME (ttyUSB0, or a simulated tester's name). Given more than "
         "once, the same test runs on every tester named at once."},
        {"baud", "RATE", "The line speed: 9600 (default), 19200, 38400, 57600 or 115200."},
        {"current", "A", "The discharge current in amperes, 0.01 or more, e.g. 1.5."},
        {"cutoff", "V",
         "The cutoff voltage in volts, e.g. 3.0; 0 (no cutoff) only with --time. The tester "
         "ignores Start while the cell is at or below it."},
        {"time", "H:MM:SS", timeHelp.c_str()},
        {"log", "FILE",
         "Write the CSV log to FILE (a new file) instead of the console's log folder."},
        {"cell", "ID",
         "The cell under test, as its label names it: the verdict and the register record the "
         "test for it."},
        {"rated", "AH", "The cell's rated capacity in Ah, set in the register (needs --cell)."},
        {"station", "NAME",
         "The name of this test station in the verdict and the register (default: the host name "
         "up to its first dot)."},
        {"register", "LOCATION", registerHelp.c_str()},
        {"json", nullptr, "Print the verdict as one JSON object."},
        {"quiet", nullptr, "Print only the verdict: no progress, no messages."},
        {"debug", nullptr, "Write the link's debug lines to standard error."},
        {"list-ports", nullptr,
         "List the serial ports, one per line: the name, a tab, the adapter's vendor and "
         "product."},
    };
    TCommandLine parser(kProgramName, kDescription);
    parser.Add(options);
    parser.Add(kTelemetryOptionTexts);
    TParsedCommandLine result;
    const TStandardOptions said =
        parser.Parse(argc, argv, std::string(kProgramName) + " " + GetVersionValue("FileVersion"));
    result.Output = said.Output;
    result.Error = said.Error;
    if (said.Done()) return result;
    const auto refuse = [&](const std::string& why) {
        result.Error = why;
        return result;
    };
    TRunOptions run;
    run.ListPorts = parser.IsSet("list-ports");
    run.Json = parser.IsSet("json");
    run.Quiet = parser.IsSet("quiet");
    run.Debug = parser.IsSet("debug");
    if (run.ListPorts) {
        result.Options = run;
        return result;
    }

    run.Ports = parser.Values("port");
    if (run.Ports.empty()) return refuse("--port is needed");
    for (const std::string& port : run.Ports) {
        if (port.empty()) return refuse("--port takes a port name");
        if (port.find('/') != std::string::npos) {
            return refuse("--port takes a port name as the console lists it, not a path");
        }
        if (std::count(run.Ports.begin(), run.Ports.end(), port) > 1) {
            return refuse("--port " + port + " is given twice: one test per tester");
        }
    }
    run.Port = run.Ports.front();
    const bool several = run.Ports.size() > 1;
    if (parser.IsSet("baud")) {
        const auto rate = PlainNumber(parser.Value("baud"));
        const auto known = std::find(std::begin(kBauds), std::end(kBauds),
                                     rate ? static_cast<uint32_t>(*rate) : 0);
        if (!rate || known == std::end(kBauds) || *rate != *known) {
            return refuse("--baud must be 9600, 19200, 38400, 57600 or 115200");
        }
        run.Baud = *known;
    }
    struct TSetpoint {
        const char* Option;
        int Kind;
        double& Value;
    };
    for (const TSetpoint& setpoint : {TSetpoint{"current", cmdSetCurrent, run.Current},
                                      TSetpoint{"cutoff", cmdSetCutoffVoltage, run.Cutoff}}) {
        const std::string given = parser.Value(setpoint.Option);
        const std::string option = std::string("--") + setpoint.Option;
        if (given.empty()) return refuse(option + " is needed");
        const auto value = PlainNumber(given);
        if (!value)
            return refuse(option + " takes a number with a decimal point, not '" + given + "'");
        if (const auto refusal = SetpointRefusal(setpoint.Kind, *value)) return refuse(*refusal);
        setpoint.Value = *value;
    }
    if (parser.IsSet("time")) {
        const auto seconds = TestTimeText(parser.Value("time"));
        if (!seconds) {
            return refuse("--time takes H:MM:SS with minutes and seconds below 60, at most " +
                          LargestTestTimeText() + ", not '" + parser.Value("time") + "'");
        }
        if (const auto refusal = SetpointRefusal(cmdSetTestTime, *seconds)) return refuse(*refusal);
        run.TestTime = *seconds;
    }
    // Setpoints that the tester takes but that make no test: nothing is sent for them.
    if (const auto why = CurrentMakesNoTest(run.Current)) {
        return refuse(*why + " Give --current 0.01 or more.");
    }
    if (DrainsTheCell(run.Cutoff, run.TestTime.value_or(0))) {
        return refuse(
            "--cutoff " + parser.Value("cutoff") +
            " without a test time would discharge the cell to 0 V: give a cutoff of 0.01 V or "
            "more, or a test time with --time.");
    }
    run.Log = parser.Value("log");
    if (several && parser.IsSet("log")) {
        return refuse("--log names one file, so it takes one --port (with several, each log is "
                      "named with its port in the log folder)");
    }
    run.Station = parser.Value("station");
    if (parser.IsSet("station") && run.Station.empty()) return refuse("--station takes a name");
    if (parser.IsSet("cell")) {
        const std::string id = parser.Value("cell");
        if (!IsCellName(id)) {
            return refuse("--cell takes the cell's identifier: printable text, not blank");
        }
        if (several) {
            return refuse("--cell names one cell, so it takes one --port");
        }
        run.Cell = id;
    }
    if (parser.IsSet("rated")) {
        if (!run.Cell) return refuse("--rated needs --cell: the rating is the cell's");
        const auto ah = PlainNumber(parser.Value("rated"));
        if (!ah || !(*ah > 0)) {
            return refuse(
                "--rated takes the capacity in Ah, a number above 0 with a decimal point, "
                "not '" +
                parser.Value("rated") + "'");
        }
        run.RatedAh = *ah;
    }
    run.Register = parser.Value("register");
    if (parser.IsSet("register") && run.Register.empty()) {
        return refuse("--register takes the register's file or server");
    }
    if (const std::optional<std::string> why = RegisterLocationRefusal(run.Register)) {
        return refuse(*why);
    }
    const TTelemetrySettingsRead telemetry = ReadTelemetrySettings(
        TelemetryOptionsGiven([&](const char* name) { return parser.Given(name); }));
    if (!telemetry.Error.empty()) return refuse(telemetry.Error);
    run.Telemetry = telemetry.Settings;
    result.Options = run;
    return result;
}
