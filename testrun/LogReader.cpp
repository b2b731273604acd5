#include "testrun/LogReader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "support/CivilTime.h"
#include "support/DateTime.h"
#include "testrun/TestLog.h"

namespace {

constexpr std::string_view kHeader = kLogHeader;  // the writer's
constexpr std::string_view kBom = "\xEF\xBB\xBF";

enum TField { fDT, fTestTime, fTestOn, fVoltage, fCurrent, fW, fWH, fAH, fTemperature, kFields };

constexpr int32_t kNoTime = -1;
constexpr int kHourDigits = 5;  // 99 999 h still fits in int32_t seconds
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Reads up to `maxDigits` digits at `i` into `value`; false when there are none or more.
bool Digits(std::string_view text, size_t& i, size_t maxDigits, int32_t& value) {
    const size_t begin = i;
    value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        if (i - begin == maxDigits) return false;
        value = value * 10 + (text[i] - '0');
    }
    return i > begin;
}

// Past the blanks at `i`: spaces, tabs, no-break and narrow no-break spaces (UTF-8), which
// locales put between a time and its AM/PM marker.
size_t SkipBlanks(std::string_view text, size_t i) {
    for (;;) {
        if (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
            ++i;
        } else if (text.substr(i, 2) == "\xC2\xA0") {
            i += 2;
        } else if (text.substr(i, 3) == "\xE2\x80\xAF") {
            i += 3;
        } else {
            return i;
        }
    }
}

// 'a' or 'p' for an AM/PM marker at `i` ("AM", "pm", "a.m.", "p. m."), 0 for anything else.
char AmPmMarker(std::string_view text, size_t i) {
    if (i >= text.size()) return 0;
    const char half = LowerAscii(text[i]);
    if (half != 'a' && half != 'p') return 0;
    ++i;
    if (i < text.size() && text[i] == '.') i = SkipBlanks(text, i + 1);
    if (i >= text.size() || LowerAscii(text[i]) != 'm') return 0;
    ++i;
    if (i < text.size() && LowerAscii(text[i]) >= 'a' && LowerAscii(text[i]) <= 'z') return 0;
    return half;
}

// The first h:mm[:ss] of `text` and the AM/PM marker after it, in seconds: a duration as this
// console writes it, or a time of day as older ones wrote it. False when the text holds none.
bool ClockSeconds(std::string_view text, int32_t& seconds) {
    size_t i = 0;
    while (i < text.size() && !IsDigit(text[i])) ++i;
    int32_t hours = 0, minutes = 0, secs = 0;
    if (!Digits(text, i, kHourDigits, hours) || i >= text.size() || text[i] != ':') return false;
    if (!Digits(text, ++i, 2, minutes) || minutes > 59) return false;
    if (i < text.size() && text[i] == ':' && (!Digits(text, ++i, 2, secs) || secs > 59)) {
        return false;
    }
    const char half = AmPmMarker(text, SkipBlanks(text, i));
    if (half != 0 && hours >= 1 && hours <= 12) hours = hours % 12 + (half == 'p' ? 12 : 0);
    seconds = hours * 3600 + minutes * 60 + secs;
    return true;
}

// The date in a file name Log_YYYYMMDD_hhmmss[_N].csv, "YYYY-MM-DD"; empty for any other name.
std::string DateOfLogName(std::string_view path) {
    const size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    constexpr std::string_view kPattern = "Log_########_######";  // then [_N].csv
    if (name.size() < kPattern.size() + 4 || !name.ends_with(".csv")) return {};
    for (size_t i = 0; i < kPattern.size(); ++i) {
        if (kPattern[i] == '#' ? !IsDigit(name[i]) : name[i] != kPattern[i]) return {};
    }
    const std::string_view number = name.substr(kPattern.size(), name.size() - kPattern.size() - 4);
    if (!number.empty() && (number.size() < 2 || number[0] != '_' ||
                            !std::all_of(number.begin() + 1, number.end(), IsDigit))) {
        return {};
    }
    const auto value = [&](size_t at, size_t size) {
        int result = 0;
        for (size_t i = at; i < at + size; ++i) result = result * 10 + (name[i] - '0');
        return result;
    };
    // A date and time that exist come back from the calendar unchanged.
    const TCivilTime named{
        value(4, 4), value(8, 2), value(10, 2), value(13, 2), value(15, 2), value(17, 2), 0};
    const TCivilTime back = CivilTimeOf(DateTimeOf(named));
    if (named.Year == 0 || back.Year != named.Year || back.Month != named.Month ||
        back.Day != named.Day || back.Hour != named.Hour || back.Minute != named.Minute ||
        back.Second != named.Second) {
        return {};
    }
    return std::string(name.substr(4, 4)) + "-" + std::string(name.substr(8, 2)) + "-" +
           std::string(name.substr(10, 2));
}

