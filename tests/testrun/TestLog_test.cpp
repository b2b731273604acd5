// The test log on the real file system. CTest runs this program under LC_ALL=C, en_US.UTF-8 and
// de_DE.UTF-8, and once more with a file size limit (tests/testrun/CMakeLists.txt) for the failed
// writes.
#include "testrun/TestLog.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "support/DateTime.h"
#include "support/Errors.h"
#include "support/qt/QtDateTime.h"
#include "testrun/LogReader.h"
#include "testrun/VerdictFile.h"
#include "tests/fixtures/DebugCapture.h"
#include "tests/fixtures/FullFolder.h"

namespace {

// What the environment's locale writes: the texts of the CLDR formats that Qt carries.
struct LocaleTexts {
    char separator;
    std::string dateTime;  // 3 February 2027, 09:05:07
    std::string date;      // 3 February 2027
};

bool LocaleTextsOfEnvironment(LocaleTexts& texts) {
    const char* all = std::getenv("LC_ALL");
    const std::string locale = all != nullptr ? all : "";
    if (locale == "C") {
        texts = {'.', "3 Feb 2027 09:05:07", "3 Feb 2027"};
    } else if (locale == "en_US.UTF-8") {
        texts = {'.', "2/3/27 9:05:07 AM", "2/3/27"};
    } else if (locale == "de_DE.UTF-8") {
        texts = {',', "03.02.27 09:05:07", "03.02.27"};
    } else {
        return false;
    }
    return true;
}

double At(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
    return ToDateTime(QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms)));
}

// When the log is opened: 3 February 2027, 09:05:07.
double OpenTime() {
    return At(2027, 2, 3, 9, 5, 7);
}

TDeviceReading SampleReading() {
    TDeviceReading reading{};
    reading.TimeStamp = OpenTime();
    reading.Status = 1;
    reading.Voltage = 12.3456f;
    reading.Current = 1.5f;
    reading.Power = 18.5184f;
    reading.WattHours = 0.25f;
    reading.AmpHours = 0.02f;
    reading.Temperature = 31;
    reading.TestTime = 90;
    return reading;
}

TDeviceReading FailedReading() {
    TDeviceReading reading{};
    reading.TimeStamp = OpenTime();
    reading.Voltage = reading.Current = reading.AmpHours = reading.Power = reading.WattHours = -1;
    reading.CurrentSetpoint = reading.CutoffVoltage = -1;
    reading.TestTime = reading.TestTimeSetpoint = -1;
    reading.Temperature = reading.Status = -1;
    return reading;
}

std::vector<std::string> Columns(const std::string& row) {
    std::vector<std::string> columns;
    size_t begin = 0;
    for (size_t end; (end = row.find(';', begin)) != std::string::npos; begin = end + 1) {
        columns.push_back(row.substr(begin, end - begin));
    }
    columns.push_back(row.substr(begin));
    return columns;
}

// Columns 3 to 9 joined again.
std::string Values(const std::string& row) {
    const std::vector<std::string> columns = Columns(row);
    std::string values;
    for (size_t i = 2; i < columns.size(); ++i) values += (i > 2 ? ";" : "") + columns[i];
    return values;
}

std::string WithSeparator(std::string text, char separator) {
    for (char& c : text) {
        if (c == '.') c = separator;
    }
    return text;
}

std::string ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return "<unreadable>";
    return file.readAll().toStdString();
}

bool WriteFile(const std::string& path, const std::string& content) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::NewOnly) &&
           file.write(content.data(), static_cast<qint64>(content.size())) ==
               static_cast<qint64>(content.size());
}

// Every line break is CR LF, and the text does not start with a byte-order mark.
void ExpectCrLfTextWithoutBom(const std::string& content) {
    EXPECT_NE(content.rfind("\xEF\xBB\xBF", 0), 0u);
    for (size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\n') {
            EXPECT_TRUE(i > 0 && content[i - 1] == '\r') << "at " << i;
        } else if (content[i] == '\r') {
            EXPECT_TRUE(i + 1 < content.size() && content[i + 1] == '\n') << "at " << i;
        }
    }
}

