#include "app/ConsoleOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <string>

#include "app/BenchWindow.h"
#include "platform/Folders.h"
#include "records/Register.h"
#include "support/qt/NamedCoreApplication.h"
#include "support/versionUtils.h"

namespace {

constexpr char kProgramName[] = "kelvo-console";
constexpr int kMostBenchTesters = TBenchWindow::kMostTesters;

// Why the ports given make no start: several without a bench, a port twice, too many.
QString PortsRefusal(const QStringList& ports, bool bench) {
    if (!bench && ports.size() > 1) return "--port is given once, except with --bench";
    if (ports.size() > kMostBenchTesters) {
        return QString("a bench holds %1 testers, not %2").arg(kMostBenchTesters).arg(ports.size());
    }
    for (qsizetype i = 1; i < ports.size(); ++i) {
        if (ports.indexOf(ports[i]) < i) return "--port " + ports[i] + " is given twice";
    }
    return {};
}

}  // namespace

std::optional<TConsoleOptions> ReadConsoleOptions(int argc, char** argv, int& exitCode) {
    const TNamedCoreApplication core(argc, argv, kProgramName);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Console for the Kelvo bench battery tester: connect to the tester on a serial port, set "
        "the discharge current, the cutoff voltage and the test time, start and stop a discharge "
        "test, watch its values and chart, and log every reading to a CSV file.\n\n"
        "Logs go beside the program when its folder can be written (a build folder, a portable "
        "copy); an installed program writes them to \"Kelvo logs\" in the user's Documents "
        "folder. Every verdict is also recorded in the register of tests and cells (see "
        "kelvo-cells), " +
        QString::fromStdString(platform::UserDataFileText("Kelvo/register.sqlite")) +
        " unless another is chosen. The port, speed, window, register, telemetry broker and "
        "\"Reconnect automatically\" are remembered in the user's configuration folder.");
    const QCommandLineOption port("port",
                                  "Select the serial port NAME at start (ttyUSB0, or the "
                                  "name of a simulated tester). With --bench, once for each "
                                  "tester of the bench.",
                                  "NAME");
    const QCommandLineOption connect("connect",
                                     "Connect to the selected port at start (with --bench: to "
                                     "every tester of the bench).");
    const QCommandLineOption bench(
        "bench",
        QString("Open the bench: up to %1 testers side by side, a tile for each, with one set of "
                "setpoints for all, Start all (F5) and Stop all (Shift+F5); each tester logs to "
                "Log_<date>_<time>_<port>.csv. Without --port, the ports of the last bench.")
            .arg(kMostBenchTesters));
    const QCommandLineOption debug("debug",
                                   "Write the link's debug lines to standard error (also with "
                                   "QT_LOGGING_RULES=\"kelvo.debug=true\").");
    const QCommandLineOption station("station",
                                     "The name of this test station in verdicts and the register "
                                     "(default: the host name up to its first dot).",
                                     "NAME");
    const QCommandLineOption registerAt(
        "register",
        QString("Record verdicts in the register at LOCATION instead of the default ") +
            QString::fromStdString(platform::UserDataFileText("Kelvo/register.sqlite")) +
            "; remembered. " + RegisterLocationForms(),
        "LOCATION");
    const TStandardOptions said = ParseStandardOptions(
        parser,
        WithOptions({port, connect, bench, debug, station, registerAt}, kTelemetryOptionTexts),
        std::string(kProgramName) + " " + GetVersionValue("FileVersion"));
    if (!said.Error.empty()) {
        SayUsageError(kProgramName, said.Error);
        exitCode = 2;
        return std::nullopt;
    }
    if (said.Done()) {
        std::fputs(said.Output.c_str(), stdout);
        exitCode = 0;
        return std::nullopt;
    }
    if (const auto refusal = RegisterLocationRefusal(parser.value(registerAt).toStdString())) {
        SayUsageError(kProgramName, "--register: " + *refusal);
        exitCode = 2;
        return std::nullopt;
    }
    const QStringList ports = parser.values(port);
    if (const QString refusal = PortsRefusal(ports, parser.isSet(bench)); !refusal.isEmpty()) {
        SayUsageError(kProgramName, refusal.toStdString());
        exitCode = 2;
        return std::nullopt;
    }
    const TTelemetryOptions telemetry = TelemetryOptionsGiven(GivenOptions(parser));
    if (const TTelemetrySettingsRead read = ReadTelemetrySettings(telemetry); !read.Error.empty()) {
        SayUsageError(kProgramName, read.Error);
        exitCode = 2;
        return std::nullopt;
    }
    TConsoleOptions options;
    options.Port = ports.value(0);
    options.Bench = parser.isSet(bench);
    options.Ports = ports;
    options.Connect = parser.isSet(connect);
    options.Debug = parser.isSet(debug);
    options.Station = parser.value(station);
    options.Register = parser.value(registerAt);
    if (!telemetry.Location.empty()) {
        options.Telemetry = TTelemetryChoice{
            QString::fromStdString(telemetry.Location), QString::fromStdString(telemetry.CaFile),
            QString::fromStdString(telemetry.PasswordFile), !telemetry.NoDiscovery};
    }
    return options;
}
