#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/CommonTools.h"

namespace {

namespace fs = std::filesystem;

// Waits for `done` with a generous bound; the launcher runs on its own, so records appear later.
bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Parent pid and state of a process from /proc, or false when it is gone.
bool ProcessStat(const std::string& pid, long& parent, char& state) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) return false;
    std::istringstream fields(line.substr(nameEnd + 1));
    fields >> state >> parent;
    return static_cast<bool>(fields);
}

// The pids of this process's children, running or not yet reaped.
std::vector<std::string> OwnChildren() {
    const long self = static_cast<long>(QCoreApplication::applicationPid());
    std::vector<std::string> children;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        long parent = 0;
        char state = '?';
        if (std::all_of(pid.begin(), pid.end(), ::isdigit) && ProcessStat(pid, parent, state) &&
            parent == self) {
            children.push_back(pid);
        }
    }
    return children;
}

bool ProcessEnded(long pid) {
    long parent = 0;
    char state = '?';
    return !ProcessStat(std::to_string(pid), parent, state) || state == 'Z' || state == 'X';
}

struct Record {
    long parentPid = 0;
    std::vector<std::string> args;
    std::vector<std::string> openFiles;  // targets of the program's open descriptors
};

constexpr const char* kOpenFilesMarker = "--open files--";

// Fake `dbus-send` and `xdg-open` first on PATH. Each run writes a record file "<name>-<pid>"
// (atomically, by renaming) holding its parent's pid, its arguments and the targets of its open
// descriptors, one per line, and exits with the status chosen for that program.
class FakeFileManager {
  public:
    explicit FakeFileManager(int dbusStatus) : oldPath_(qgetenv("PATH")) {
        EXPECT_TRUE(work_.isValid() && bin_.isValid() && records_.isValid());
        WriteScript("dbus-send", dbusStatus);
        WriteScript("xdg-open", 0);
        qputenv("PATH", QFile::encodeName(bin_.path()) + ":" + oldPath_);
    }
    ~FakeFileManager() { qputenv("PATH", oldPath_); }

    // A folder for the paths the test shows.
    std::string Work() const { return work_.path().toStdString(); }

    std::vector<Record> Records(const std::string& program) const {
        std::vector<Record> records;
        for (const fs::directory_entry& entry :
             fs::directory_iterator(records_.path().toStdString())) {
            if (entry.path().filename().string().rfind(program + "-", 0) != 0) continue;
            std::ifstream file(entry.path());
            Record record;
            std::string line;
            std::getline(file, line);
            record.parentPid = std::stol(line);
            while (std::getline(file, line) && line != kOpenFilesMarker)
                record.args.push_back(line);
            while (std::getline(file, line)) record.openFiles.push_back(line);
            records.push_back(record);
        }
        return records;
    }

    bool WaitForRecords(const std::string& program, size_t count) const {
        return WaitUntil([&] { return Records(program).size() >= count; });
    }

    // Waits until every launcher that ran dbus-send has ended; after that no more records come.
    bool WaitForLaunchers() const {
        return WaitUntil([&] {
            const std::vector<Record> records = Records("dbus-send");
            return std::all_of(records.begin(), records.end(),
                               [](const Record& r) { return ProcessEnded(r.parentPid); });
        });
    }

  private:
    void WriteScript(const std::string& name, int status) {
        const std::string records = records_.path().toStdString();
        const fs::path script = fs::path(bin_.path().toStdString()) / name;
        std::ofstream(script)
            << "#!/bin/sh\n"
            << "tmp='" << records << "/.'$$\n"
            << "{ echo \"$PPID\"; printf '%s\\n' \"$@\"; echo '" << kOpenFilesMarker << "'\n"
            << "  for fd in /proc/$$/fd/*; do readlink \"$fd\"; done; } > \"$tmp\"\n"
            << "mv \"$tmp\" '" << records << "/" << name << "-'$$\n"
            << "exit " << status << "\n";
        fs::permissions(script, fs::perms::owner_all);
    }

    QByteArray oldPath_;
    QTemporaryDir work_;
    QTemporaryDir bin_;
    QTemporaryDir records_;
};

std::string FileUri(const std::string& absolutePath) {
    return "file://" +
           QUrl::toPercentEncoding(QString::fromStdString(absolutePath), "/").toStdString();
}

