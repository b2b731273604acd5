// The worker loop against the simulated tester over a pseudo-terminal; the test plays the
// window: it sets and clears the connected flag on the port notices.
#include "testrun/ReaderWorker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "device/DeviceReading.h"
#include "device/SerialLink.h"
#include "sim/PtyTester.h"
#include "support/Errors.h"
#include "tests/fixtures/DebugCapture.h"
#include "tests/fixtures/MessageCatcher.h"
#include "threads/InterThreadMsg.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The port name of a pseudo-terminal path, as the window lists it ("pts/7").
std::string PortNameOf(const std::string& devicePath) {
    return devicePath.substr(5);
}

bool IsWrite(const Bytes& frame) {
    return frame[2] >= 0x01 && frame[2] <= 0x05;
}

std::vector<Bytes> Writes(const std::vector<Bytes>& frames) {
    std::vector<Bytes> writes;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(writes), IsWrite);
    return writes;
}

class ReaderWorkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        selection.Publish({PortNameOf(tester.DevicePath()), 115200});
        messages.OnMessage = [this](const CaughtMessage& m) {
            if (m.msg == UM_PORT_OPENED) worker.FConnected = true;
            if (m.msg == UM_PORT_CLOSED) worker.FConnected = false;
        };
    }
    void TearDown() override {
        worker.Shutdown();
        worker.Link().Close();
        messages.Drain();
    }

    int Readings() const { return messages.Count(SendStringToMainFormMsg); }

    void ConnectAndWaitForReading() {
        worker.QueueCommand(cmdConnect, 1.0);
        ASSERT_TRUE(messages.WaitUntil([&] { return Readings() >= 1; }));
    }

    DebugCapture debug;
    MessageCatcher messages;
    sim::PtyTester tester;
    TPortSelection selection;
    std::atomic<int> selectionReads{0};
    std::function<void()> onSelectionRead;  // lets a test make the read fail
    TReaderWorker worker{[this] { return ReadSelection(); }, messages.Sink()};

  private:
    TPortChoice ReadSelection() {
        ++selectionReads;
        if (onSelectionRead) onSelectionRead();
        return selection.Current();
    }
};

TEST_F(ReaderWorkerTest, ConnectOpensThePortAndPollingBegins) {
    worker.Start();
    ConnectAndWaitForReading();
    EXPECT_EQ(messages.Count(UM_PORT_OPENED), 1);
    const auto requests = tester.Requests();
    ASSERT_GE(requests.size(), 10u);
    EXPECT_EQ(requests[0][2], 0x10);
    EXPECT_EQ(requests[9][2], 0x19);
}

TEST_F(ReaderWorkerTest, CommandsQueuedWhileDisconnectedNeverReachTheWire) {
    worker.Start(true);
    worker.QueueCommand(cmdStartStop, 1.0);
    worker.QueueCommand(cmdSetCurrent, 2.0);
    worker.QueueCommand(cmdSetCutoffVoltage, 3.0);
    worker.QueueCommand(cmdSetTestTime, 60.0);
    worker.QueueCommand(cmdResetCounters, 0.0);
    worker.QueueCommand(99, 1.0);  // unknown kinds are freed too
    worker.QueueCommand(cmdConnect, 1.0);
    worker.Resume();
    ASSERT_TRUE(messages.WaitUntil([&] { return Readings() >= 2; }));
    EXPECT_TRUE(Writes(tester.Requests()).empty());
}

TEST_F(ReaderWorkerTest, CommandsWhileConnectedReachTheWireInQueueOrder) {
    worker.Start();
    ConnectAndWaitForReading();
    worker.QueueCommand(cmdSetCurrent, 4.5);
    worker.QueueCommand(cmdSetCutoffVoltage, 3.1);
    worker.QueueCommand(cmdSetTestTime, 59.9);
    worker.QueueCommand(77, 0.0);
    worker.QueueCommand(cmdResetCounters, 0.0);
    worker.QueueCommand(cmdStartStop, 1.0);
    worker.QueueCommand(cmdStartStop, 0.0);
    const std::vector<Bytes> expected{
        {0xB1, 0xB2, 0x02, 0x04, 0x32, 0xB6}, {0xB1, 0xB2, 0x03, 0x03, 0x0A, 0xB6},
        {0xB1, 0xB2, 0x04, 0x00, 0x3B, 0xB6}, {0xB1, 0xB2, 0x05, 0x00, 0x00, 0xB6},
        {0xB1, 0xB2, 0x01, 0x01, 0x00, 0xB6}, {0xB1, 0xB2, 0x01, 0x00, 0x00, 0xB6},
    };
    ASSERT_TRUE(messages.WaitUntil([&] { return Writes(tester.Requests()).size() >= 6; }));
    EXPECT_EQ(Writes(tester.Requests()), expected);
    // Each command is followed by a full poll cycle.
    const auto frames = tester.Requests();
    const auto first = std::find_if(frames.begin(), frames.end(), IsWrite);
    ASSERT_NE(first, frames.end());
    EXPECT_EQ((*(first + 1))[2], 0x10);
}

