// The Windows clock, host name, log file and end signals, under Wine against its real clock,
// file system and console. Ctrl+C goes to a second copy of this program that runs
// EndSignalChild alone on a pseudo-console of its own.
//
// The pseudo-console is Windows 10's; the code under test keeps to the library's Windows 8.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#define NTDDI_VERSION 0x0A000006

#include "platform/HostName.h"
#include "platform/LocalClock.h"
#include "platform/LogFile.h"
#include "platform/Signals.h"
#include "platform/Timing.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {
using namespace platform;
namespace fs = std::filesystem;

// Generous bound for a wait that must end on an event, in ms; never a measure of speed.
constexpr DWORD kBound = 20000;
const wchar_t kChildReady[] = L"KELVO_END_SIGNAL_READY";

fs::path FromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string ReadAll(const std::string& path) {
    std::ifstream file(FromUtf8(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(LocalClockWin, FieldsLessTheOffsetAreTheUtcTimeOfTheCLibrary) {
    KeepPreciseTime();  // once per process; a second call from another thread changes nothing
    std::thread([] { KeepPreciseTime(); }).join();
    for (int i = 0; i < 3; ++i) {
        const std::time_t before = std::time(nullptr);
        const LocalTime now = LocalTimeNow();
        const std::time_t after = std::time(nullptr);
        using namespace std::chrono;
        const year_month_day date{year(now.year), month(static_cast<unsigned>(now.month)),
                                  day(static_cast<unsigned>(now.day))};
        ASSERT_TRUE(date.ok());
        EXPECT_TRUE(now.hour < 24 && now.minute < 60 && now.second < 61 && now.millisecond < 1000);
        EXPECT_TRUE(now.hour >= 0 && now.minute >= 0 && now.second >= 0 && now.millisecond >= 0);
        // Every zone in use is a whole quarter of an hour from UTC, within a day's width.
        EXPECT_LE(std::abs(now.utcOffsetMinutes), 14 * 60);
        EXPECT_EQ(now.utcOffsetMinutes % 15, 0) << now.utcOffsetMinutes;
        const auto utc = sys_days(date) + hours(now.hour) + minutes(now.minute) +
                         seconds(now.second) - minutes(now.utcOffsetMinutes);
        // The C library reads a coarser clock, which may lag the precise one by a tick.
        EXPECT_GE(utc.time_since_epoch().count(), before);
        EXPECT_LE(utc.time_since_epoch().count(), after + 1);
    }
}

TEST(HostNameWin, IsOneLabelOfPrintableText) {
    const std::string name = HostName();
    ASSERT_FALSE(name.empty());
    for (const char c : name) {
        EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) << name;
    }
    EXPECT_EQ(name.find('.'), std::string::npos) << name;  // the domain is not part of it
    EXPECT_EQ(FromUtf8(name).wstring().find(L'\uFFFD'), std::wstring::npos) << name;
    // Under Wine the system's name is the kernel's: that one, up to its domain, it must be.
    std::ifstream kernel("Z:\\proc\\sys\\kernel\\hostname");
    std::string unixName;
    if (std::getline(kernel, unixName)) {
        EXPECT_EQ(name, unixName.substr(0, unixName.find('.')));
    }
}

// A fresh folder with a non-ASCII name in the temporary folder, removed with what it holds.
class LogFileWin : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  (L"kelvo-журнал-" + std::to_wstring(::GetCurrentProcessId()));
        ASSERT_TRUE(fs::create_directory(folder_));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::string In(const std::string& name) const { return Utf8(folder_) + "\\" + name; }

    fs::path folder_;
};

TEST_F(LogFileWin, NewFileTakesEveryByteAndStaysOursWhileOpen) {
    EXPECT_TRUE(CanCreateFilesIn(Utf8(folder_)));
    const std::string path = In("Тест 25°C — ёмкость.log");
    int error = -1;
    auto log = TLogFile::Create(path, error);
    ASSERT_NE(log, nullptr) << error;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(log->LastByteWritten(), -1);

    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string line = "U=1.234 В\r\n";
    ASSERT_TRUE(log->Write(all.data(), all.size()));
    ASSERT_TRUE(log->Write(line.data(), line.size()));
    EXPECT_EQ(log->LastByteWritten(), '\n');
    EXPECT_EQ(log->LastError(), 0);
    // Readable by others while open, byte for byte, with nothing held back in a buffer ...
    EXPECT_EQ(ReadAll(path), all + line);
    // ... but not writable or removable by them.
    EXPECT_FALSE(std::ofstream(FromUtf8(path), std::ios::app).is_open());
    EXPECT_FALSE(::DeleteFileW(FromUtf8(path).c_str()));

    // The name is taken while it is open and after: the file is never opened again.
    int again = 0;
    EXPECT_EQ(TLogFile::Create(path, again), nullptr);
    EXPECT_EQ(again, EEXIST);
    log.reset();
    EXPECT_EQ(TLogFile::Create(path, again), nullptr);
    EXPECT_EQ(again, EEXIST);
    EXPECT_EQ(ReadAll(path), all + line);
}

TEST_F(LogFileWin, TakenNamesAndMissingFoldersAreRefusedWithTheirErrno) {
    ASSERT_TRUE(fs::create_directory(FromUtf8(In("папка"))));
    int error = 0;
    EXPECT_EQ(TLogFile::Create(In("папка"), error), nullptr);
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(TLogFile::Create(In("нет\\a.log"), error), nullptr);
    EXPECT_EQ(error, ENOENT);

    EXPECT_TRUE(CanCreateFilesIn(In("папка\\")));
    EXPECT_TRUE(fs::is_empty(FromUtf8(In("папка"))));  // the probe is gone again
    EXPECT_FALSE(CanCreateFilesIn(In("нет")));
    EXPECT_FALSE(CanCreateFilesIn(""));
    ASSERT_NE(TLogFile::Create(In("file"), error), nullptr);
    EXPECT_FALSE(CanCreateFilesIn(In("file")));  // a file is no folder
}

// The second copy of the program: tells the first when it is ready for a Ctrl+C, twice, and
// takes one through its descriptor, the other by waiting.
TEST(EndSignalChild, TakesEachCtrlCAsInterrupt) {
    wchar_t readyName[128];
    if (::GetEnvironmentVariableW(kChildReady, readyName, 128) == 0) {
        GTEST_SKIP() << "run by EndSignalWin only";
    }
    BlockEndSignals();
    const int descriptor = EndSignalDescriptor();
    ASSERT_GE(descriptor, 0);
    const auto handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(descriptor));
    EXPECT_FALSE(TakeEndSignal(descriptor).has_value());
    const HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, readyName);
    ASSERT_NE(ready, nullptr);

    ::SetEvent(ready);
    ASSERT_EQ(::WaitForSingleObject(handle, kBound), WAIT_OBJECT_0);
    EXPECT_EQ(TakeEndSignal(descriptor), EndSignal::Interrupt);
    EXPECT_FALSE(TakeEndSignal(descriptor).has_value());  // taken: the descriptor is quiet again
    EXPECT_EQ(::WaitForSingleObject(handle, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ::CloseHandle(handle);

    ::SetEvent(ready);
    EXPECT_EQ(WaitForEndSignal(), EndSignal::Interrupt);
    ::CloseHandle(ready);
}

// Wine run headless gives a program no console, and makes none that needs a window: the child
// gets a pseudo-console, whose output a thread drains, and this program joins that console for
// as long as it takes to press Ctrl+C there, ignoring the event itself meanwhile.
class ChildOnPseudoConsole {
  public:
    explicit ChildOnPseudoConsole(std::wstring command) {
        HANDLE inRead = nullptr;
        HANDLE outWrite = nullptr;
        if (!::CreatePipe(&inRead, &input_, nullptr, 0)) return;
        if (!::CreatePipe(&output_, &outWrite, nullptr, 0)) return;
        const HRESULT made = ::CreatePseudoConsole(COORD{80, 25}, inRead, outWrite, 0, &console_);
        ::CloseHandle(inRead);
        ::CloseHandle(outWrite);
        if (FAILED(made)) return;
        drain_ = std::thread([this] {
            char chunk[4096];
            DWORD got = 0;
            while (::ReadFile(output_, chunk, sizeof chunk, &got, nullptr) && got > 0) {
            }
        });
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::vector<char> list(size);
        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
        if (!::InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size)) return;
        if (::UpdateProcThreadAttribute(startup.lpAttributeList, 0,
                                        PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console_,
                                        sizeof console_, nullptr, nullptr)) {
            started_ = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                        EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                        &startup.StartupInfo, &process_);
        }
        ::DeleteProcThreadAttributeList(startup.lpAttributeList);
    }
    ~ChildOnPseudoConsole() {
        if (started_) {
            if (::WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
                ::TerminateProcess(process_.hProcess, 99);
            }
            ::CloseHandle(process_.hProcess);
            ::CloseHandle(process_.hThread);
        }
        if (console_ != nullptr) ::ClosePseudoConsole(console_);  // ends the drain
        if (drain_.joinable()) drain_.join();
        for (HANDLE pipe : {input_, output_}) {
            if (pipe != nullptr) ::CloseHandle(pipe);
        }
    }
    ChildOnPseudoConsole(const ChildOnPseudoConsole&) = delete;
    ChildOnPseudoConsole& operator=(const ChildOnPseudoConsole&) = delete;

    bool Started() const { return started_; }
    HANDLE Process() const { return process_.hProcess; }

    bool PressCtrlC() {
        ::FreeConsole();  // headless, Wine leaves this program on a console that carries no events
        if (!::AttachConsole(process_.dwProcessId)) return false;
        ::SetConsoleCtrlHandler(nullptr, TRUE);
        const bool sent = ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        ::FreeConsole();
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        return sent;
    }

  private:
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
    HPCON console_ = nullptr;
    std::thread drain_;
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