// The whole file; false with errno in `error` when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& content, int& error) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               std::fclose);
    if (!file) {
        error = errno;
        return false;
    }
    // One read of the size the file has now, then chunks while it still gives more.
    constexpr size_t kChunk = size_t{1} << 20;
    std::error_code sizeError;
    const uintmax_t size = std::filesystem::file_size(path, sizeError);
    size_t want = sizeError ? kChunk : static_cast<size_t>(size) + 1;
    size_t used = 0;
    errno = 0;
    for (size_t got = want; got == want; used += got, want = kChunk) {
        content.resize(used + want);
        got = std::fread(content.data() + used, 1, want, file.get());
    }
    content.resize(used);
    error = errno != 0 ? errno : EIO;
    return !std::ferror(file.get());
}

// Reads the lines of one log into its tests; throws when the first line is not the header.
class TLogParser {
  public:
    TLogParser(const std::string& path, TLoggedTests& log) : FPath(path), FLog(log) {}

    void Parse(std::string_view text) {
        if (text.starts_with(kBom)) text.remove_prefix(kBom.size());
        if (text.empty()) Fail("the file is empty");
        for (size_t pos = 0, number = 1; pos < text.size(); ++number) {
            const size_t lf = text.find('\n', pos);
            const size_t end = lf == std::string_view::npos ? text.size() : lf;
            std::string_view line = text.substr(pos, end - pos);
            // An older writer, after a failed write, could leave a CR before the row's own.
            while (line.ends_with('\r')) line.remove_suffix(1);
            pos = end + 1;
            if (number == 1) {
                if (line != kHeader) {
                    Fail("the header \"" + std::string(kHeader) + "\" is missing");
                }
            } else if (!line.empty() && !Row(line)) {
                ++FLog.UnreadableRows;
                if (FRunning) ++FLog.Tests.back().UnreadableRows;
            }
        }
    }

