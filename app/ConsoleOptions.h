#pragma once
// The console's command line, read before any window exists, so that --help and --version work
// without a display (the man pages are made from them at build time).
//
//   kelvo-console [--port NAME] [--connect] [--debug]
//   kelvo-console --bench [--port NAME]... [--connect] [--debug]
//   kelvo-console --help | --version

#include <QString>
#include <QStringList>
#include <optional>

#include "app/TelemetryChoice.h"

struct TConsoleOptions {
    QString Port;          // select this port at start; empty: the remembered or first one
    bool Bench = false;    // open the bench instead of the console
    QStringList Ports;     // the bench's testers, in the order given; empty: the remembered ones
    bool Connect = false;  // connect at start, as if Connect were pressed
    bool Debug = false;    // write the link's debug lines to standard error
    QString Station;       // the station's name in verdicts and the register; empty: host name
    QString Register;      // record verdicts in this register; empty: the remembered one
    std::optional<TTelemetryChoice> Telemetry;  // --mqtt and its options; none: the remembered
};

// Reads the command line. Returns the options, or the exit code of a program that is done:
// 0 after printing help or version to standard output, 2 after printing a usage error to
// standard error.
std::optional<TConsoleOptions> ReadConsoleOptions(int argc, char** argv, int& exitCode);
