#include "testrun/TestLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QString>
#include <cerrno>

#include "platform/DebugOutput.h"
#include "platform/LogFile.h"
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

// The locale's long time format without its time-zone part ("t" sequences), which a log row
// does not carry; blanks and brackets left around it go too. Quoted literal text is kept.
QString LongTimeFormatOf(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') quoted = !quoted;
        if (quoted || c != u't') {
            result += c;
            continue;
        }
        while (i + 1 < format.size() && format[i + 1] == u't') ++i;
        if (result.endsWith(u'(') && i + 1 < format.size() && format[i + 1] == u')') {
            result.chop(1);
            ++i;
        }
        while (!result.isEmpty() && result.back().isSpace()) result.chop(1);
        if (result.isEmpty()) {
            while (i + 1 < format.size() && format[i + 1].isSpace()) ++i;
        }
    }
    return result;
}

// LongTimeFormatOf, worked out once per locale and thread: every row needs it.
const QString& LongTimeFormat(const QLocale& locale) {
    thread_local QLocale of = QLocale::c();
    thread_local QString format = LongTimeFormatOf(of);
    if (locale != of) {
        of = locale;
        format = LongTimeFormatOf(locale);
    }
    return format;
}

// %f with 2 decimals: every integer digit, the locale's decimal separator.
std::string LogNumber(double value) {
    return FixedDecimals(value, 2, LocaleDecimalSeparator());
}

std::string DateTimeText(double dateTime, const QLocale& locale) {
    const auto [date, time] = DateAndTime(dateTime);
    QString text = locale.toString(date, QLocale::ShortFormat);
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
        text += u' ' + locale.toString(time, LongTimeFormat(locale));
    }
    return text.toStdString();
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

std::string SysErrorText(int error) {
    std::string text;
    GetSysErrorText(static_cast<uint32_t>(error), false, text);
    return text;
}

}  // namespace

std::string ExecutableFolder(const std::string& exeFileName) {
    const size_t slash = exeFileName.rfind('/');
    if (slash == std::string::npos) return {};
    return exeFileName.substr(0, slash == 0 ? 1 : slash);
}

std::string LogFolderFor(const std::string& exeFolder, const std::string& installBinFolder) {
    const QString canonical = QFileInfo(QString::fromStdString(exeFolder)).canonicalFilePath();
    const bool installed =
        !canonical.isEmpty() &&
        canonical == QFileInfo(QString::fromStdString(installBinFolder)).canonicalFilePath();
    if (!installed && platform::CanCreateFilesIn(exeFolder)) return exeFolder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) return exeFolder;
    const QString folder = documents + "/" + kLogFolderName;
    if (!QDir().mkpath(folder)) return exeFolder;
    return folder.toStdString();
}

std::string LogFilePath(const std::string& exeFileName, double dateTime) {
    return LogFilePathIn(ExecutableFolder(exeFileName), dateTime);
}

std::string LogFilePathIn(const std::string& folder, double dateTime) {
    const auto [date, time] = DateAndTime(dateTime);
    return folder + "/Log_" +
           Format("%s%s%s_%s%s%s.csv", std::to_string(date.year()).c_str(),
                  TwoDigits(date.month()).c_str(), TwoDigits(date.day()).c_str(),
                  TwoDigits(time.hour()).c_str(), TwoDigits(time.minute()).c_str(),
                  TwoDigits(time.second()).c_str());
}

std::string LogRow(const TDeviceReading& reading) {
    const QLocale locale = QLocale::system();
    return Format("%s;%s;%d;%s;%s;%s;%s;%s;%d", DateTimeText(reading.TimeStamp, locale).c_str(),
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

void TTestLog::OpenLog() {
    Create(LogFilePathIn(Folder(), FClock()), kLastNameNumber);
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
        QFile::remove(QFile::decodeName(FPath.c_str()));
        throw Exception(Format("Cannot create file %s", FPath.c_str()));
    }
}

void TTestLog::CloseLog() {
    FLogStream.reset();
}

bool TTestLog::WriteLogRow(const TDeviceReading& reading) {
    if (!FLogStream) return false;
    const std::string row = LineEndAfter(FLogStream->LastByteWritten()) + LogRow(reading) + "\r\n";
    if (FLogStream->Write(row.data(), row.size())) {
        ++FRowsWritten;
        return false;
    }
    if (WriteFailed()) return false;

    FWriteFailureText = Format("Error write file %s: %s", FPath.c_str(),
                               SysErrorText(FLogStream->LastError()).c_str());
    platform::DebugOutput(FWriteFailureText);
    return true;
}