  private:
    // What the current test has seen so far.
    struct TRun {
        bool HasTime = false;
        int32_t FirstTime = 0, LastTime = 0;  // s, as written
        int64_t DayShift = 0;  // s added to the written times to undo the wrap of a time of day
        bool HasAh = false;
        double AhBase = 0, LastAh = 0;  // Ah, as written
    };

    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error(FPath + ": line 1: " + what);
    }

    // Takes the row in `line`; false, with nothing taken, when it cannot be read.
    bool Row(std::string_view line) {
        std::string_view fields[kFields];
        size_t count = 0;
        for (size_t begin = 0, end = 0; end != std::string_view::npos; begin = end + 1) {
            if (count == kFields) return false;
            end = line.find(';', begin);
            fields[count++] = line.substr(begin, end - begin);
        }
        if (count != kFields || fields[fDT].empty()) return false;

        // The file's mark is settled by the first row that is read whole.
        char mark = FMark;
        int32_t time = kNoTime, testOn = 0, temperature = 0;
        double volts = 0, amperes = 0, watts = 0, wattHours = 0, ampHours = 0;
        if (!TestTime(fields[fTestTime], time) || !Integer(fields[fTestOn], testOn) ||
            !Number(fields[fVoltage], mark, volts) || !Number(fields[fCurrent], mark, amperes) ||
            !Number(fields[fW], mark, watts) || !Number(fields[fWH], mark, wattHours) ||
            !Number(fields[fAH], mark, ampHours) || !Integer(fields[fTemperature], temperature)) {
            return false;
        }
        FMark = mark;
        Take(testOn, time, volts, amperes, ampHours);
        return true;
    }

    static bool TestTime(std::string_view field, int32_t& seconds) {
        seconds = kNoTime;
        return field == "-1" || ClockSeconds(field, seconds);
    }

    static bool Integer(std::string_view field, int32_t& value) {
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
        return error == std::errc() && end == field.data() + field.size();
    }

    // A decimal number whose mark, if it has one, is `mark` (or becomes it while `mark` is 0);
    // NaN for -1, not read.
    static bool Number(std::string_view field, char& mark, double& value) {
        // from_chars alone would take "inf" and "nan"; it refuses a text without digits.
        size_t markAt = std::string_view::npos;
        for (size_t i = field.starts_with('-') ? 1 : 0; i < field.size(); ++i) {
            if ((field[i] == '.' || field[i] == ',') && markAt == std::string_view::npos) {
                markAt = i;
            } else if (!IsDigit(field[i])) {
                return false;
            }
        }

        std::string_view text = field;
        char copy[64];
        if (markAt != std::string_view::npos) {
            if (mark == 0) mark = field[markAt];
            if (field[markAt] != mark) return false;
            if (mark == ',') {
                if (field.size() > sizeof copy) return false;
                std::copy(field.begin(), field.end(), copy);
                copy[markAt] = '.';
                text = std::string_view(copy, field.size());
            }
        }
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                                  std::chars_format::fixed);
        if (error != std::errc() || end != text.data() + text.size()) return false;
        if (value == -1) value = kNaN;
        return true;
    }

    void Take(int32_t testOn, int32_t time, double volts, double amperes, double ampHours) {
        if (testOn == 0) FRunning = false;
        if (testOn != 1) return;
        std::vector<TLoggedTest>& tests = FLog.Tests;
        if (!FRunning) {
            tests.push_back({static_cast<int>(tests.size()) + 1, {}});
            FRun = {};
            FRunning = true;
        }
        double delivered = kNaN;
        if (!std::isnan(ampHours)) {
            if (!FRun.HasAh) {
                FRun.HasAh = true;
                FRun.AhBase = ampHours;
            } else if (ampHours < FRun.LastAh) {
                FRun.AhBase = 0;
            }
            FRun.LastAh = ampHours;
            delivered = ampHours - FRun.AhBase;
        }

        if (time == kNoTime) return;
        if (!FRun.HasTime) {
            FRun.HasTime = true;
            FRun.FirstTime = time;
        } else if (time < kSecondsPerDay && FRun.LastTime < kSecondsPerDay) {
            const int32_t step = time - FRun.LastTime;
            if (step < -kSecondsPerDay / 2) FRun.DayShift += kSecondsPerDay;
            if (step > kSecondsPerDay / 2) FRun.DayShift -= kSecondsPerDay;
        }
        FRun.LastTime = time;

        if (std::isnan(volts) && std::isnan(amperes)) return;
        const int64_t elapsed = std::abs(time + FRun.DayShift - FRun.FirstTime);
        tests.back().Points.push_back(
            {static_cast<int32_t>(std::min<int64_t>(elapsed, std::numeric_limits<int32_t>::max())),
             static_cast<float>(volts), static_cast<float>(amperes),
             static_cast<float>(delivered)});
    }

    const std::string& FPath;
    TLoggedTests& FLog;     // the result: tests in file order, the rows skipped
    char FMark = 0;         // the file's decimal mark, once a row read whole showed it
    bool FRunning = false;  // the last row read with TestOn 0 or 1 had 1
    TRun FRun;
};

}  // namespace

TLoggedTests ReadLoggedTests(const std::string& path) {
    TLoggedTests result;
    result.Path = path;
    result.Date = DateOfLogName(path);
    std::string content;
    int error = 0;
    if (!ReadWholeFile(path, content, error)) {
        throw std::runtime_error(
            path + ": line 1: cannot be read: " + std::generic_category().message(error));
    }
    TLogParser(path, result).Parse(content);
    return result;
}
