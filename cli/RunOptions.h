#pragma once
// The command line of kelvo-run, read and checked before anything reaches the tester: a value
// that the console's inputs would refuse or clamp is a usage error, so what is sent is exactly
// what was asked for.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/TelemetrySettings.h"

struct TRunOptions {
    std::string Port;                 // this run's bare port name, as the console lists it
    std::vector<std::string> Ports;   // every port of the command line; Port is the first
    uint32_t Baud = 9600;             // one of the console's five rates
    double Current = 0;               // A
    double Cutoff = 0;                // V
    std::optional<int> TestTime;      // s; not sent when not given
    std::string Log;                  // empty: the console's folder and name rule
    std::optional<std::string> Cell;  // the cell under test, as the register names it
    std::optional<double> RatedAh;    // the cell's rated capacity, set in the register
    std::string Station;              // empty: the host name (StationName)
    std::string Register;             // empty: the default register
    std::optional<TTelemetrySettings> Telemetry;  // --mqtt: publish to this broker
    bool Json = false;                            // the verdict as one JSON object
    bool Quiet = false;                           // nothing on standard error but errors
    bool Debug = false;                           // the link's debug lines on standard error
    bool ListPorts = false;
};

// What the command line asks for: options to run with, or a program that is done.
struct TParsedCommandLine {
    std::optional<TRunOptions> Options;
    std::string Output;  // for standard output (help, version), when done
    std::string Error;   // the usage error, when there is one (exit code 2)
};

TParsedCommandLine ParseRunCommandLine(int argc, char** argv);

// The exit codes, as --help lists them.
enum TRunExit : int {
    kExitEndedAsSet = 0,  // the test ended at its cutoff or time
    kExitTester = 1,      // stopped at the tester, or never started although it answers
    kExitUsage = 2,
    kExitCannotOpen = 3,
    kExitLost = 4,    // the connection was lost, or no reading came within 10 s
    kExitSignal = 5,  // stopped by Ctrl+C, SIGTERM or SIGHUP
};
