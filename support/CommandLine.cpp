#include "support/CommandLine.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace {

constexpr TOptionText kHelp{"help", nullptr, "Show this help and exit."};
constexpr TOptionText kVersion{"version", nullptr, "Show the version and exit."};
constexpr size_t kHelpWidth = 79;

std::string NamesOf(const TOptionText& option) {
    const std::string_view name = option.Name;
    std::string names = name == kHelp.Name      ? "-h, --help"
                        : name == kVersion.Name ? "-v, --version"
                                                : "--" + std::string(name);
    if (option.ValueName != nullptr) names += std::string(" <") + option.ValueName + ">";
    return names;
}

// `text` broken at blanks into lines of at most `width` (a longer word stands alone).
std::vector<std::string> Wrapped(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    std::string line;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = std::min(text.find_first_of(" \n", at), text.size());
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        if (end < text.size() && text[end] == '\n') {
            lines.push_back(line);
            line.clear();
        }
        at = end + 1;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace

void SayUsageError(const char* program, const std::string& error) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, error.c_str(), program);
}

TCommandLine::TCommandLine(std::string program, std::string description)
    : FProgram(std::move(program)), FDescription(std::move(description)) {
    FOptions = {kHelp, kVersion};
}

void TCommandLine::Add(std::span<const TOptionText> texts) {
    FOptions.insert(FOptions.end(), texts.begin(), texts.end());
}

const TOptionText* TCommandLine::Find(const std::string& name) const {
    const std::string wanted = name == "h" ? kHelp.Name : name == "v" ? kVersion.Name : name;
    const auto found = std::find_if(FOptions.begin(), FOptions.end(),
                                    [&](const TOptionText& o) { return wanted == o.Name; });
    return found == FOptions.end() ? nullptr : &*found;
}

TStandardOptions TCommandLine::Parse(int argc, const char* const* argv,
                                     const std::string& versionLine) {
    TStandardOptions said;
    FGiven.clear();
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool shortForm = argument.size() == 2 && argument[0] == '-' && argument[1] != '-';
        if (!shortForm && (argument.size() < 3 || argument.compare(0, 2, "--") != 0)) {
            said.Error = "unexpected argument '" + argument + "'";
            return said;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(
            shortForm ? 1 : 2, equals == std::string::npos ? std::string::npos : equals - 2);
        const TOptionText* option = Find(name);
        if (option == nullptr) {
            said.Error = "Unknown option '" + name + "'.";
            return said;
        }
        std::string value;
        if (option->ValueName == nullptr) {
            if (equals != std::string::npos) {
                said.Error = "Unexpected value after '" + argument.substr(0, equals) + "'.";
                return said;
            }
        } else if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            said.Error = "Missing value after '" + argument + "'.";
            return said;
        }
        FGiven.emplace_back(option->Name, value);
    }
    if (IsSet(kHelp.Name)) {
        said.Output = HelpText();
    } else if (IsSet(kVersion.Name)) {
        said.Output = versionLine + "\n";
    }
    return said;
}

std::optional<std::string> TCommandLine::Given(const char* name) const {
    const auto last = std::find_if(FGiven.rbegin(), FGiven.rend(),
                                   [&](const auto& given) { return given.first == name; });
    if (last == FGiven.rend()) return std::nullopt;
    return last->second;
}

std::vector<std::string> TCommandLine::Values(const char* name) const {
    std::vector<std::string> values;
    for (const auto& [option, value] : FGiven) {
        if (option == name) values.push_back(value);
    }
    return values;
}

std::string TCommandLine::HelpText() const {
    std::string text = "Usage: " + FProgram + " [options]\n" + FDescription + "\n\nOptions:\n";
    size_t longest = 0;
    for (const TOptionText& option : FOptions) longest = std::max(longest, NamesOf(option).size());
    const size_t left = 2 + longest + 1;
    const size_t right = kHelpWidth > left + 20 ? kHelpWidth - left : 20;
    for (const TOptionText& option : FOptions) {
        const std::string names = NamesOf(option);
        text += "  " + names + std::string(longest + 1 - names.size(), ' ');
        bool first = true;
        for (const std::string& line : Wrapped(option.Help, right)) {
            text += (first ? "" : std::string(left, ' ')) + line + "\n";
            first = false;
        }
        if (first) text += "\n";
    }
    return text;
}
