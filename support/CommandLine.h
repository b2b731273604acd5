#pragma once
// A program's command line without Qt: long options (--name VALUE, --name=VALUE, --switch),
// -h/--help and -v/--version beside them, no positional arguments. The help text has the layout
// of the programs built with Qt: a usage line, the description, then the options in two columns.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/OptionText.h"

class TCommandLine {
  public:
    TCommandLine(std::string program, std::string description);

    // Adds the options of `texts` after those added before, in the order of the help.
    void Add(std::span<const TOptionText> texts);
    void Add(const TOptionText& text) { Add(std::span(&text, 1)); }

    // Reads argv[1..]: the text to print for --help or --version, a usage error, or neither.
    // The last of an option given twice holds.
    TStandardOptions Parse(int argc, const char* const* argv, const std::string& versionLine);

    bool IsSet(const char* name) const { return Given(name).has_value(); }
    // The option's value, "" for a switch that is set; nothing when it is not given.
    std::optional<std::string> Given(const char* name) const;
    // The value, "" when not given.
    std::string Value(const char* name) const { return Given(name).value_or(""); }
    // Every value of an option that may be given more than once, in the order given.
    std::vector<std::string> Values(const char* name) const;

    std::string HelpText() const;

  private:
    const TOptionText* Find(const std::string& name) const;

    std::string FProgram;
    std::string FDescription;
    std::vector<TOptionText> FOptions;
    std::vector<std::pair<std::string, std::string>> FGiven;  // name, value; in order
};
