#include "support/CommonTools.h"

#include <chrono>
#include <cmath>
#include <vector>

#include "platform/DebugOutput.h"
#include "platform/FileManager.h"
#include "platform/PortDiscovery.h"
#include "platform/SysError.h"
#include "support/Errors.h"
#include "support/Format.h"
#include "support/Mystrutils.h"

namespace {

// Date-time values of 1 January 0001 and of the day after 31 December 9999.
constexpr double kFirstDate = -693593.0;
constexpr double kPastLastDate = 2958466.0;
// Days from 1 January 1970 to 30 December 1899.
constexpr int kDateTimeEpochDays = -25569;

// The calendar date of a date-time, or nothing outside the supported years.
bool CalendarDate(double dateTime, std::chrono::year_month_day& date) {
    if (!(dateTime >= kFirstDate && dateTime < kPastLastDate)) return false;
    const auto days = static_cast<int>(std::trunc(dateTime)) + kDateTimeEpochDays;
    date = std::chrono::year_month_day(std::chrono::sys_days(std::chrono::days(days)));
    return true;
}

}  // namespace

void OpenInExplorer(const std::string& path) {
    if (path.empty()) return;
    std::string bare;
    PickParam(path.front() == '"' ? path : '"' + path + '"', 0, bare);
    if (bare.empty()) return;

    if (platform::IsExistingFolder(bare)) {
        platform::ShowFolderInFileManager(bare);
    } else {
        platform::ShowFileInFileManager(bare);
    }
}

void ListSerialPorts(TPortFoundProc callback, void* context) {
    const std::vector<std::string> names = platform::SerialPortNames();
    if (callback == nullptr) return;
    for (const std::string& name : names) callback(name.c_str(), context);
}

bool WriteStreamLine(platform::TStream& stream, const std::string& text, bool lineBreak) {
    bool complete = text.empty() || stream.Write(text.data(), text.size());
    if (lineBreak) complete = stream.Write("\r\n", 2) && complete;
    return complete;
}

uint16_t DateYear(double dateTime) {
    std::chrono::year_month_day date;
    if (!CalendarDate(dateTime, date)) return 0;
    return static_cast<uint16_t>(static_cast<int>(date.year()));
}

uint16_t DateMonth(double dateTime) {
    std::chrono::year_month_day date;
    if (!CalendarDate(dateTime, date)) return 0;
    return static_cast<uint16_t>(static_cast<unsigned>(date.month()));
}

uint16_t DateDay(double dateTime) {
    std::chrono::year_month_day date;
    if (!CalendarDate(dateTime, date)) return 0;
    return static_cast<uint16_t>(static_cast<unsigned>(date.day()));
}

void Byte2PHexChar(uint8_t value, char* out) {
    if (value > 15) {
        throw EConvertError(
            Format("Byte2PHexChar(b=%u; P: PChar) - invalid value to HEX encode: "
                   "B must be in [0..15] range",
                   static_cast<unsigned>(value)));
    }
    // Whether memory is writable cannot be asked on every platform; only the empty pointer is
    // recognised.
    if (out == nullptr)
        throw EInvalidPointer("Byte2PHexChar(b: Byte; P: PChar) - P must be assigned");
    *out = "0123456789ABCDEF"[value];
}

void Byte2PHex(uint8_t value, char* out) {
    Byte2PHexChar(value >> 4, out);
    Byte2PHexChar(value & 0x0F, out + 1);
}

uint32_t Buff2PHex(const uint8_t* buff, int32_t count, char* out, char separator) {
    if (count <= 0) return kHexNothingToWrite;
    if (out == nullptr) return kHexNoOutput;
    if (buff == nullptr) return kHexNoInput;
    for (int32_t i = 0; i < count; ++i) {
        Byte2PHex(buff[i], out);
        out += 2;
        if (separator != '\0') *out++ = separator;
    }
    return kHexOk;
}

std::string Buff2HexString(const uint8_t* buff, int32_t size, char separator) {
    if (size <= 0) return {};
    if (buff == nullptr) {
        throw EInvalidPointer("Buff2HexString(buff: PByte; Size: Integer) - buff must be Assigned");
    }
    const size_t perByte = separator == '\0' ? 2 : 3;
    std::string text(static_cast<size_t>(size) * perByte, '\0');
    Buff2PHex(buff, size, text.data(), separator);
    return text;
}

void GetSysErrorText(uint32_t code, bool withCode, std::string& text) {
    std::string message = platform::SysErrorMessage(code);
    const uint32_t lookupError = platform::LastSysError();
    while (!message.empty() &&
           (static_cast<unsigned char>(message.back()) <= 32 || message.back() == '.')) {
        message.pop_back();
    }

    if (message.empty()) {
        text = "Ошибка: $" + Format("%.8X", code);
        platform::DebugOutput([&] { return Format("$%.8X", lookupError); });
    } else if (withCode) {
        text = Format("(0x%.8X) %s", code, message.c_str());
    } else {
        text = message;
    }
}
