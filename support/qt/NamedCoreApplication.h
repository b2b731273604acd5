#pragma once
// A core application for reading a program's command line before any window exists (so that
// --help and --version need no display): the parser wants an application object, and this one
// calls itself by the program's installed name in usage lines, whatever its file is called.
// Main thread; lives only while the command line is read.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/OptionText.h"

class TNamedCoreApplication {
  public:
    TNamedCoreApplication(int argc, char** argv, const char* name);
    ~TNamedCoreApplication();
    TNamedCoreApplication(const TNamedCoreApplication&) = delete;
    TNamedCoreApplication& operator=(const TNamedCoreApplication&) = delete;

  private:
    std::string FName;
    std::vector<char*> FArguments;  // argv with the name first; must outlive the application
    int FCount;
    std::unique_ptr<QCoreApplication> FApplication;
};

// Adds --help and --version to `parser` beside `options` and parses the application's arguments;
// positional arguments are a usage error. `versionLine` is what --version prints.
TStandardOptions ParseStandardOptions(QCommandLineParser& parser,
                                      const QList<QCommandLineOption>& options,
                                      const std::string& versionLine);

// `options` and the parser's options for `texts`.
QList<QCommandLineOption> WithOptions(QList<QCommandLineOption> options,
                                      std::span<const TOptionText> texts);
// What the parsed command line gave for the option `name`: its value, "" for a switch that is
// set, nothing when it is not given.
std::function<std::optional<std::string>(const char* name)> GivenOptions(
    const QCommandLineParser& parser);
