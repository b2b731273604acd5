// Fuzzes the answer path: the frame check and decoders on any 7-byte frame, the setpoint
// encoders on any double, and the link's Read on any byte stream that arrives through a real
// pseudo-terminal.
//
// Each run writes the input, followed by seven start bytes, into the terminal's far end and
// reads one 7-byte answer. The start bytes at the end make every read end as soon as the bytes
// are through, instead of after the read's wait of kReadWaitMs; the path of a far end that falls
// silent is left to the link's unit tests. Inputs longer than kLongestStream are cut, so that the
// terminal's queue always has room for the whole stream.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/DeviceCodec.h"
#include "device/SerialLink.h"
#include "platform/DebugOutput.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialPort.h"

namespace {

constexpr size_t kLongestStream = 256;  // bytes
constexpr uint8_t kAnswerLength = 7;

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckFrame(const uint8_t* data) {
    TAnswerFrame frame{};
    std::copy(data, data + frame.size(), frame.begin());
    const TAnswerCheck check = CheckAnswer(frame);
    const bool wellFormed =
        frame[0] == 0xCA && frame[1] == 0xCB && frame[5] == 0xCE && frame[6] == 0xCF;
    Require((check == TAnswerCheck::Ok) == wellFormed);

    const TAnswerData d = AnswerData(frame);
    Require(d[0] == frame[2] && d[1] == frame[3] && d[2] == frame[4]);
    Require(DecodeCount(d) == (uint32_t{d[0]} << 16 | uint32_t{d[1]} << 8 | d[2]));
    const int32_t clock = DecodeClock(d);
    Require(clock >= 0 && clock <= 255 * 3600 + 255 * 60 + 255);
    Require(DecodeByte(d) == d[2]);
}

void CheckEncoders(const uint8_t* data) {
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    const auto setpoint = EncodeSetpoint(value);
    if (value >= 0 && value < 255.994) {
        Require(setpoint[0] == static_cast<uint8_t>(std::trunc(value)) && setpoint[1] <= 100);
    }
    const uint16_t seconds = TestTimeSeconds(value);
    if (std::isnan(value)) Require(seconds == 0);
    if (value >= 0 && value < 65536) Require(seconds == static_cast<uint16_t>(value));
    const auto encoded = EncodeTestTime(seconds);
    Require((encoded[0] << 8 | encoded[1]) == seconds);
}

// The far end and the console's open port, shared by all runs.
struct TerminalLink {
    TerminalLink() {
        platform::SetDebugSink([](const std::string&) {});
        if (!port.Open(terminal.SlavePath(), 115200)) std::abort();
    }
    platform::PseudoTerminal terminal;
    TSerialLink port;
};

void CheckReadPort(const uint8_t* data, size_t size) {
    static TerminalLink link;
    std::vector<uint8_t> stream(data, data + std::min(size, kLongestStream));
    stream.insert(stream.end(), kAnswerLength, kAnswerStart);

    // Leftovers of the previous run must not be read as part of this one.
    platform::PurgeComm(link.port.Port(), platform::PURGE_RXCLEAR);
    Require(link.terminal.Write(stream.data(), stream.size()) == stream.size());
    uint8_t buffer[kAnswerLength] = {};
    const bool result = link.port.Read(kNoAbortEvent, buffer, kAnswerLength, kAnswerStart);
    // The start bytes at the end guarantee an answer, whatever came before them.
    Require(result && buffer[0] == kAnswerStart);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= 7) CheckFrame(data);
    if (size >= 8) CheckEncoders(data);
    CheckReadPort(data, size);
    return 0;
}