TEST(EndSignalWin, CtrlCOnTheConsoleIsTakenAsInterrupt) {
    const std::wstring readyName =
        L"Local\\kelvo-end-signal-" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE ready = ::CreateEventW(nullptr, FALSE, FALSE, readyName.c_str());
    ASSERT_NE(ready, nullptr);
    wchar_t self[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    ::SetEnvironmentVariableW(kChildReady, readyName.c_str());
    ChildOnPseudoConsole child(L"\"" + std::wstring(self) + L"\" --gtest_filter=EndSignalChild.*");
    ::SetEnvironmentVariableW(kChildReady, nullptr);
    ASSERT_TRUE(child.Started()) << ::GetLastError();

    const HANDLE either[] = {ready, child.Process()};
    for (int press = 0; press < 2; ++press) {
        ASSERT_EQ(::WaitForMultipleObjects(2, either, FALSE, kBound), WAIT_OBJECT_0) << press;
        ASSERT_TRUE(child.PressCtrlC()) << ::GetLastError();
    }
    ASSERT_EQ(::WaitForSingleObject(child.Process(), kBound), WAIT_OBJECT_0);
    DWORD code = 99;
    ::GetExitCodeProcess(child.Process(), &code);
    EXPECT_EQ(code, 0u);  // the child's own checks passed
    ::CloseHandle(ready);
}

// Only Ctrl+Break can be aimed at one process; nothing goes to the whole console or to no one.
TEST(EndSignalWin, SendsNothingItCannotAimAtOneProcess) {
    EXPECT_FALSE(SendEndSignal(0, EndSignal::Interrupt));
    EXPECT_FALSE(SendEndSignal(-1, EndSignal::Interrupt));
    EXPECT_FALSE(SendEndSignal(::GetCurrentProcessId(), EndSignal::Terminate));
    EXPECT_FALSE(SendEndSignal(::GetCurrentProcessId(), EndSignal::HangUp));
    EXPECT_FALSE(TakeEndSignal(-1).has_value());
}

}  // namespace
