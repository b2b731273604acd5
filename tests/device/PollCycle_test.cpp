// The tester protocol and the poll cycle against the simulated tester over a pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "device/DeviceProtocol.h"
#include "device/PollCycle.h"
#include "device/SerialLink.h"
#include "sim/PtyTester.h"
#include "support/DateTime.h"
#include "tests/fixtures/DebugCapture.h"
#include "tests/fixtures/MessageCatcher.h"
#include "tests/fixtures/ScriptedTerminal.h"
#include "threads/InterThreadMsg.h"
#include "threads/MessageQueue.h"

namespace {

using Bytes = std::vector<uint8_t>;

sim::Registers SampleRegisters() {
    sim::Registers r;
    r.status = 0;
    r.voltage_mV = 3060;
    r.current_mA = 4801;
    r.testTime_s = 3752;
    r.ampHours_mAh = 1234;
    r.wattHours_mWh = 4567;
    r.temperature = 26;
    r.currentSetpoint_cA = 250;
    r.cutoffVoltage_cV = 800;
    r.testTimeSetpoint_s = 3723;
    return r;
}

class PollCycleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(link.Open(tester.DevicePath(), 9600));
        messages.Drain();
        messages.Clear();
        tester.ClearLog();
    }
    void TearDown() override {
        link.Close();
        messages.Drain();
    }

    // The one reading posted by PollDevice().
    TDeviceReading PollAndCatch() {
        PollDevice(link, kNoAbortEvent);
        EXPECT_TRUE(
            messages.WaitUntil([&] { return messages.Count(SendStringToMainFormMsg) == 1; }));
        const auto& m = messages.Messages().back();
        EXPECT_EQ(m.lParam, static_cast<std::intptr_t>(sizeof(TDeviceReading)));
        TDeviceReading reading{};
        std::memcpy(&reading, m.block.data(), sizeof reading);
        return reading;
    }

    DebugCapture debug;
    MessageCatcher messages;
    TSerialLink link{messages.Sink()};
    sim::PtyTester tester;
};

TEST_F(PollCycleTest, ReadingEqualsTheTestersRegisters) {
    tester.SetRegisters(SampleRegisters());
    const double before = CurrentDateTime();
    const TDeviceReading r = PollAndCatch();
    EXPECT_GE(r.TimeStamp, before);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Voltage, 3.06f);
    EXPECT_EQ(r.Current, 4.801f);
    EXPECT_EQ(r.Power, 3.06f * 4.801f);
    EXPECT_NEAR(r.Power, 14.691, 0.001);
    EXPECT_EQ(r.TestTime, 3752);
    EXPECT_EQ(r.AmpHours, 1.234f);
    EXPECT_EQ(r.WattHours, 4.567f);
    EXPECT_EQ(r.Temperature, 26);
    EXPECT_EQ(r.CurrentSetpoint, 2.5f);
    EXPECT_EQ(r.CutoffVoltage, 8.0f);
    EXPECT_EQ(r.TestTimeSetpoint, 3723);
}

TEST_F(PollCycleTest, ReadsGoOutInCodeOrderOneEach) {
    PollAndCatch();
    const auto requests = tester.Requests();
    ASSERT_EQ(requests.size(), 10u);
    for (uint8_t i = 0; i < 10; ++i) {
        EXPECT_EQ(requests[i], (Bytes{0xB1, 0xB2, static_cast<uint8_t>(0x10 + i), 0, 0, 0xB6}));
    }
}

TEST_F(PollCycleTest, TemperatureAndStatusBytesAreTakenAsSigned) {
    auto regs = SampleRegisters();
    regs.temperature = 200;
    regs.status = 1;
    tester.SetRegisters(regs);
    EXPECT_EQ(PollAndCatch().Temperature, -56);
    messages.Clear();
    regs = tester.State();
    regs.temperature = 255;
    regs.status = 0;
    tester.SetRegisters(regs);
    const auto r = PollAndCatch();
    EXPECT_EQ(r.Temperature, -1);
    EXPECT_EQ(r.Status, 0);
}

TEST_F(PollCycleTest, ZeroVoltageIsAReadingNotAFailure) {
    auto regs = SampleRegisters();
    regs.voltage_mV = 0;
    tester.SetRegisters(regs);
    const auto r = PollAndCatch();
    EXPECT_EQ(r.Voltage, 0.0f);
    EXPECT_EQ(r.Power, 0.0f);
}