// While it lives, this process cannot make a file larger than `bytes`: a write past the limit
// fails with EFBIG (SIGXFSZ is ignored, so that it does not end the process), one that crosses it
// is cut short there. The soft limit only, so that it can be lifted again.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(size_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        held_ = bytes <= saved_.rlim_max && setrlimit(RLIMIT_FSIZE, &limit) == 0;
        savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Held() const { return held_; }

  private:
    rlimit saved_{};
    void (*savedHandler_)(int) = nullptr;
    bool held_ = false;
};

class TestLogRowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::setlocale(LC_ALL, "");  // as the application object does; rows must not depend on it
        if (!LocaleTextsOfEnvironment(texts_)) GTEST_SKIP() << "LC_ALL names no known locale";
    }
    LocaleTexts texts_;
};

TEST_F(TestLogRowTest, ReadingGivesLocaleDateTimesAndTwoDecimals) {
    const std::string row = LogRow(SampleReading());
    const std::vector<std::string> columns = Columns(row);
    ASSERT_EQ(columns.size(), 9u) << row;
    EXPECT_EQ(columns[0], texts_.dateTime);
    EXPECT_EQ(columns[1], "00:01:30");
    EXPECT_EQ(Values(row), WithSeparator("1;12.35;1.50;18.52;0.25;0.02;31", texts_.separator));
}

TEST_F(TestLogRowTest, FailedReadsAreWrittenAsMinusOne) {
    const std::string row = LogRow(FailedReading());
    ASSERT_EQ(Columns(row).size(), 9u) << row;
    EXPECT_EQ(Columns(row)[0], texts_.dateTime);
    EXPECT_EQ(Columns(row)[1], "-1");
    EXPECT_EQ(Values(row), WithSeparator("-1;-1.00;-1.00;-1.00;-1.00;-1.00;-1", texts_.separator));
}

// A time of day would wrap a long test at 24 h and take AM/PM under a 12-hour clock.
TEST_F(TestLogRowTest, TestTimeIsADurationThatNeitherWrapsNorTakesAmPm) {
    const struct {
        int32_t seconds;
        const char* text;
    } cases[] = {
        {0, "00:00:00"},
        {90, "00:01:30"},
        {13 * 3600 + 5 * 60, "13:05:00"},
        {25 * 3600, "25:00:00"},
        {100 * 3600, "100:00:00"},
        {255 * 3600 + 255 * 60 + 255, "259:19:15"},
    };
    TDeviceReading reading = SampleReading();
    for (const auto& c : cases) {
        reading.TestTime = c.seconds;
        EXPECT_EQ(Columns(LogRow(reading))[1], c.text) << c.seconds;
    }
}

TEST_F(TestLogRowTest, MidnightTimeStampShowsTheDateAlone) {
    TDeviceReading reading = SampleReading();
    reading.TimeStamp = At(2027, 2, 3, 0, 0, 0);
    EXPECT_EQ(Columns(LogRow(reading))[0], texts_.date);
    reading.TimeStamp = At(2027, 2, 3, 0, 0, 0, 400);
    EXPECT_EQ(Columns(LogRow(reading))[0], texts_.date);
    reading.TimeStamp = At(2027, 2, 3, 0, 0, 1);
    EXPECT_NE(Columns(LogRow(reading))[0], texts_.date);
    EXPECT_EQ(Columns(LogRow(reading))[0].rfind(texts_.date + " ", 0), 0u);
}

TEST(LogFilePathTest, NameComesFromTheDateAndTimeInTheExecutablesFolder) {
    EXPECT_EQ(LogFilePath("/opt/kelvo/KelvoReader", OpenTime()),
              "/opt/kelvo/Log_20270203_090507.csv");
    EXPECT_EQ(LogFilePath("/KelvoReader", OpenTime()), "//Log_20270203_090507.csv");
    EXPECT_EQ(LogFilePath("/opt/kelvo/KelvoReader", At(2026, 12, 6, 19, 3, 57)),
              "/opt/kelvo/Log_20261206_190357.csv");
    EXPECT_EQ(LogFilePath("/a/b", At(2027, 12, 31, 23, 59, 59, 999)), "/a/Log_20271231_235959.csv");
}

