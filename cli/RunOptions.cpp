#include "cli/RunOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "records/Register.h"
#include "support/NumberText.h"
#include "support/TimeText.h"
#include "support/qt/NamedCoreApplication.h"
#include "testrun/ReaderCommand.h"
#include "testrun/SetpointRules.h"

namespace {

constexpr char kProgramName[] = "kelvo-run";
constexpr uint32_t kBauds[] = {9600, 19200, 38400, 57600, 115200};

const char* const kDescription =
    "Runs one discharge test on a Kelvo tester from the command line: sets the discharge current, "
    "the cutoff voltage and, when given, the test time, starts the test, logs every reading to "
    "a CSV file in the console's format, and prints the verdict when the test ends.\n\n"
    "Standard output carries only the verdict; progress goes to standard error. Ctrl+C, "
    "SIGTERM or SIGHUP stop the test at the tester: kelvo-run ends once a reading shows it "
    "stopped, sending Stop again for up to 5 s, and says whether the tester was seen stopped; a "
    "second Ctrl+C ends at once. A test that does not start, or a tester that gives no reading "
    "for 10 s, is stopped the same way.\n\n"
    "Exit codes:\n"
    "  0  the test ended at its cutoff voltage or its test time\n"
    "  1  it was stopped at the tester, or never started although the tester answers\n"
    "  2  usage error\n"
    "  3  the port or the log could not be opened\n"
    "  4  the connection was lost, or no reading came within 10 s\n"
    "  5  stopped by a signal\n\n"
    "Every verdict is also written beside the log as <log>_test1.json and recorded in the "
    "register of tests and cells (see kelvo-cells); a register that cannot be written loses "
    "nothing: the run, its log, its verdict and its exit code stay as they are, and kelvo-cells "
    "import records the verdict later. A register on a PostgreSQL server that is away, restarts "
    "or refuses the login keeps the verdict in the outbox of the default register file, from "
    "where the next record, the next program that opens that register, or kelvo-cells sync "
    "sends it; kelvo-run says so once.\n\n"
    "With --mqtt, the tester's status, every reading and the verdict go to an MQTT broker as "
    "well (kelvo/<station>/<port>/status, reading, verdict), for the lab's dashboards; a "
    "broker that is away or slow never holds up the test or its log: readings are then dropped "
    "and counted, the verdict waits for the broker for up to 10 s at the end.\n\n"
    "Several testers: one kelvo-run per port, side by side.";

QString LargestTestTimeText() {
    return QString::fromStdString(DurationText(kLargestTestTimeS));
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
    const TNamedCoreApplication core(argc, argv, kProgramName);

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    const QCommandLineOption port("port",
                                  "The tester's serial port NAME (ttyUSB0, or a "
                                  "simulated tester's name).",
                                  "NAME");
    const QCommandLineOption baud("baud",
                                  "The line speed: 9600 (default), 19200, 38400, 57600 "
                                  "or 115200.",
                                  "RATE");
    const QCommandLineOption current("current", "The discharge current in amperes, e.g. 1.5.", "A");
    const QCommandLineOption cutoff("cutoff", "The cutoff voltage in volts, e.g. 3.0.", "V");
    const QCommandLineOption time("time",
                                  QString("The test time as H:MM:SS, at most %1; "
                                          "without it the tester's own setting stays.")
                                      .arg(LargestTestTimeText()),
                                  "H:MM:SS");
    const QCommandLineOption log("log",
                                 "Write the CSV log to FILE (a new file) instead of the "
                                 "console's log folder.",
                                 "FILE");
    const QCommandLineOption cell("cell",
                                  "The cell under test, as its label names it: the verdict and "
                                  "the register record the test for it.",
                                  "ID");
    const QCommandLineOption rated("rated",
                                   "The cell's rated capacity in Ah, set in the register "
                                   "(needs --cell).",
                                   "AH");
    const QCommandLineOption station("station",
                                     "The name of this test station in the verdict and the "
                                     "register (default: the host name up to its first dot).",
                                     "NAME");
    const QCommandLineOption registerAt(
        "register",
        QString("Record the verdict in the register at LOCATION instead of the default "
                "$XDG_DATA_HOME/Kelvo/register.sqlite (~/.local/share/Kelvo/register.sqlite). ") +
            RegisterLocationForms(),
        "LOCATION");
    const QCommandLineOption json("json", "Print the verdict as one JSON object.");
    const QCommandLineOption quiet("quiet", "Print only the verdict: no progress, no messages.");
    const QCommandLineOption debug("debug", "Write the link's debug lines to standard error.");
    const QCommandLineOption list("list-ports",
                                  "List the serial ports, one per line: the "
                                  "name, a tab, the adapter's vendor and product.");
    const TStandardOptions said =
        ParseStandardOptions(parser,
                             WithOptions({port, baud, current, cutoff, time, log, cell, rated,
                                          station, registerAt, json, quiet, debug, list},
                                         kTelemetryOptionTexts),
                             std::string(kProgramName) + " " + KELVO_PROJECT_VERSION);
    TParsedCommandLine result;
    result.Output = said.Output;
    result.Error = said.Error;
    if (said.Done()) return result;
    const auto refuse = [&](const QString& why) {
        result.Error = why.toStdString();
        return result;
    };
    TRunOptions options;
    options.ListPorts = parser.isSet(list);
    options.Json = parser.isSet(json);
    options.Quiet = parser.isSet(quiet);
    options.Debug = parser.isSet(debug);
    if (options.ListPorts) {
        result.Options = options;
        return result;
    }

    options.Port = parser.value(port).toStdString();
    if (options.Port.empty()) return refuse("--port is needed");
    if (options.Port.find('/') != std::string::npos) {
        return refuse("--port takes a port name as the console lists it, not a path");
    }
    if (parser.isSet(baud)) {
        const auto rate = PlainNumber(parser.value(baud).toStdString());
        const auto known = std::find(std::begin(kBauds), std::end(kBauds),
                                     rate ? static_cast<uint32_t>(*rate) : 0);
        if (!rate || known == std::end(kBauds) || *rate != *known) {
            return refuse("--baud must be 9600, 19200, 38400, 57600 or 115200");
        }
        options.Baud = *known;
    }
    struct TSetpoint {
        const QCommandLineOption& Option;
        int Kind;
        double& Value;
    };
    for (const TSetpoint& setpoint : {TSetpoint{current, cmdSetCurrent, options.Current},
                                      TSetpoint{cutoff, cmdSetCutoffVoltage, options.Cutoff}}) {
        const QString given = parser.value(setpoint.Option);
        const QString option = "--" + setpoint.Option.names().first();
        if (given.isEmpty()) return refuse(option + " is needed");
        const auto value = PlainNumber(given.toStdString());
        if (!value)
            return refuse(option + " takes a number with a decimal point, not '" + given + "'");
        if (const auto refusal = SetpointRefusal(setpoint.Kind, *value))
            return refuse(QString::fromStdString(*refusal));
        setpoint.Value = *value;
    }
    if (parser.isSet(time)) {
        const auto seconds = TestTimeText(parser.value(time).toStdString());
        if (!seconds) {
            return refuse(QString("--time takes H:MM:SS with minutes and seconds below 60, at most "
                                  "%1, not '%2'")
                              .arg(LargestTestTimeText(), parser.value(time)));
        }
        if (const auto refusal = SetpointRefusal(cmdSetTestTime, *seconds))
            return refuse(QString::fromStdString(*refusal));
        options.TestTime = *seconds;
    }
    options.Log = parser.value(log).toStdString();
    if (parser.isSet(cell)) {
        const std::string id = parser.value(cell).toStdString();
        if (!IsCellName(id)) {
            return refuse("--cell takes the cell's identifier: printable text, not blank");
        }
        options.Cell = id;
    }
    if (parser.isSet(rated)) {
        if (!options.Cell) return refuse("--rated needs --cell: the rating is the cell's");
        const auto ah = PlainNumber(parser.value(rated).toStdString());
        if (!ah || !(*ah > 0)) {
            return refuse(
                "--rated takes the capacity in Ah, a number above 0 with a decimal point, "
                "not '" +
                parser.value(rated) + "'");
        }
        options.RatedAh = *ah;
    }
    options.Station = parser.value(station).toStdString();
    if (parser.isSet(station) && options.Station.empty()) return refuse("--station takes a name");
    options.Register = parser.value(registerAt).toStdString();
    if (parser.isSet(registerAt) && options.Register.empty()) {
        return refuse("--register takes the register's file or server");
    }
    if (const std::optional<std::string> why = RegisterLocationRefusal(options.Register)) {
        return refuse(QString::fromStdString(*why));
    }
    const TTelemetrySettingsRead telemetry =
        ReadTelemetrySettings(TelemetryOptionsGiven(GivenOptions(parser)));
    if (!telemetry.Error.empty()) return refuse(QString::fromStdString(telemetry.Error));
    options.Telemetry = telemetry.Settings;
    result.Options = options;
    return result;
}
