// The Windows side of the platform layer. The list and wording cases need nothing but their
// inputs; the port cases run under Wine against the pseudo-terminal that scripts/windows links
// as the port named by KELVO_TEST_PORT, whose far end echoes what it is sent and obeys two
// commands: "\x01split" (answers "AB", then "CD" after a long pause) and "\x01hangup" (hangs up,
// after linking the port name to a fresh pseudo-terminal for the cases that follow).
#include "platform/PortDiagnosis.h"
#include "platform/PortDiscovery.h"
#include "platform/PortNames.h"
#include "platform/SerialPort.h"
#include "platform/ThreadStop.h"
#include "platform/win/SerialComm.h"

#include <gtest/gtest.h>
#include <windows.h>
#undef CreateFile

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

namespace {
using namespace platform;

// Generous bound for a wait that must end on an event, in ms; never a measure of speed.
constexpr uint32_t kBound = 10000;
const std::string kSplit = "\x01split";
const std::string kHangUp = "\x01hangup";

// Ours, not the system's of the same name.
int LastError() {
    return platform::GetLastError();
}

bool Has(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

std::string Word(int error) {
    PortFacts facts;
    facts.name = "COM5";
    facts.devicePath = DevicePathFor("COM5");
    facts.error = error;
    return WordPortError(facts);
}

TEST(SerialCommList, TakesNamesOfStringValuesInNumberOrder) {
    const std::vector<SerialCommValue> values = {
        {L"\\Device\\USBSER000", REG_SZ, L"COM10"},
        {L"\\Device\\Serial0", REG_SZ, std::wstring(L"COM1\0", 5)},
        {L"\\Device\\VCP0", REG_SZ, L" COM3 "},
        {L"\\Device\\Odd", REG_DWORD, L"COM4"},
        {L"\\Device\\Blank", REG_SZ, std::wstring(L"\0\0", 2)},
        {L"\\Device\\Twice", REG_SZ, std::wstring(L"COM3\0junk", 9)},
        {L"\\Device\\ProlificSerial0", REG_SZ, L"COM2"},
    };
    EXPECT_EQ(PortNamesFromSerialComm(values),
              (std::vector<std::string>{"COM1", "COM2", "COM3", "COM10"}));
    EXPECT_TRUE(PortNamesFromSerialComm({}).empty());
}

TEST(SerialCommList, ReadsTheKeyOfThisMachine) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t data[] = L"COM231";
    ASSERT_EQ(::RegSetValueExW(key, L"\\Device\\KelvoTest0", 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(data), sizeof data),
              ERROR_SUCCESS);
    const auto names = SerialPortNames();
    ::RegDeleteValueW(key, L"\\Device\\KelvoTest0");
    ::RegCloseKey(key);
    EXPECT_NE(std::find(names.begin(), names.end(), "COM231"), names.end());
}

TEST(PortWordingWin, TellsHeldFromUnpluggedAndGoneFromCancelled) {
    EXPECT_EQ(DevicePathFor("COM12"), "\\\\.\\COM12");
    EXPECT_TRUE(Has(Word(ERROR_ACCESS_DENIED), "COM5 is in use by another program"));
    EXPECT_EQ(Word(ERROR_SHARING_VIOLATION), Word(ERROR_ACCESS_DENIED));
    for (int error : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND}) {
        EXPECT_TRUE(Has(Word(error), "adapter is unplugged, or Windows gave it another COM number"))
            << error;
    }
    for (int error : {ERROR_BROKEN_PIPE, ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED}) {
        EXPECT_TRUE(IsDeviceGoneError(error)) << error;
        EXPECT_TRUE(Has(Word(error), "COM5 is gone")) << error;
    }
    // A wait that was cancelled here, or a port another program holds, says nothing of the device.
    EXPECT_FALSE(IsDeviceGoneError(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(IsDeviceGoneError(ERROR_ACCESS_DENIED));
    // Anything else carries the system's own text and the number.
    const std::string other = Word(ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_TRUE(other.rfind("COM5: ", 0) == 0 && Has(other, " (error 8).")) << other;
    EXPECT_FALSE(Has(other, "unknown system error")) << other;
    EXPECT_TRUE(Has(Word(0x2FFFFFFF), "unknown system error"));
}

TEST(SerialPortWinOpen, MissingPortIsWordedAsUnplugged) {
    EXPECT_EQ(CreateFile(DevicePathFor("COM77")), kInvalidPort);
    const int error = LastError();
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
    EXPECT_TRUE(Has(ExplainPortError("COM77", DevicePathFor("COM77"), error), "is not there"));
}

// An open port at 115200 8N1 with the link's time-outs: a 9 ms gap ends a read.
class SerialPortWin : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* name = std::getenv("KELVO_TEST_PORT");
        if (name == nullptr || *name == '\0') {
            GTEST_SKIP() << "KELVO_TEST_PORT names no port with a responder (scripts/windows)";
        }
        name_ = name;
        port_ = CreateFile(DevicePathFor(name_));
        ASSERT_NE(port_, kInvalidPort)
            << ExplainPortError(name_, DevicePathFor(name_), LastError());
        ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR | EV_TXEMPTY));
        ASSERT_TRUE(SetupComm(port_, 4096, 4096));
        ASSERT_TRUE(PurgeComm(port_, PURGE_TXCLEAR | PURGE_RXCLEAR));
        LineSettings line{};
        ASSERT_TRUE(GetCommState(port_, line));
        line.BaudRate = 115200;
        line.ByteSize = 8;
        line.Parity = 0;
        line.StopBits = 0;
        ASSERT_TRUE(SetCommState(port_, line)) << LastError();
        CommTimeouts timeouts{};
        timeouts.ReadIntervalTimeout = 9;
        timeouts.WriteTotalTimeoutMultiplier = 2;
        timeouts.WriteTotalTimeoutConstant = 9;
        ASSERT_TRUE(SetCommTimeouts(port_, timeouts));
    }
    void TearDown() override {
        if (port_ != kInvalidPort) CloseHandle(port_);
    }

    void Send(const std::string& bytes) {
        Event done;
        Overlapped transfer(done);
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        uint32_t total = 0;
        while (total < bytes.size()) {
            uint32_t written = 0;
            const auto left = static_cast<uint32_t>(bytes.size() - total);
            ASSERT_NE(WriteFile(port_, data + total, left, transfer), IoStart::Failed);
            ASSERT_TRUE(GetOverlappedResult(port_, transfer, written, true)) << LastError();
            ASSERT_GT(written, 0u);
            total += written;
        }
        CancelIo(port_, transfer);
    }

    // One read of up to `count` bytes, ended by the interval time-out or the count.
    std::string ReadOnce(uint32_t count) {
        std::string got(count, '\0');
        Event done;
        Overlapped transfer(done);
        const IoStart start =
            ReadFile(port_, reinterpret_cast<uint8_t*>(got.data()), count, transfer);
        EXPECT_NE(start, IoStart::Failed) << LastError();
        if (start == IoStart::Pending) {
            EXPECT_EQ(WaitForTransfer(port_, transfer, nullptr, kBound), WAIT_OBJECT_0);
        }
        uint32_t n = 0;
        EXPECT_TRUE(GetOverlappedResult(port_, transfer, n, false)) << LastError();
        CancelIo(port_, transfer);
        got.resize(n);
        return got;
    }

    std::string Receive(size_t count) {
        std::string got;
        while (got.size() < count && !HasFailure()) {
            got += ReadOnce(static_cast<uint32_t>(count - got.size()));
        }
        return got;
    }

    std::string name_;
    SerialHandle port_ = kInvalidPort;
};