// A port under a folder (a terminal picked by hand) names the log, never a folder of its own.
TEST(LogFilePathTest, APortNamesTheLogInTheSameFolder) {
    EXPECT_EQ(LogFilePathIn("/logs", OpenTime(), "ttyUSB0"),
              "/logs/Log_20270203_090507_ttyUSB0.csv");
    EXPECT_EQ(LogFilePathIn("/logs", OpenTime(), "pts/3"), "/logs/Log_20270203_090507_pts-3.csv");
}

// An installed program must leave the system's program folder alone (and an ordinary user could
// not write there): its logs go to the user's documents, in a folder made when missing. A build
// folder keeps its logs.
TEST(LogFolderTest, InstalledProgramLogsIntoTheUsersDocuments) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");  // no user-dirs file moves the Documents folder
    const std::string bin = home.path().toStdString() + "/usr/bin";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(bin)));

    const std::string documents = home.path().toStdString() + "/Documents/" + kLogFolderName;
    EXPECT_EQ(LogFolderFor(bin, bin), documents);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(documents)).isDir());
    EXPECT_EQ(LogFolderFor(bin, "/usr/bin"), bin);

    // The desktop's user-dirs file names the documents folder, in its own words ("$HOME/...").
    ASSERT_TRUE(QDir().mkpath(home.filePath(".config")));
    std::ofstream(home.filePath(".config/user-dirs.dirs").toStdString())
        << "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    EXPECT_EQ(LogFolderFor(bin, bin), home.path().toStdString() + "/Dokumente/" + kLogFolderName);
    qputenv("HOME", savedHome);
}

// Cutting a day fraction to seconds without rounding it first loses a second now and then.
TEST(LogFilePathTest, EverySecondOfADayKeepsItsOwnName) {
    for (int second = 0; second < 86400; ++second) {
        const QTime time = QTime(0, 0).addSecs(second);
        const std::string expected =
            "/x/Log_20270203_" + time.toString("HHmmss").toStdString() + ".csv";
        const std::string path =
            LogFilePath("/x/p", At(2027, 2, 3, time.hour(), time.minute(), time.second()));
        if (path != expected) {
            ADD_FAILURE() << path << " instead of " << expected;
            break;
        }
    }
}

class TestLogFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

    std::string FolderPath() const { return folder_.path().toStdString(); }
    std::string ExpectedPath(const std::string& suffix = "") const {
        return FolderPath() + "/Log_20270203_090507" + suffix + ".csv";
    }

    QTemporaryDir folder_;
    double now_ = OpenTime();
    TTestLog log_{[this] { return now_; }, [this] { return FolderPath() + "/KelvoReader"; }};
};

TEST_F(TestLogFileTest, EachRowIsInTheFileAsSoonAsItIsWritten) {
    log_.OpenLog();
    ASSERT_TRUE(log_.IsOpen());
    EXPECT_EQ(log_.Path(), ExpectedPath());
    const std::string header = std::string(kLogHeader) + "\r\n";
    EXPECT_EQ(ReadFile(log_.Path()), header);

    EXPECT_FALSE(log_.WriteLogRow(SampleReading()));
    EXPECT_EQ(ReadFile(log_.Path()), header + LogRow(SampleReading()) + "\r\n");
    EXPECT_FALSE(log_.WriteLogRow(FailedReading()));
    const std::string content = ReadFile(log_.Path());
    EXPECT_EQ(content,
              header + LogRow(SampleReading()) + "\r\n" + LogRow(FailedReading()) + "\r\n");
    ExpectCrLfTextWithoutBom(content);
    EXPECT_FALSE(log_.WriteFailed());
}

TEST_F(TestLogFileTest, ExistingFileOfTheSameNameIsKept) {
    ASSERT_TRUE(WriteFile(ExpectedPath(), "earlier test\r\n"));
    log_.OpenLog();
    EXPECT_EQ(log_.Path(), ExpectedPath("_2"));
    log_.WriteLogRow(SampleReading());
    log_.OpenLog();  // a reconnection within the same second
    EXPECT_EQ(log_.Path(), ExpectedPath("_3"));

    EXPECT_EQ(ReadFile(ExpectedPath()), "earlier test\r\n");
    EXPECT_EQ(ReadFile(ExpectedPath("_2")),
              std::string(kLogHeader) + "\r\n" + LogRow(SampleReading()) + "\r\n");
    EXPECT_EQ(ReadFile(ExpectedPath("_3")), std::string(kLogHeader) + "\r\n");
}

