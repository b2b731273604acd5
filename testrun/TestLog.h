#pragma once
// The CSV test log of the console: one file per connection, in the program's folder, one row per
// reading. Its owner (the window, or kelvo-run) calls it on one thread only; nothing here locks.
//
// File: "Log_" + YYYYMMDD + "_" + hhmmss + ".csv" in the log folder (LogFolderFor), named from one
// reading of the clock when the log opens. A name that is taken gets "_2", "_3", ... before ".csv":
// an earlier log is never opened again or truncated. The file is created for this log alone and
// locked while open (other programs cannot lock it), every line ends with CR LF, there is no
// byte-order mark, and each line is handed to the file system as it is written.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "device/DeviceReading.h"

namespace platform {
class TLogFile;
}

// The header line, without its line break.
inline constexpr char kLogHeader[] = "DT;TestTime;TestOn;Voltage;Current;W;WH;AH;Temperature";

// The folder, inside the user's Documents folder, that takes the logs when the program's own
// folder cannot.
inline constexpr char kLogFolderName[] = "Kelvo logs";

// The folder of the executable `exeFileName` (the root folder keeps its slash).
std::string ExecutableFolder(const std::string& exeFileName);

// Where the logs of the executable in `exeFolder` go: that folder, as for a build folder or a
// portable copy; but the user's "<Documents>/Kelvo logs" when the program runs from the install's
// program folder `installBinFolder` or from below the system's folder of installed programs
// (platform::InstalledProgramsFolder; even as root or administrator: an installed program leaves
// system folders alone), or from any folder it cannot create files in. The fallback folder is
// created when missing; when even that fails, `exeFolder` is kept, so the creation of the log
// reports why.
std::string LogFolderFor(const std::string& exeFolder, const std::string& installBinFolder);

// The path of a log opened at `dateTime` (local time, days since 30 December 1899) in `folder`:
// the folder (the root folder keeps its slash, so the path then holds "//"), then "/Log_", the
// date as YYYYMMDD, "_", the time as hhmmss and ".csv". The time is taken to the millisecond
// before it is cut to whole seconds.
// With `port` (a bench, or kelvo-run on several ports, whose logs open in the same second), "_"
// and the port come before ".csv": Log_20261209_101500_ttyUSB0.csv.
std::string LogFilePathIn(const std::string& folder, double dateTime, const std::string& port = {});
// LogFilePathIn the folder of the executable `exeFileName`.
std::string LogFilePath(const std::string& exeFileName, double dateTime);

// One row for `reading`, without its line break, in the user's locale at this moment:
// "%s;%s;%d;%f;%f;%f;%f;%f;%d" with the time stamp (short date, a blank and the long time; the
// blank and the time left out at midnight), the test time as a duration H:MM:SS with at least two
// digits of hours, no AM/PM and no wrap at a day in any locale (90 s gives 00:01:30, 30 h
// 30:00:00), Status, Voltage, Current, Power, WattHours, AmpHours with 2 decimals and the locale's
// decimal separator, and Temperature. Values that were not read appear as they are (-1, -1.00).
std::string LogRow(const TDeviceReading& reading);

class TTestLog {
  public:
    // The local date and time now, in days since 30 December 1899.
    using TClock = std::function<double()>;
    // The full file name of the executable whose folder receives the logs.
    using TExeFileNameSource = std::function<std::string()>;

    // Null arguments stand for the local clock (CurrentDateTime) and the running executable
    // (GetExeFileName); tests pass a fixed clock and a name inside a folder of their own. Logs go
    // to LogFolderFor the executable's folder and the install's program folder.
    explicit TTestLog(TClock clock = nullptr, TExeFileNameSource exeFileName = nullptr);
    ~TTestLog();  // closes the log
    TTestLog(const TTestLog&) = delete;
    TTestLog& operator=(const TTestLog&) = delete;

    // Closes the open log, then creates a new one named from the clock (and `port`, when given:
    // LogFilePathIn) and writes its header.
    // Path() holds the new path once this returns or throws, so the window can show it either
    // way. Throws Exception("Cannot create file <path>") when the file cannot be created or its
    // header cannot be written (nothing is left open then, and a file made without its header is
    // removed); the next call tries again under a new name.
    void OpenLog(const std::string& port = {});

    // OpenLog at exactly `path`: a name that is taken is not numbered but refused, with the same
    // error.
    void OpenLogAt(const std::string& path);

    // Closes the log if one is open, its rows handed to the medium first. Path() keeps its value.
    // Returns true, as WriteLogRow does, only when the close failed (a full or failing medium or
    // a share that reports lost writes only then) and it is the log's first failure.
    bool CloseLog();

    // Appends the row of `reading` and CR LF, in one write; does nothing when no log is open.
    // Returns true only when this write failed and it is the first failure of the current log:
    // the window then tells the operator (WriteFailureText()) that the log is incomplete. A
    // failure also writes one debug line, once per log. Later rows are still attempted, each on a
    // line of its own: a row goes after what ends the line that a failed write left open (LF
    // after a lone CR, CR LF after part of a row), so no empty line and no stray CR is left.
    bool WriteLogRow(const TDeviceReading& reading);

    bool IsOpen() const { return FLogStream != nullptr; }
    // The folder that the next log goes to (created when it is the fallback folder).
    std::string Folder() const;
    // Rows written whole to the current (or last) log.
    int64_t RowsWritten() const { return FRowsWritten; }
    // The full path of the current or last log, or of the last creation that failed; empty before
    // the first OpenLog.
    const std::string& Path() const { return FPath; }
    // Whether a write to the current (or last) log, or its close, has failed.
    bool WriteFailed() const { return !FWriteFailureText.empty(); }
    // "Error write file <path>: <system text>" after the first failed write or close of the
    // current (or last) log; empty otherwise.
    const std::string& WriteFailureText() const { return FWriteFailureText; }
    // The system's text of why the last OpenLog or OpenLogAt failed; empty after one that did not.
    const std::string& CreateFailureCause() const { return FCreateFailureCause; }

  private:
    // Creates the log at `path`, or at its numbered names up to `lastNumber` while taken.
    void Create(const std::string& path, int lastNumber);
    // Keeps the first failure (errno value `error`) of the current log; true when it is that.
    bool WriteFailure(int error);

    TClock FClock;
    TExeFileNameSource FExeFileName;
    std::unique_ptr<platform::TLogFile> FLogStream;  // the open log, or null
    std::string FPath;
    std::string FWriteFailureText;
    std::string FCreateFailureCause;
    int64_t FRowsWritten = 0;
};
