#include "testrun/TestLog.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/DebugOutput.h"
#include "platform/Folders.h"
#include "platform/LocaleFormats.h"
#include "platform/LogFile.h"
#include "support/CivilTime.h"
#include "support/CommonTools.h"
#include "support/DateTime.h"
#include "support/Errors.h"
#include "support/Format.h"
#include "support/LocaleText.h"
#include "support/TimeText.h"
#include "support/versionUtils.h"

namespace {

// How far the numbering of a taken name goes before the creation is given up.
constexpr int kLastNameNumber = 9999;

// %f with 2 decimals: every integer digit, the locale's decimal separator.
std::string LogNumber(double value) {
    return FixedDecimals(value, 2, LocaleDecimalSeparator());
}

// The locale's short date, then its long time unless the time is midnight to the second.
std::string DateTimeText(double dateTime) {
    const TCivilTime t = CivilTimeOf(dateTime);
    std::string text = platform::LocaleShortDateText(t.Year, t.Month, t.Day);
    if (t.Hour != 0 || t.Minute != 0 || t.Second != 0) {
        text += ' ' + platform::LocaleLongTimeText(t.Hour, t.Minute, t.Second, t.Millisecond);
    }
    return text;
}

// A duration, so the same in every locale and never wrapped at a day (nor at 255 h, below the
// tester's largest clock value).
std::string TestTimeText(int32_t seconds) {
    return seconds < 0 ? std::to_string(seconds) : LongDurationText(seconds);
}

// `path` (ending in ".csv") with "_<number>" before its extension.
std::string NumberedPath(const std::string& path, int number) {
    return path.substr(0, path.size() - 4) + "_" + std::to_string(number) + ".csv";
}

// What ends the line that the file's last byte `last` (-1: none) leaves open: nothing at the
// start of a line, LF after a CR that a failed write left alone, CR LF after part of a row.
const char* LineEndAfter(int last) {
    if (last == -1 || last == '\n') return "";
    return last == '\r' ? "\n" : "\r\n";
}

// The file layer reports errno values on every system (LogFile.h), which the C library words;
// the system's own codes, which GetSysErrorText words, are not errno values on Windows.
std::string SysErrorText(int error) {
    return std::generic_category().message(error);
}

}  // namespace

std::string ExecutableFolder(const std::string& exeFileName) {
    const size_t slash = exeFileName.rfind('/');
    if (slash == std::string::npos) return {};
    return exeFileName.substr(0, slash == 0 ? 1 : slash);
}

std::string LogFolderFor(const std::string& exeFolder, const std::string& installBinFolder) {
    const std::string canonical = platform::CanonicalFolder(exeFolder);
    const std::string programs = platform::CanonicalFolder(platform::InstalledProgramsFolder());
    const bool installed =
        !canonical.empty() &&
        (canonical == platform::CanonicalFolder(installBinFolder) ||
         (!programs.empty() && canonical.size() > programs.size() &&
          canonical.compare(0, programs.size(), programs) == 0 &&
          (canonical[programs.size()] == '/' || canonical[programs.size()] == '\\')));
    if (!installed && platform::CanCreateFilesIn(exeFolder)) return exeFolder;
    const std::string documents = platform::DocumentsFolder();
    if (documents.empty()) return exeFolder;
    const std::string folder = documents + "/" + kLogFolderName;
    if (!platform::MakeFolders(folder)) return exeFolder;
    return folder;
}

std::string LogFilePath(const std::string& exeFileName, double dateTime) {
    return LogFilePathIn(ExecutableFolder(exeFileName), dateTime);
}

namespace {

// A port's name as part of a file name: a port under a folder (pts/3) names no folder.
std::string FileNamePart(std::string port) {
    std::replace_if(
        port.begin(), port.end(), [](char c) { return c == '/' || c == '\\'; }, '-');
    return port;
}

}  // namespace

