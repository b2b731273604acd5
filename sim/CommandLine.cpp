#include "sim/CommandLine.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <stdexcept>
#include <type_traits>

#include "platform/VirtualPorts.h"
#include "sim/TesterProtocol.h"

namespace sim {
namespace {

[[noreturn]] void Reject(const std::string& option, const std::string& problem) {
    throw std::invalid_argument(option + ": " + problem);
}

// Locale-independent: a decimal point whatever the user's locale says.
template <typename Number>
Number ParseNumber(const std::string& option, const std::string& text) {
    Number value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        Reject(option, "not a number: " + text);
    if constexpr (std::is_floating_point_v<Number>) {
        if (!std::isfinite(value)) Reject(option, "not a finite number: " + text);
    }
    return value;
}

double Probability(const std::string& option, const std::string& text) {
    const double p = ParseNumber<double>(option, text);
    if (p < 0 || p > 1) Reject(option, "a probability lies between 0 and 1");
    return p;
}

double Positive(const std::string& option, const std::string& text) {
    const double value = ParseNumber<double>(option, text);
    if (value <= 0) Reject(option, "must be above 0");
    return value;
}

double NotNegative(const std::string& option, const std::string& text) {
    const double value = ParseNumber<double>(option, text);
    if (value < 0) Reject(option, "must not be negative");
    return value;
}

// Hundredths of an ampere, as a setpoint write carries them.
uint32_t SetpointCurrent(const std::string& option, const std::string& text) {
    const double amperes = NotNegative(option, text);
    const double hundredths = std::round(amperes * 100);
    if (hundredths > kLargestSetpoint_c) Reject(option, "a setpoint lies below 256 A");
    return static_cast<uint32_t>(hundredths);
}

double RunningSince(const std::string& option, const std::string& text) {
    const double seconds = NotNegative(option, text);
    if (seconds > kLongestClockTime_s) {
        Reject(option, "the test clock shows at most 255:59:59, " +
                           std::to_string(kLongestClockTime_s) + " seconds");
    }
    return seconds;
}

using Setter = std::function<void(ProgramOptions&, const std::string& option, const std::string&)>;

const std::map<std::string, Setter>& ValueOptions() {
    static const std::map<std::string, Setter> options = {
        {"--name",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             if (!platform::IsValidPortName(v)) {
                 Reject(option, "a bare name is needed, not empty and without '/'");
             }
             o.name = v;
         }},
        {"--acceleration",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.acceleration = Positive(option, v);
         }},
        {"--step",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.stepPerStatusRead_s = Positive(option, v);
         }},
        {"--baud",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.paceBaud = ParseNumber<uint32_t>(option, v);
         }},
        {"--start-late",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.startLatePolls = ParseNumber<uint32_t>(option, v);
         }},
        {"--stop-late",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.stopLatePolls = ParseNumber<uint32_t>(option, v);
         }},
        {"--current",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.currentSetpoint_cA = SetpointCurrent(option, v);
         }},
        {"--running-since",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.runningSince_s = RunningSince(option, v);
         }},
        {"--noise", [](ProgramOptions& o, const std::string& option,
                       const std::string& v) { o.tester.faults.noise = Probability(option, v); }},
        {"--drop", [](ProgramOptions& o, const std::string& option,
                      const std::string& v) { o.tester.faults.drop = Probability(option, v); }},
        {"--corrupt-trailer",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.faults.corruptTrailer = Probability(option, v);
         }},
        {"--late", [](ProgramOptions& o, const std::string& option,
                      const std::string& v) { o.tester.faults.late = Probability(option, v); }},
        {"--late-ms",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.faults.lateMs = ParseNumber<uint32_t>(option, v);
         }},
        {"--seed",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.faults.seed = ParseNumber<uint64_t>(option, v);
         }},
        {"--capacity",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.cell.capacityAh = Positive(option, v);
         }},
        {"--full-voltage",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.cell.fullVoltage = Positive(option, v);
         }},
        {"--empty-voltage",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.cell.emptyVoltage = NotNegative(option, v);
         }},
        {"--internal-resistance",
         [](ProgramOptions& o, const std::string& option, const std::string& v) {
             o.tester.cell.internalOhm = NotNegative(option, v);
         }},
    };
    return options;
}

}  // namespace

ProgramOptions ParseCommandLine(const std::vector<std::string>& args) {
    ProgramOptions parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
            continue;
        }
        if (arg == "--version") {
            parsed.version = true;
            continue;
        }
        if (arg == "--silent") {
            parsed.tester.faults.silent = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string option = arg.substr(0, equals);
        const auto setter = ValueOptions().find(option);
        if (setter == ValueOptions().end()) Reject(option, "unknown option");
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            Reject(option, "a value is missing");
        }
        setter->second(parsed, option, value);
    }
    if (parsed.tester.cell.emptyVoltage >= parsed.tester.cell.fullVoltage) {
        Reject("--empty-voltage", "must lie below the full voltage");
    }
    if (parsed.tester.runningSince_s && !parsed.tester.currentSetpoint_cA) {
        Reject("--running-since", "needs --current, the current that the test runs at");
    }
    return parsed;
}

std::string Usage() {
    return R"(Usage: kelvo-sim [OPTION]...
Simulates a Kelvo battery tester behind a pseudo-terminal and publishes it in the virtual port
folder ($XDG_RUNTIME_DIR/kelvo-ports, or /tmp/kelvo-ports-<uid>), where the console lists it
like a serial port. Prints the published path, then runs until interrupted (Ctrl+C or SIGTERM)
and removes the entry on the way out.

Port:
  --name NAME                 bare port name to publish under (default ttyKELVO0); no '/'
Timing:
  --acceleration FACTOR       model seconds per real second (default 1)
  --step SECONDS              the model's clock moves SECONDS at each status read instead,
                              and never by itself: the same requests get the same answers
  --baud RATE                 send bytes at the pace of RATE baud, 10 bits per byte;
                              0 answers at once (default 0)
  --start-late POLLS          after a Start the test runs at once, but the status read
                              answers 0 for the next POLLS status reads, one per poll
                              (default 0); a Stop shows at once
  --stop-late POLLS           at the cutoff, with the cell flat or at the set time the
                              load goes off at once (0 A, the voltage back up by I x R),
                              but the status read answers 1 for the next POLLS status
                              reads, as a real tester shows its own stop (default 0)
At start-up:
  --current A                 current setpoint in A, to the hundredth; below 256
                              (default 0)
  --running-since SECONDS     a test at --current has been running for SECONDS from a
                              full cell: Ah, Wh, clock and temperature as it left them;
                              at most 921599 (255:59:59); needs --current
Faults (probabilities per answer, 0 to 1, default 0):
  --noise P                   1 to 3 noise bytes ahead of an answer
  --drop P                    no answer to a request
  --corrupt-trailer P         the answer's last byte is wrong
  --late P                    the answer comes late
  --late-ms MS                delay of a late answer in ms (default 700)
  --silent                    answer nothing at all
  --seed N                    seed of the fault generator (default 1)
Cell:
  --capacity AH               capacity in Ah (default 2)
  --full-voltage V            open-circuit voltage when full (default 4.2)
  --empty-voltage V           open-circuit voltage when used up (default 3.0); below full
  --internal-resistance OHM   series resistance (default 0.05)

  -h, --help                  show this text and exit
      --version               show the version and exit
Values take a decimal point in every locale; an option's value may follow '=' (--seed=7).
)";
}

}  // namespace sim