TEST_F(PollCycleTest, StrayByteBeforeAnAnswerStillSucceeds) {
    tester.SetRegisters(SampleRegisters());
    tester.ScriptFault(sim::FaultKind::Noise, 1);
    EXPECT_EQ(ReadStatus(link, kNoAbortEvent), 0);
    EXPECT_EQ(tester.Counters().noise, 1u);
    EXPECT_EQ(tester.Requests().size(), 1u) << "no retry was needed";
}

TEST_F(PollCycleTest, WrongTrailerFourTimesGivesTheFailureValue) {
    tester.SetRegisters(SampleRegisters());
    tester.ScriptFault(sim::FaultKind::CorruptTrailer, 4);
    EXPECT_EQ(ReadVoltage(link, kNoAbortEvent), -1.0);
    EXPECT_EQ(tester.Requests().size(), 4u);
    tester.ScriptFault(sim::FaultKind::CorruptTrailer, 3);
    EXPECT_EQ(ReadVoltage(link, kNoAbortEvent), 3.06);
}

TEST_F(PollCycleTest, SilentTesterGivesTheAllFailureRecord) {
    sim::FaultOptions silent;
    silent.silent = true;
    tester.SetFaults(silent);
    const auto r = PollAndCatch();
    EXPECT_EQ(r.Status, -1);
    EXPECT_EQ(r.Voltage, -1.0f);
    EXPECT_EQ(r.Current, -1.0f);
    EXPECT_EQ(r.Power, -1.0f);
    EXPECT_EQ(r.TestTime, -1);
    EXPECT_EQ(r.AmpHours, -1.0f);
    EXPECT_EQ(r.WattHours, -1.0f);
    EXPECT_EQ(r.Temperature, -1);
    EXPECT_EQ(r.CurrentSetpoint, -1.0f);
    EXPECT_EQ(r.CutoffVoltage, -1.0f);
    EXPECT_EQ(r.TestTimeSetpoint, -1);
    EXPECT_EQ(tester.Requests().size(), 40u);  // four attempts for each of the ten reads
}

// With no echo in the frames, a late answer is taken for a later request's; the answer still owed
// for that request must not be taken for the next one's in turn.
TEST_F(PollCycleTest, LateAnswerPutsAtMostOneReadOutOfStep) {
    tester.SetRegisters(SampleRegisters());
    tester.ScriptFault(sim::FaultKind::Late, 1);  // comes during the retry, so it fits
    EXPECT_EQ(ReadStatus(link, kNoAbortEvent), 0);
    EXPECT_EQ(ReadVoltage(link, kNoAbortEvent), 3.06);
    EXPECT_EQ(ReadCurrent(link, kNoAbortEvent), 4.801);
    EXPECT_EQ(debug.Count("Late answer discarded: CA CB 00 00 00 CE CF"), 1);

    tester.ScriptFault(sim::FaultKind::Drop, 3);
    tester.ScriptFault(sim::FaultKind::Late, 1);  // the last attempt's, after the read gave up
    EXPECT_EQ(ReadTestTime(link, kNoAbortEvent), -1);
    ReadAmpHours(link, kNoAbortEvent);  // takes the late answer: the one read out of step
    EXPECT_EQ(ReadWattHours(link, kNoAbortEvent), 4.567);
    EXPECT_EQ(ReadTemperature(link, kNoAbortEvent), 26);
}

// The device went away during the cycle: the window has been told of the close already, so a
// reading after that notice could never be logged.
TEST_F(PollCycleTest, CycleCutShortByACloseIsNotPosted) {
    sim::FaultOptions silent;
    silent.silent = true;
    tester.SetFaults(silent);
    std::thread worker([this] { PollDevice(link, kNoAbortEvent); });
    ASSERT_TRUE(tester.WaitForRequests(1, std::chrono::seconds(30)));
    link.Close();  // as the window's thread does when the device is removed
    worker.join();
    messages.Drain();
    EXPECT_EQ(messages.Count(UM_PORT_CLOSED), 1);
    EXPECT_EQ(messages.Count(SendStringToMainFormMsg), 0);
    EXPECT_EQ(debug.Count("Reading dropped: the port closed during the poll cycle"), 1);
}