std::vector<std::string> DBusCall(const std::string& method, const std::string& uri) {
    return {"--session",
            "--print-reply",
            "--dest=org.freedesktop.FileManager1",
            "--type=method_call",
            "/org/freedesktop/FileManager1",
            "org.freedesktop.FileManager1." + method,
            "array:string:" + uri,
            "string:"};
}

// A folder whose name has a blank, a comma (dbus-send splits arrays at commas) and a non-ASCII
// letter, with one file in it.
struct ShownPaths {
    explicit ShownPaths(const std::string& work)
        : folder(work + "/Log files, \xC3\xBC"), file(folder + "/Log_2024-01-01_12-00-00.csv") {
        fs::create_directory(folder);
        std::ofstream(file) << "x";
    }
    std::string folder;
    std::string file;
};

TEST(OpenInExplorerTest, FolderIsOpenedAsFolderAndTheCallerKeepsNoChild) {
    FakeFileManager fake(0);
    const ShownPaths paths(fake.Work());
    // Opened without close-on-exec, as a serial port or log file of the program might be.
    const std::string privateFile = fake.Work() + "/private.csv";
    std::ofstream keptOpen(privateFile);

    OpenInExplorer(paths.folder);
    // Returned without a child left: the launcher is detached and nothing waits to be reaped.
    EXPECT_EQ(OwnChildren(), std::vector<std::string>{});

    ASSERT_TRUE(fake.WaitForRecords("dbus-send", 1));
    ASSERT_TRUE(fake.WaitForLaunchers());
    const std::vector<Record> calls = fake.Records("dbus-send");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, DBusCall("ShowFolders", FileUri(paths.folder)));
    ASSERT_FALSE(calls[0].openFiles.empty());
    for (const std::string& target : calls[0].openFiles) {
        EXPECT_NE(target, privateFile) << "the file manager inherited a descriptor";
    }
    EXPECT_TRUE(fake.Records("xdg-open").empty()) << "fallback ran although D-Bus succeeded";
}

TEST(OpenInExplorerTest, FileQuotedPathAndMissingPathAreShownSelected) {
    FakeFileManager fake(0);
    const ShownPaths paths(fake.Work());
    const std::string missing = fake.Work() + "/gone away.csv";

    OpenInExplorer(paths.file);
    OpenInExplorer("\"" + missing + "\"");
    const QString oldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(paths.folder)));
    OpenInExplorer("../Log files, \xC3\xBC/./relative.csv");
    QDir::setCurrent(oldCurrent);

    ASSERT_TRUE(fake.WaitForRecords("dbus-send", 3));
    ASSERT_TRUE(fake.WaitForLaunchers());
    std::vector<std::vector<std::string>> calls;
    for (const Record& record : fake.Records("dbus-send")) calls.push_back(record.args);
    std::vector<std::vector<std::string>> expected = {
        DBusCall("ShowItems", FileUri(paths.file)),
        DBusCall("ShowItems", FileUri(missing)),
        DBusCall("ShowItems", FileUri(paths.folder + "/relative.csv")),
    };
    std::sort(calls.begin(), calls.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(fake.Records("xdg-open").empty());
}

TEST(OpenInExplorerTest, FailedDBusCallFallsBackToXdgOpenOfTheFolder) {
    FakeFileManager fake(1);
    const ShownPaths paths(fake.Work());

    OpenInExplorer(paths.file);
    OpenInExplorer(paths.folder);
    EXPECT_EQ(OwnChildren(), std::vector<std::string>{});

    ASSERT_TRUE(fake.WaitForRecords("xdg-open", 2));
    const long self = static_cast<long>(QCoreApplication::applicationPid());
    for (const Record& record : fake.Records("xdg-open")) {
        EXPECT_EQ(record.args, std::vector<std::string>{paths.folder});
        EXPECT_NE(record.parentPid, self);
    }
    EXPECT_EQ(fake.Records("dbus-send").size(), 2u);
}

TEST(OpenInExplorerTest, EmptyPathStartsNothing) {
    FakeFileManager fake(0);
    const ShownPaths paths(fake.Work());

    OpenInExplorer("");
    OpenInExplorer("\"\"");
    OpenInExplorer(paths.folder);  // the one call that shows something

    ASSERT_TRUE(fake.WaitForRecords("dbus-send", 1));
    ASSERT_TRUE(fake.WaitForLaunchers());
    EXPECT_EQ(fake.Records("dbus-send").size(), 1u);
    EXPECT_TRUE(fake.Records("xdg-open").empty());
}

}  // namespace