TEST_F(SerialPortWin, SettingsHoldAndEveryByteValueEchoesUnchanged) {
    LineSettings line{};
    ASSERT_TRUE(GetCommState(port_, line));
    EXPECT_EQ(line.BaudRate, 115200u);
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, 0);
    EXPECT_EQ(line.StopBits, 0);

    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);  // XON, XOFF, CR, LF included
    Send(all);
    EXPECT_EQ(Receive(all.size()), all);
    EXPECT_EQ(DeviceGoneError(port_), 0);
}

TEST_F(SerialPortWin, GapAfterTheFirstBytesEndsTheRead) {
    Send(kSplit);
    EXPECT_EQ(ReadOnce(4), "AB");  // the pause is far longer than the interval time-out
    EXPECT_EQ(Receive(2), "CD");
}

TEST_F(SerialPortWin, PendingReadEndsOnAbortStopOrClose) {
    uint8_t buffer[8];
    Event done;
    Overlapped transfer(done);
    {
        Event abort;
        ASSERT_EQ(ReadFile(port_, buffer, sizeof buffer, transfer), IoStart::Pending);
        std::thread other([&] { abort.Set(); });
        EXPECT_EQ(WaitForTransfer(port_, transfer, &abort, kBound), WAIT_OBJECT_0 + 1);
        other.join();
        EXPECT_TRUE(CancelIo(port_, transfer));
    }
    Send("after abort");
    EXPECT_EQ(Receive(11), "after abort");  // the cancelled read took none of it

    {
        StopSignal stop;
        std::promise<void> waiting;
        bool stopped = false;
        std::thread worker([&] {
            SetThreadStopSignal(&stop);
            Event workerDone;
            Overlapped read(workerDone);
            uint8_t into[8];
            if (ReadFile(port_, into, sizeof into, read) != IoStart::Pending) return;
            waiting.set_value();
            try {
                WaitForTransfer(port_, read, nullptr, INFINITE);
            } catch (const ThreadStopRequested&) {
                stopped = true;
            }
            SetThreadStopSignal(nullptr);
        });
        // Raised before or during the wait, the stop ends it either way.
        const auto started = waiting.get_future().wait_for(std::chrono::milliseconds(kBound));
        stop.Raise();
        worker.join();
        ASSERT_EQ(started, std::future_status::ready);
        EXPECT_TRUE(stopped);
    }
    Send("after stop");
    EXPECT_EQ(Receive(10), "after stop");

    ASSERT_EQ(ReadFile(port_, buffer, sizeof buffer, transfer), IoStart::Pending);
    const SerialHandle port = port_;
    std::thread closer([&] { CloseHandle(port); });
    const uint32_t wait = WaitForTransfer(port, transfer, nullptr, kBound);
    closer.join();
    port_ = kInvalidPort;
    // Closed during the wait, the wait ends with the read cancelled; closed before it, the wait
    // finds no port. It never hangs.
    if (wait == WAIT_OBJECT_0) {
        uint32_t n = 0;
        EXPECT_FALSE(GetOverlappedResult(port, transfer, n, false));
        EXPECT_EQ(LastError(), ERROR_OPERATION_ABORTED);
    } else {
        EXPECT_EQ(wait, WAIT_FAILED);
    }
    EXPECT_EQ(ReadFile(port, buffer, sizeof buffer, transfer), IoStart::Failed);
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SerialPortWin, HangUpEndsThePendingReadAsADeviceGone) {
    uint8_t buffer[8];
    Event done;
    Overlapped transfer(done);
    ASSERT_EQ(ReadFile(port_, buffer, sizeof buffer, transfer), IoStart::Pending);
    Send(kHangUp);
    ASSERT_EQ(WaitForTransfer(port_, transfer, nullptr, kBound), WAIT_OBJECT_0);
    uint32_t n = 0;
    EXPECT_FALSE(GetOverlappedResult(port_, transfer, n, false));
    const int error = LastError();
    EXPECT_TRUE(IsDeviceGoneError(error)) << error;
    EXPECT_EQ(DeviceGoneError(port_), error);
    EXPECT_TRUE(Has(ExplainPortError(name_, DevicePathFor(name_), error), name_ + " is gone"));
    CancelIo(port_, transfer);
}

}  // namespace