// A tester whose terminal goes away (its process killed) must not be polled on and on: the cycle
// that sees the hang-up closes the port through the close path, with the error, posts no reading
// of failure values, and gives up its remaining reads at once.
TEST_F(PollCycleTest, HangUpClosesThePortWithItsErrorAndPostsNoReading) {
    tester.Vanish();
    PollDevice(link, kNoAbortEvent);
    messages.Drain();
    EXPECT_FALSE(link.IsOpen());
    ASSERT_EQ(messages.Count(UM_PORT_CLOSED), 1);
    EXPECT_EQ(messages.Messages().back().wParam, static_cast<std::uintptr_t>(EIO));
    EXPECT_EQ(messages.Count(SendStringToMainFormMsg), 0);
    EXPECT_EQ(debug.Count("Port hung up: "), 1);
    EXPECT_LE(debug.Count("Received: "), 1);
}

// Answers owed on one connection are not waited for on the next.
TEST_F(PollCycleTest, NewConnectionOwesNoAnswers) {
    tester.ScriptFault(sim::FaultKind::Drop, kQueryAttempts);
    EXPECT_EQ(ReadVoltage(link, kNoAbortEvent), -1.0);
    EXPECT_GT(link.AnswersOwed, 0);
    link.Close();
    ASSERT_TRUE(link.Open(tester.DevicePath(), 9600));
    EXPECT_EQ(link.AnswersOwed, 0);
}

TEST_F(PollCycleTest, WritesPutTheirFramesOnTheWire) {
    WriteCurrentSetpoint(link, 4.5, kNoAbortEvent);
    WriteCutoffVoltage(link, 4.996, kNoAbortEvent);
    WriteTestTime(link, 3723, kNoAbortEvent);
    ResetCounters(link, kNoAbortEvent);
    SetTestRunning(link, false, kNoAbortEvent);
    const std::vector<Bytes> expected{
        {0xB1, 0xB2, 0x02, 0x04, 0x32, 0xB6}, {0xB1, 0xB2, 0x03, 0x04, 0x64, 0xB6},
        {0xB1, 0xB2, 0x04, 0x0E, 0x8B, 0xB6}, {0xB1, 0xB2, 0x05, 0x00, 0x00, 0xB6},
        {0xB1, 0xB2, 0x01, 0x00, 0x00, 0xB6},
    };
    EXPECT_EQ(tester.Requests(), expected);
    EXPECT_EQ(debug.Count("Received: True 6F "), 5);
    const auto regs = tester.State();
    EXPECT_EQ(regs.currentSetpoint_cA, 450u);
    EXPECT_EQ(regs.testTimeSetpoint_s, 3723u);
}

TEST_F(PollCycleTest, StartPausesAtLeastElevenHundredMilliseconds) {
    const auto start = std::chrono::steady_clock::now();
    SetTestRunning(link, true, kNoAbortEvent);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1100));  // a lower bound the pauses guarantee
    EXPECT_EQ(tester.Requests(), (std::vector<Bytes>{{0xB1, 0xB2, 0x01, 0x01, 0x00, 0xB6}}));
    EXPECT_EQ(tester.State().status, 1);
}

TEST_F(PollCycleTest, UnacknowledgedWriteStillReturns) {
    sim::FaultOptions silent;
    silent.silent = true;
    tester.SetFaults(silent);
    ResetCounters(link, kNoAbortEvent);
    EXPECT_EQ(debug.Count("Received: False FF "), 1);
}

