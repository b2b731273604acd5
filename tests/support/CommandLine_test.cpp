// The command-line reader of the programs without Qt: what it accepts, what it refuses, and a
// help text laid out for a terminal of 80 columns.
#include "support/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

const TOptionText kOptions[] = {
    {"port", "NAME", "The port."},
    {"json", nullptr, "One JSON object."},
    {"register", "LOCATION",
     "A long help text that goes on past the width of a terminal, so that it must be broken "
     "at a blank and continue under the start of the first line."},
};

TStandardOptions Parse(TCommandLine& line, std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "prog");
    return line.Parse(static_cast<int>(arguments.size()), arguments.data(), "prog 1.2.3.4");
}

TEST(CommandLine, ValuesComeInEitherFormAndTheLastGivenHolds) {
    TCommandLine line("prog", "Does a thing.");
    line.Add(kOptions);
    EXPECT_FALSE(Parse(line, {"--port", "COM5", "--json", "--port=ttyUSB0"}).Done());
    EXPECT_EQ(line.Value("port"), "ttyUSB0");
    EXPECT_EQ(line.Given("json"), "");
    EXPECT_FALSE(line.Given("register"));
    EXPECT_FALSE(Parse(line, {"--port=", "--register", "--json"}).Done());  // a value like any
    EXPECT_EQ(line.Given("port"), "");
    EXPECT_EQ(line.Value("register"), "--json");
    EXPECT_FALSE(line.IsSet("json"));
    EXPECT_EQ(Parse(line, {"-v", "--bogus"}).Error, "Unknown option 'bogus'.");
    EXPECT_EQ(Parse(line, {"-v"}).Output, "prog 1.2.3.4\n");
}

TEST(CommandLine, WhatCannotBeReadIsAUsageError) {
    TCommandLine line("prog", "Does a thing.");
    line.Add(kOptions);
    const std::pair<std::vector<const char*>, std::string> refused[] = {
        {{"--port"}, "Missing value after '--port'."},
        {{"--json=yes"}, "Unexpected value after '--json'."},
        {{"stray"}, "unexpected argument 'stray'"},
        {{"--"}, "unexpected argument '--'"},
        {{"-x"}, "Unknown option 'x'."},
    };
    for (const auto& [arguments, error] : refused) {
        const TStandardOptions said = Parse(line, arguments);
        EXPECT_EQ(said.Error, error) << arguments.front();
        EXPECT_TRUE(said.Output.empty());
    }
}

TEST(CommandLine, HelpListsEveryOptionInTwoColumnsWithinEightyColumns) {
    TCommandLine line("prog", "Does a thing.");
    line.Add(kOptions);
    const std::string help = Parse(line, {"--port", "COM5", "-h"}).Output;
    EXPECT_EQ(help, line.HelpText());
    EXPECT_EQ(help.rfind("Usage: prog [options]\nDoes a thing.\n\nOptions:\n", 0), 0u) << help;
    std::istringstream lines(help);
    int options = 0;
    for (std::string text; std::getline(lines, text);) {
        EXPECT_LT(text.size(), 80u) << text;
        if (text.rfind("  -", 0) == 0) ++options;
    }
    EXPECT_EQ(options, 5) << help;
    // The second column starts one blank after the longest option.
    EXPECT_NE(help.find("  -h, --help            Show this help and exit.\n"), std::string::npos)
        << help;
    EXPECT_NE(help.find("\n  --register <LOCATION> A long help text"), std::string::npos) << help;
    EXPECT_NE(help.find("\n                        continue under"), std::string::npos) << help;
}

}  // namespace
