// The serial link over a real pseudo-terminal whose far end the test drives byte by byte.
#include "device/SerialLink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "tests/fixtures/DebugCapture.h"
#include "tests/fixtures/MessageCatcher.h"
#include "tests/fixtures/ScriptedTerminal.h"
#include "threads/InterThreadMsg.h"

namespace {

using Bytes = ScriptedTerminal::Bytes;

const Bytes kVoltageRequest{0xB1, 0xB2, 0x11, 0x00, 0x00, 0xB6};
const Bytes kVoltageAnswer{0xCA, 0xCB, 0x00, 0x0B, 0xF4, 0xCE, 0xCF};
const Bytes kCurrentAnswer{0xCA, 0xCB, 0x00, 0x12, 0xC1, 0xCE, 0xCF};

class SerialLinkTest : public ::testing::Test {
  protected:
    void TearDown() override {
        link.Close();
        messages.Drain();
    }

    // Opens the scripted far end and forgets the notice and debug line of the open.
    void Open() {
        ASSERT_TRUE(link.Open(far.DevicePath(), 9600));
        messages.Drain();
        messages.Clear();
        debug.Clear();
    }

    // One read transaction with a 7-byte answer; the answer's bytes land in `answer`.
    bool Transact(Bytes& answer, const Bytes& request = kVoltageRequest) {
        answer.assign(7, 0);
        return link.Transaction(request.data(), static_cast<uint32_t>(request.size()),
                                answer.data(), 7, 0xCA, kNoAbortEvent);
    }

    DebugCapture debug;
    MessageCatcher messages;
    TSerialLink link{messages.Sink()};
    ScriptedTerminal far;
};

TEST_F(SerialLinkTest, OpenOfMissingDeviceFailsWithClosedNoticeAndReason) {
    EXPECT_FALSE(link.Open("/dev/kelvo-no-such-port", 9600));
    EXPECT_EQ(link.Port(), platform::kInvalidPort);
    messages.Drain();
    EXPECT_EQ(messages.Count(UM_PORT_CLOSED), 1);
    EXPECT_EQ(messages.Count(UM_PORT_OPENED), 0);
    EXPECT_TRUE(
        debug.Contains("Error open file /dev/kelvo-no-such-port: No such file or directory"))
        << ::testing::PrintToString(debug.Lines());
}

TEST_F(SerialLinkTest, OpenOfSomethingThatIsNoTerminalFails) {
    EXPECT_FALSE(link.Open("/dev/null", 9600));
    messages.Drain();
    EXPECT_EQ(messages.Count(UM_PORT_CLOSED), 1);
    EXPECT_EQ(debug.Count("Error open file /dev/null: "), 1);
}

TEST_F(SerialLinkTest, OpenPostsOneOpenedNoticeThenWritesTheHandle) {
    ASSERT_TRUE(link.Open(far.DevicePath(), 115200));
    messages.Drain();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].msg, UM_PORT_OPENED);
    EXPECT_EQ(debug.Lines(),
              std::vector<std::string>{"PortOpened: " + std::to_string(link.Port())});
}

TEST_F(SerialLinkTest, SecondOpenReleasesTheFirstPortWithoutANotice) {
    // The device is opened exclusively: the second open succeeds only because the first
    // handle was released.
    ASSERT_TRUE(link.Open(far.DevicePath(), 9600));
    const auto first = link.Port();
    ASSERT_TRUE(link.Open(far.DevicePath(), 9600));
    messages.Drain();
    EXPECT_EQ(messages.Count(UM_PORT_OPENED), 2);
    EXPECT_EQ(messages.Count(UM_PORT_CLOSED), 0);
    EXPECT_NE(link.Port(), platform::kInvalidPort);
    EXPECT_FALSE(platform::CloseHandle(first)) << "the first handle must be gone";
}

TEST_F(SerialLinkTest, DeviceHeldByAnotherOpenIsRefused) {
    const auto holder = platform::CreateFile(far.DevicePath());
    ASSERT_NE(holder, platform::kInvalidPort);
    EXPECT_FALSE(link.Open(far.DevicePath(), 9600));
    EXPECT_EQ(debug.Count("Error open file " + far.DevicePath() + ": Device or resource busy"), 1);
    platform::CloseHandle(holder);
}

TEST_F(SerialLinkTest, CloseWithoutOpenPortStillPostsClosedNotice) {
    link.Close();
    link.Close();
    messages.Drain();
    EXPECT_EQ(messages.Count(UM_PORT_CLOSED), 2);
}

TEST_F(SerialLinkTest, IntervalTimeoutFollowsTheBaudRate) {
    for (uint32_t baud : {9600u, 19200u, 38400u, 57600u, 115200u}) {
        EXPECT_EQ(IntervalTimeoutMs(baud, 0, 8), 9u) << baud;
    }
    EXPECT_EQ(IntervalTimeoutMs(1200, 0, 8), 10u);
    EXPECT_EQ(IntervalTimeoutMs(300, 0, 8), 15u);
}

TEST_F(SerialLinkTest, AnswerIsReadAndShownInTheReceivedLine) {
    Open();
    far.Script({kVoltageAnswer});
    Bytes answer;
    EXPECT_TRUE(Transact(answer));
    EXPECT_EQ(answer, kVoltageAnswer);
    EXPECT_EQ(far.Requests(), std::vector<Bytes>{kVoltageRequest});
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Received: True CA CB 00 0B F4 CE CF "});
}