TEST_F(TestLogFileTest, ReconnectionGivesANewFileAndClosingStopsTheRows) {
    log_.OpenLog();
    const std::string first = log_.Path();
    now_ = At(2027, 2, 3, 9, 6, 0);
    log_.OpenLog();
    EXPECT_EQ(log_.Path(), FolderPath() + "/Log_20270203_090600.csv");
    log_.CloseLog();
    EXPECT_FALSE(log_.IsOpen());
    EXPECT_EQ(log_.Path(), FolderPath() + "/Log_20270203_090600.csv");
    EXPECT_FALSE(log_.WriteLogRow(SampleReading()));
    log_.CloseLog();
    EXPECT_EQ(ReadFile(first), std::string(kLogHeader) + "\r\n");
    EXPECT_EQ(ReadFile(log_.Path()), std::string(kLogHeader) + "\r\n");
}

// The program's folder is gone and the user's documents cannot take the logs either.
TEST_F(TestLogFileTest, UncreatableFileRaisesWithItsPath) {
    TTestLog log([this] { return now_; }, [this] { return FolderPath() + "/missing/KelvoReader"; });
    const QByteArray savedHome = qgetenv("HOME");
    QFile plainFile(QString::fromStdString(FolderPath() + "/file"));
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    qputenv("HOME", (plainFile.fileName() + "/home").toLocal8Bit());
    struct RestoreHome {
        QByteArray home;
        ~RestoreHome() { qputenv("HOME", home); }
    } restore{savedHome};
    DebugCapture debug;
    try {
        log.OpenLog();
        FAIL() << "no error raised";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file " + FolderPath() + "/missing/Log_20270203_090507.csv");
    }
    EXPECT_EQ(log.Path(), FolderPath() + "/missing/Log_20270203_090507.csv");
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.WriteLogRow(SampleReading()));
    EXPECT_EQ(debug.Count("Error create file " + log.Path()), 1);
}

// Another program asking for the file's lock (flock(1), non-blocking) is refused while the log
// is open, and served once it is closed.
TEST_F(TestLogFileTest, NoOtherProgramCanLockTheOpenLog) {
    if (QStandardPaths::findExecutable("flock").isEmpty()) GTEST_SKIP() << "no flock program";
    auto otherProgramLocks = [](const std::string& path) {
        QProcess flock;
        flock.start("flock", {"--nonblock", "--conflict-exit-code", "7",
                              QString::fromStdString(path), "true"});
        EXPECT_TRUE(flock.waitForFinished(60000));
        return flock.exitCode() == 0;
    };
    log_.OpenLog();
    EXPECT_FALSE(otherProgramLocks(log_.Path()));
    log_.CloseLog();
    EXPECT_TRUE(otherProgramLocks(log_.Path()));
}

// Runs only under the file size limit that tests/testrun/CMakeLists.txt sets up: writes beyond it
// fail.
TEST_F(TestLogFileTest, FailedWriteIsReportedOnceAndLoggedOnce) {
    const char* limit = std::getenv("KELVO_TEST_FILE_SIZE_LIMIT");
    if (limit == nullptr) GTEST_SKIP() << "runs under a file size limit only";
    DebugCapture debug;
    log_.OpenLog();

    int reports = 0;
    int rows = 0;
    for (; rows < 200; ++rows) {
        if (log_.WriteLogRow(SampleReading())) ++reports;
    }
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(log_.WriteFailed());
    EXPECT_TRUE(log_.IsOpen());
    EXPECT_EQ(log_.WriteFailureText().rfind("Error write file " + log_.Path() + ": ", 0), 0u);
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{log_.WriteFailureText()});
    EXPECT_EQ(ReadFile(log_.Path()).size(), std::stoul(limit));
    // Every whole row reads back; the one cut short at the limit does not.
    const TLoggedTests logged = ReadLoggedTests(log_.Path());
    ASSERT_EQ(logged.Tests.size(), 1u);
    EXPECT_EQ(static_cast<int64_t>(logged.Tests[0].Points.size()), log_.RowsWritten());
    EXPECT_LE(logged.UnreadableRows, 1);

    // A new log starts without a failure and reports its own.
    now_ = At(2027, 2, 3, 9, 6, 0);
    log_.OpenLog();
    EXPECT_FALSE(log_.WriteFailed());
    reports = 0;
    for (rows = 0; rows < 200; ++rows) {
        if (log_.WriteLogRow(SampleReading())) ++reports;
    }
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(debug.Lines().size(), 2u);
}