TEST_F(ReaderWorkerTest, AfterADisconnectRequestNoNewPollCycleStarts) {
    worker.Start();
    ConnectAndWaitForReading();
    worker.FConnected = false;  // as the window does at once when asked to disconnect
    worker.QueueCommand(cmdConnect, 0.0);
    ASSERT_TRUE(messages.WaitUntil([&] { return messages.Count(UM_PORT_CLOSED) == 1; }));
    const size_t requests = tester.Requests().size();
    EXPECT_EQ(requests % 10, 0u) << "the cycle in flight ended normally, no new one began";
    // Two more passes: the second's notice proves that the first pass ended, poll or sleep.
    worker.QueueCommand(cmdResetCounters, 0.0);
    worker.QueueCommand(cmdConnect, 0.0);
    worker.QueueCommand(cmdConnect, 0.0);
    ASSERT_TRUE(messages.WaitUntil([&] { return messages.Count(UM_PORT_CLOSED) == 3; }));
    EXPECT_EQ(tester.Requests().size(), requests);
}

TEST_F(ReaderWorkerTest, SelectionIsReadWhenTheConnectIsCarriedOut) {
    worker.Start(true);
    selection.Publish({"kelvo-no-such-port", 9600});
    worker.QueueCommand(cmdConnect, 1.0);
    selection.Publish({PortNameOf(tester.DevicePath()), 9600});  // changed right after Connect
    worker.Resume();
    ASSERT_TRUE(messages.WaitUntil([&] { return Readings() >= 1; }));
    EXPECT_EQ(messages.Count(UM_PORT_CLOSED), 0);
}

TEST_F(ReaderWorkerTest, ConnectWithNoPortSelectedFailsQuietly) {
    selection.Publish({"", 9600});
    worker.Start();
    worker.QueueCommand(cmdConnect, 1.0);
    ASSERT_TRUE(messages.WaitUntil([&] { return messages.Count(UM_PORT_CLOSED) == 1; }));
    EXPECT_EQ(messages.Count(UM_PORT_OPENED), 0);
    EXPECT_EQ(debug.Count("Error open file /dev/: "), 1);
}

TEST_F(ReaderWorkerTest, DisconnectWithoutOpenPortStillReportsClosed) {
    worker.Start();
    worker.QueueCommand(cmdConnect, 0.0);
    worker.QueueCommand(cmdConnect, 0.0);
    ASSERT_TRUE(messages.WaitUntil([&] { return messages.Count(UM_PORT_CLOSED) == 2; }));
}

TEST_F(ReaderWorkerTest, AnErrorInACommandLeavesTheLoopRunning) {
    onSelectionRead = [this] {
        if (selectionReads == 1) throw Exception("selection unreadable");
    };
    worker.Start();
    worker.QueueCommand(cmdConnect, 1.0);
    worker.QueueCommand(cmdConnect, 1.0);
    ASSERT_TRUE(messages.WaitUntil([&] { return Readings() >= 1; }));
    EXPECT_TRUE(debug.Contains("selection unreadable"));
    EXPECT_EQ(messages.Count(UM_PORT_OPENED), 1);
}

TEST_F(ReaderWorkerTest, ShutdownWhileConnectedEndsTheWorkerWithoutANotice) {
    worker.Start();
    ConnectAndWaitForReading();
    worker.QueueCommand(cmdResetCounters, 0.0);  // still queued or in hand: freed, not run
    worker.Shutdown();
    messages.Drain();
    EXPECT_EQ(messages.Count(UM_PORT_CLOSED), 0);
}

TEST_F(ReaderWorkerTest, ShutdownDuringAPollOfASilentTesterReturns) {
    sim::FaultOptions silent;
    silent.silent = true;
    tester.SetFaults(silent);
    worker.Start();
    worker.QueueCommand(cmdConnect, 1.0);
    ASSERT_TRUE(messages.WaitUntil([&] { return worker.FConnected.load(); }));
    ASSERT_TRUE(tester.WaitForRequests(1, std::chrono::seconds(20)));  // inside the poll
    worker.Shutdown();  // must not wait for the 20 s cycle; the bench measures how long
    EXPECT_EQ(Readings(), 0);
}

}  // namespace