// A far end that answers the cycle's reads from a script, so that single reads can fail.
TEST(PollCycleScripted, FailedVoltageReadMakesPowerAFailureToo) {
    DebugCapture debug;
    MessageCatcher messages;
    TSerialLink link(messages.Sink());
    ScriptedTerminal far;
    ASSERT_TRUE(link.Open(far.DevicePath(), 9600));
    auto answer = [](uint8_t d1, uint8_t d2, uint8_t d3) {
        return Bytes{0xCA, 0xCB, d1, d2, d3, 0xCE, 0xCF};
    };
    far.Script({answer(0, 0, 1),  // status: on
                {},
                {},
                {},
                {},                        // voltage: four attempts unanswered
                answer(0x00, 0x12, 0xC1),  // current 4.801 A
                answer(0, 0, 5),
                answer(0, 0, 0),
                answer(0, 0, 0),
                answer(0, 0, 26),
                answer(0, 0, 0),
                answer(0, 0, 0),
                answer(0, 0, 0)});
    const TDeviceReading r = ReadDevice(link, kNoAbortEvent);
    link.Close();
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Voltage, -1.0f);
    EXPECT_EQ(r.Current, 4.801f);
    EXPECT_EQ(r.Power, -1.0f);
    EXPECT_EQ(r.TestTime, 5);
    EXPECT_EQ(r.Temperature, 26);
    EXPECT_EQ(far.Requests().size(), 13u);  // one for each read, four for the voltage
}

}  // namespace

// Testers polled at once, each through a link of its own on its own worker thread: every reading
// reaches the receiver whole, says which link it is from, carries its own tester's values, and
// one tester that goes away closes only its own link.
TEST(PollCycleLinks, LinksPolledAtOnceKeepTheirReadingsApart) {
    constexpr int kLinks = 4;
    constexpr int kCycles = 5;
    TMessageQueue queue;
    std::vector<std::unique_ptr<sim::PtyTester>> testers;
    std::vector<std::unique_ptr<TSerialLink>> links;
    for (int i = 0; i < kLinks; ++i) {
        testers.push_back(std::make_unique<sim::PtyTester>());
        sim::Registers r = SampleRegisters();
        r.voltage_mV = 3000 + 100 * static_cast<uint32_t>(i);
        testers.back()->SetRegisters(r);
        links.push_back(std::make_unique<TSerialLink>(&queue));
        ASSERT_TRUE(links.back()->Open(testers.back()->DevicePath(), 115200));
    }
    testers[kLinks - 1]->Vanish();  // the last tester is gone; the others are polled all the same
    std::vector<std::thread> workers;
    for (int i = 0; i < kLinks; ++i) {
        workers.emplace_back([&, i] {
            for (int cycle = 0; cycle < kCycles; ++cycle) PollDevice(*links[i], kNoAbortEvent);
        });
    }
    for (std::thread& worker : workers) worker.join();
    // Every post went into the queue before its worker ended.

    std::vector<int> readings(kLinks, 0), opened(kLinks, 0), closed(kLinks, 0);
    while (const std::optional<TThreadMessage> message =
               queue.WaitUntil(TMessageQueue::TClock::now())) {
        int from = -1;
        for (int i = 0; i < kLinks; ++i) from = message->From() == links[i].get() ? i : from;
        ASSERT_GE(from, 0) << "a message from no link";
        if (message->Msg() == UM_PORT_OPENED) ++opened[from];
        if (message->Msg() == UM_PORT_CLOSED) ++closed[from];
        if (message->Msg() != SendStringToMainFormMsg) continue;
        ASSERT_EQ(message->LParam(), static_cast<std::intptr_t>(sizeof(TDeviceReading)));
        TDeviceReading reading{};
        std::memcpy(&reading, message->Block(), sizeof reading);
        EXPECT_FLOAT_EQ(reading.Voltage, 3.0f + 0.1f * static_cast<float>(from)) << from;
        ++readings[from];
    }
    for (int i = 0; i < kLinks - 1; ++i) {
        EXPECT_EQ(readings[i], kCycles) << i;
        EXPECT_EQ(closed[i], 0) << i;
        EXPECT_TRUE(links[i]->IsOpen()) << i;
        EXPECT_EQ(links[i]->PostedCount(), static_cast<uint64_t>(1 + kCycles)) << i;
    }
    EXPECT_EQ(opened, std::vector<int>(kLinks, 1));
    EXPECT_EQ(closed[kLinks - 1], 1);
    EXPECT_FALSE(links[kLinks - 1]->IsOpen());
}

// A link given no receiver drops what it would post, and says so.
TEST(PollCycleLinks, LinkWithoutASinkDropsItsMessages) {
    TSerialLink link;
    EXPECT_FALSE(link.Post(TPortClosed{}));
    link.Close();
    EXPECT_EQ(link.PostedCount(), 0u);
}