// On a full disk a file beside the log is written whole or not at all: an earlier one keeps what it
// held, and no temporary file is left.
TEST(FullDiskTest, FileBesideTheLogIsWholeOrNotThere) {
    TFullFolder full;
    if (!full.Mounted()) GTEST_SKIP() << full.Why();
    const std::string kept = full.Path() + "/kept.json";
    ASSERT_EQ(WriteFileWhole(kept, "{\"as\": \"before\"}\n"), "");
    ASSERT_TRUE(full.Fill(0));
    // The system's words, in the locale that an earlier test may have set.
    const std::string noSpace = std::generic_category().message(ENOSPC);
    EXPECT_EQ(WriteFileWhole(full.Path() + "/new.json", "{}\n"), noSpace);
    EXPECT_EQ(WriteFileWhole(kept, "{}\n"), noSpace);
    EXPECT_EQ(ReadFile(kept), "{\"as\": \"before\"}\n");
    EXPECT_EQ(full.Names(), std::vector<std::string>{"kept.json"});
}

// Writes that fail part way, then succeed again once there is room: a failed write can leave
// nothing, a row without its line end, a row and its CR, or part of a row, and the rows after it
// must each start a line of their own, with no empty line and no stray CR between them, so that
// the reader takes every whole row.
TEST_F(TestLogFileTest, RowsAfterAFailedWriteLeaveNoEmptyLineNorStrayCr) {
    const size_t row = LogRow(SampleReading()).size();
    const struct {
        const char* failure;
        std::vector<size_t> reached;  // bytes of each failed write that reach the file
        int wholeRows;                // rows of the failed writes that read back whole
        int cutRows;
    } cases[] = {
        {"nothing reached the file", {0}, 0, 0},
        {"the row without its line end", {row}, 1, 0},
        {"the row and its CR", {row + 1}, 1, 0},
        {"part of the row", {10}, 0, 1},
        {"part of the row, then the CR that ends it", {10, 1}, 0, 1},
        {"part of the row, then its line end and part of the next", {10, 2 + 10}, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        now_ += 1.0 / 86400;  // a log of its own
        DebugCapture debug;
        log_.OpenLog();
        log_.WriteLogRow(SampleReading());
        log_.WriteLogRow(SampleReading());
        std::vector<bool> reported;
        for (const size_t reached : c.reached) {
            FileSizeLimit limit(QFileInfo(QString::fromStdString(log_.Path())).size() + reached);
            ASSERT_TRUE(limit.Held());
            reported.push_back(log_.WriteLogRow(SampleReading()));
        }
        EXPECT_FALSE(log_.WriteLogRow(SampleReading()));
        EXPECT_FALSE(log_.WriteLogRow(SampleReading()));
        log_.CloseLog();
        EXPECT_TRUE(reported.front());
        EXPECT_EQ(std::count(reported.begin(), reported.end(), true), 1);

        const std::string content = ReadFile(log_.Path());
        ExpectCrLfTextWithoutBom(content);
        EXPECT_EQ(content.find("\r\n\r\n"), std::string::npos) << "an empty line";
        EXPECT_TRUE(content.ends_with(LogRow(SampleReading()) + "\r\n"));

        const TLoggedTests logged = ReadLoggedTests(log_.Path());
        ASSERT_EQ(logged.Tests.size(), 1u);
        EXPECT_EQ(logged.Tests[0].Points.size(), 4u + c.wholeRows);
        EXPECT_EQ(logged.UnreadableRows, c.cutRows);
    }
}

}  // namespace