std::string LogFilePathIn(const std::string& folder, double dateTime, const std::string& port) {
    const TCivilTime t = CivilTimeOf(dateTime);
    return folder + "/Log_" +
           Format("%s%s%s_%s%s%s", std::to_string(t.Year).c_str(), TwoDigits(t.Month).c_str(),
                  TwoDigits(t.Day).c_str(), TwoDigits(t.Hour).c_str(), TwoDigits(t.Minute).c_str(),
                  TwoDigits(t.Second).c_str()) +
           (port.empty() ? "" : "_" + FileNamePart(port)) + ".csv";
}

std::string LogRow(const TDeviceReading& reading) {
    return Format("%s;%s;%d;%s;%s;%s;%s;%s;%d", DateTimeText(reading.TimeStamp).c_str(),
                  TestTimeText(reading.TestTime).c_str(), reading.Status,
                  LogNumber(reading.Voltage).c_str(), LogNumber(reading.Current).c_str(),
                  LogNumber(reading.Power).c_str(), LogNumber(reading.WattHours).c_str(),
                  LogNumber(reading.AmpHours).c_str(), reading.Temperature);
}

TTestLog::TTestLog(TClock clock, TExeFileNameSource exeFileName)
    : FClock(clock ? std::move(clock) : CurrentDateTime),
      FExeFileName(exeFileName ? std::move(exeFileName) : GetExeFileName) {}

TTestLog::~TTestLog() = default;

std::string TTestLog::Folder() const {
    return LogFolderFor(ExecutableFolder(FExeFileName()), KELVO_INSTALL_BINDIR);
}

void TTestLog::OpenLog(const std::string& port) {
    Create(LogFilePathIn(Folder(), FClock(), port), kLastNameNumber);
}

void TTestLog::OpenLogAt(const std::string& path) {
    Create(path, 1);
}

void TTestLog::Create(const std::string& path, int lastNumber) {
    CloseLog();
    FWriteFailureText.clear();
    FCreateFailureCause.clear();
    FRowsWritten = 0;

    int error = 0;
    for (int number = 1; number <= lastNumber; ++number) {
        FPath = number == 1 ? path : NumberedPath(path, number);
        FLogStream = platform::TLogFile::Create(FPath, error);
        if (FLogStream || error != EEXIST) break;
    }
    if (!FLogStream) {
        FCreateFailureCause = SysErrorText(error);
        platform::DebugOutput([&] {
            return Format("Error create file %s: %s", FPath.c_str(), FCreateFailureCause.c_str());
        });
        throw Exception(Format("Cannot create file %s", FPath.c_str()));
    }

    if (!WriteStreamLine(*FLogStream, kLogHeader, true)) {
        FCreateFailureCause = SysErrorText(FLogStream->LastError());
        platform::DebugOutput([&] {
            return Format("Error write file %s: %s", FPath.c_str(), FCreateFailureCause.c_str());
        });
        FLogStream.reset();
        platform::RemoveFile(FPath);
        throw Exception(Format("Cannot create file %s", FPath.c_str()));
    }
}

bool TTestLog::CloseLog() {
    if (!FLogStream) return false;
    const bool closed = FLogStream->Close();
    const int error = FLogStream->LastError();
    FLogStream.reset();
    return !closed && WriteFailure(error);
}

bool TTestLog::WriteLogRow(const TDeviceReading& reading) {
    if (!FLogStream) return false;
    const std::string row = LineEndAfter(FLogStream->LastByteWritten()) + LogRow(reading) + "\r\n";
    if (FLogStream->Write(row.data(), row.size())) {
        ++FRowsWritten;
        return false;
    }
    return WriteFailure(FLogStream->LastError());
}

bool TTestLog::WriteFailure(int error) {
    if (WriteFailed()) return false;
    FWriteFailureText =
        Format("Error write file %s: %s", FPath.c_str(), SysErrorText(error).c_str());
    platform::DebugOutput(FWriteFailureText);
    return true;
}
