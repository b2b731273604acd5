#include "app/ConsoleOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "support/NamedCoreApplication.h"
#include "support/versionUtils.h"

namespace {

constexpr char kProgramName[] = "kelvo-console";

}  // namespace

std::optional<TConsoleOptions> ReadConsoleOptions(int argc, char** argv, int& exitCode) {
    const TNamedCoreApplication core(argc, argv, kProgramName);
    QCoreApplication::setApplicationVersion(QString::fromStdString(GetVersionValue("FileVersion")));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Console for the Kelvo bench battery tester: connect to the tester on a serial port, set "
        "the discharge current, the cutoff voltage and the test time, start and stop a discharge "
        "test, watch its values and chart, and log every reading to a CSV file.\n\n"
        "Logs go beside the program when its folder can be written (a build folder, a portable "
        "copy); an installed program writes them to \"Kelvo logs\" in the user's Documents "
        "folder. The port, speed, window and \"Reconnect automatically\" are remembered in the "
        "user's configuration folder.");
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    const QCommandLineOption port("port",
                                  "Select the serial port NAME at start (ttyUSB0, or the "
                                  "name of a simulated tester).",
                                  "NAME");
    const QCommandLineOption connect("connect", "Connect to the selected port at start.");
    const QCommandLineOption debug("debug",
                                   "Write the link's debug lines to standard error (also with "
                                   "QT_LOGGING_RULES=\"kelvo.debug=true\").");
    parser.addOptions({help, version, port, connect, debug});

    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgramName,
                     qPrintable(parser.errorText()), kProgramName);
        exitCode = 2;
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s: unexpected argument '%s'\nTry '%s --help'.\n", kProgramName,
                     qPrintable(parser.positionalArguments().first()), kProgramName);
        exitCode = 2;
        return std::nullopt;
    }
    if (parser.isSet(help)) {
        std::printf("%s", qPrintable(parser.helpText()));
        exitCode = 0;
        return std::nullopt;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", kProgramName, qPrintable(QCoreApplication::applicationVersion()));
        exitCode = 0;
        return std::nullopt;
    }
    return TConsoleOptions{parser.value(port), parser.isSet(connect), parser.isSet(debug)};
}