TEST_F(SerialLinkTest, BytesBeforeTheStartByteAreDropped) {
    Open();
    Bytes stray{0x00};
    stray.insert(stray.end(), kVoltageAnswer.begin(), kVoltageAnswer.end());
    far.Script({stray});
    Bytes answer;
    EXPECT_TRUE(Transact(answer));
    EXPECT_EQ(answer, kVoltageAnswer);
}

TEST_F(SerialLinkTest, ChunkWithoutStartByteIsDroppedAndTheReadGoesOn) {
    Open();
    far.Script({{0x01, 0x02, 0x03}});
    Bytes answer;
    EXPECT_FALSE(Transact(answer));
    const auto lines = debug.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Start byte not found in 3 read bytes");
    EXPECT_EQ(lines[1].rfind("Received: False ", 0), 0u) << lines[1];
}

TEST_F(SerialLinkTest, DroppedChunkIsFollowedByAGoodAnswer) {
    Open();
    far.Script({{0x01, 0x02, 0x03}});
    std::thread late([&] {
        // The answer goes out once the link has read and dropped the chunk on its own, so that
        // the two never reach it as one read.
        debug.WaitFor("Start byte not found in 3 read bytes");
        far.Send(kVoltageAnswer);
    });
    Bytes answer;
    EXPECT_TRUE(Transact(answer));
    late.join();
    EXPECT_EQ(answer, kVoltageAnswer);
    EXPECT_EQ(debug.Count("Start byte not found in 3 read bytes"), 1);
}

TEST_F(SerialLinkTest, EndlessBytesWithoutStartByteEndTheRead) {
    Open();
    std::atomic<bool> reading{true};
    std::thread chatter([&] {  // like a device of another kind that talks all the time
        while (reading) {
            far.Send({0x24, 0x47, 0x50});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    auto read = std::async(std::launch::async, [&] {
        Bytes answer;
        return Transact(answer);
    });
    const bool ended = read.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!ended) link.Close();  // lets the read end, so that the test can report
    reading = false;
    chatter.join();
    ASSERT_TRUE(ended);
    EXPECT_FALSE(read.get());
}

TEST_F(SerialLinkTest, AnswerInTwoPiecesAfterAGapIsJoined) {
    Open();
    far.Script({Bytes(kVoltageAnswer.begin(), kVoltageAnswer.begin() + 3)});
    std::thread rest([&] {
        far.WaitForRequests(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        far.Send(Bytes(kVoltageAnswer.begin() + 3, kVoltageAnswer.end()));
    });
    Bytes answer;
    EXPECT_TRUE(Transact(answer));
    rest.join();
    EXPECT_EQ(answer, kVoltageAnswer);
}

TEST_F(SerialLinkTest, SilentFarEndGivesFalseAndUntouchedFilling) {
    Open();
    Bytes answer;
    EXPECT_FALSE(Transact(answer));
    EXPECT_EQ(answer, Bytes(7, 0xFF));
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Received: False FF FF FF FF FF FF FF "});
}

TEST_F(SerialLinkTest, AcknowledgedWriteShowsTheSinglePair) {
    Open();
    far.Script({{0x6F}});
    const Bytes start{0xB1, 0xB2, 0x01, 0x01, 0x00, 0xB6};
    uint8_t ack = 0;
    EXPECT_TRUE(link.Transaction(start.data(), 6, &ack, 1, 0x6F, kNoAbortEvent));
    EXPECT_EQ(ack, 0x6F);
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Received: True 6F "});
}

TEST_F(SerialLinkTest, TransactionWithoutAnswerOnlySends) {
    Open();
    EXPECT_TRUE(link.Transaction(kVoltageRequest.data(), 6, nullptr, 0, 0xCA, kNoAbortEvent));
    EXPECT_TRUE(far.WaitForRequests(1));
    EXPECT_TRUE(debug.Lines().empty());
}

TEST_F(SerialLinkTest, StaleAnswerWaitingInTheInputIsNotTakenForTheNextOne) {
    Open();
    far.Send(kVoltageAnswer);  // arrives unasked, like a late answer to an earlier request
    far.Script({kCurrentAnswer});
    Bytes answer;
    EXPECT_TRUE(Transact(answer));
    EXPECT_EQ(answer, kCurrentAnswer);
}

TEST_F(SerialLinkTest, AbortEventEndsAPendingRead) {
    Open();
    platform::Event abort;
    std::thread aborter([&] {
        far.WaitForRequests(1);
        abort.Set();
    });
    Bytes answer(7, 0);
    EXPECT_FALSE(link.Transaction(kVoltageRequest.data(), 6, answer.data(), 7, 0xCA, &abort));
    aborter.join();
    EXPECT_EQ(debug.Count("Received: False"), 1);
}

TEST_F(SerialLinkTest, CloseFromAnotherThreadEndsTheTransactionAsAFailure) {
    Open();
    std::thread closer([&] {
        far.WaitForRequests(1);
        link.Close();
    });
    Bytes answer;
    EXPECT_FALSE(Transact(answer));
    closer.join();
    EXPECT_EQ(link.Port(), platform::kInvalidPort);
    messages.Drain();
    EXPECT_EQ(messages.Count(UM_PORT_CLOSED), 1);
    // Later transactions fail at once on the closed port.
    EXPECT_FALSE(Transact(answer));
}

TEST_F(SerialLinkTest, WriteGivesUpOnAClosedPort) {
    Open();
    platform::CloseHandle(link.Port());  // the descriptor goes away under the link
    EXPECT_TRUE(link.Write(kVoltageRequest.data(), 6));
    EXPECT_EQ(debug.Count("Not written and error occured: "), 1);
}

}  // namespace
