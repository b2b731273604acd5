// The simulated tester over a real pseudo-terminal, reached as a console reaches it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/RawTerminalClient.h"
#include "sim/PtyTester.h"
#include "sim/TesterProtocol.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;
using platform::RawTerminalClient;
using namespace std::chrono_literals;

constexpr int kBoundMs = 5000;  // generous: only reached when something is wrong

Bytes Request(uint8_t code, uint8_t p1 = 0, uint8_t p2 = 0) {
    return {0xB1, 0xB2, code, p1, p2, 0xB6};
}

Bytes Expected(uint8_t code, const Registers& registers) {
    const auto answer = ReadAnswer(*ReadData(code, registers));
    return {answer.begin(), answer.end()};
}

// Reads `code` as a console does: a count, or seconds for a clock read (0x13, 0x19).
uint32_t Ask(RawTerminalClient& console, uint8_t code) {
    EXPECT_TRUE(console.Write(Request(code)));
    const Bytes a = console.Read(7, kBoundMs);
    EXPECT_EQ(a.size(), 7u) << "no answer to " << int(code);
    if (a.size() != 7) return 0;
    if (code == 0x13 || code == 0x19) return a[2] * 3600u + a[3] * 60u + a[4];
    return uint32_t{a[2]} << 16 | uint32_t{a[3]} << 8 | a[4];
}

bool Acknowledged(RawTerminalClient& console, const Bytes& request) {
    return console.Write(request) && console.Read(1, kBoundMs) == Bytes{0x6F};
}

// Asks until `condition` holds or a generous bound passes; true when it held.
template <typename Condition>
bool Eventually(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

Registers Pinned() {
    Registers r;
    r.voltage_mV = 3060;
    r.current_mA = 0;
    r.testTime_s = 3752;
    r.ampHours_mAh = 1500;
    r.wattHours_mWh = 5400;
    r.temperature = 26;
    r.currentSetpoint_cA = 450;
    r.cutoffVoltage_cV = 300;
    r.testTimeSetpoint_s = 3723;
    return r;
}

TEST(PtyTester, FullPollMatchesTheStateItReports) {
    PtyTester tester;
    tester.SetRegisters(Pinned());
    RawTerminalClient console(tester.DevicePath());
    for (uint8_t code = 0x10; code <= 0x19; ++code) {
        ASSERT_TRUE(console.Write(Request(code)));
        EXPECT_EQ(console.Read(7, kBoundMs), Expected(code, tester.State())) << int(code);
    }
    EXPECT_EQ(tester.State(), Pinned());
    const auto requests = tester.Requests();
    ASSERT_EQ(requests.size(), 10u);
    EXPECT_EQ(requests[3], Request(0x13));
    EXPECT_EQ(tester.WireIn().size(), 60u);
    EXPECT_EQ(tester.Counters().answers, 10u);
}

TEST(PtyTester, WritesAreAcknowledgedAndReachTheModel) {
    PtyTester tester;
    RawTerminalClient console(tester.DevicePath());
    for (const Bytes& request : {Request(0x02, 0x04, 0x32), Request(0x03, 0x02, 0x2D),
                                 Request(0x04, 0x0E, 0x8B), Request(0x01, 1)}) {
        ASSERT_TRUE(console.Write(request));
        EXPECT_EQ(console.Read(1, kBoundMs), Bytes{0x6F});
    }
    const Registers r = tester.State();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.currentSetpoint_cA, 450u);
    EXPECT_EQ(r.current_mA, 4500u);
    EXPECT_EQ(r.cutoffVoltage_cV, 245u);
    EXPECT_EQ(r.testTimeSetpoint_s, 3723u);
}

TEST(PtyTester, GarbageAndUnknownCodesDoNotDesynchroniseIt) {
    PtyTester tester;
    tester.SetRegisters(Pinned());
    RawTerminalClient console(tester.DevicePath());
    Bytes stream = {0x00, 0xB1, 0x13, 0xFF};
    const Bytes unknown = Request(0x20);
    const Bytes voltage = Request(0x11);
    stream.insert(stream.end(), unknown.begin(), unknown.end());
    stream.insert(stream.end(), voltage.begin(), voltage.end());
    ASSERT_TRUE(console.Write(stream));
    // An answer to the unknown code would come first and differ.
    EXPECT_EQ(console.Read(7, kBoundMs), Expected(0x11, Pinned()));
    EXPECT_EQ(tester.Requests(), (std::vector<Bytes>{unknown, voltage}));
    EXPECT_EQ(tester.Counters().answers, 1u);
}

TEST(PtyTester, ScriptedFaultsReachTheWire) {
    PtyTester tester;
    tester.SetRegisters(Pinned());
    RawTerminalClient console(tester.DevicePath());
    const Bytes good = Expected(0x11, Pinned());

    tester.ScriptFault(FaultKind::Drop);
    ASSERT_TRUE(console.Write(Request(0x11)));
    ASSERT_TRUE(tester.WaitForRequests(1, std::chrono::milliseconds(kBoundMs)));
    tester.ScriptFault(FaultKind::CorruptTrailer);
    ASSERT_TRUE(console.Write(Request(0x11)));
    Bytes corrupted = good;
    corrupted.back() ^= 0xFF;
    EXPECT_EQ(console.Read(7, kBoundMs), corrupted) << "the dropped answer never came";

    tester.ScriptFault(FaultKind::Noise);
    ASSERT_TRUE(console.Write(Request(0x11)));
    auto endsWithAnswer = [&good](const Bytes& bytes) {
        return bytes.size() >= good.size() &&
               std::equal(good.rbegin(), good.rend(), bytes.rbegin());
    };
    Bytes noisy;
    while (noisy.size() < 10 && !endsWithAnswer(noisy)) {
        const Bytes more = console.Read(1, kBoundMs);
        if (more.empty()) break;
        noisy.push_back(more[0]);
    }
    ASSERT_GE(noisy.size(), 8u);
    EXPECT_TRUE(endsWithAnswer(noisy));

    const FaultCounters counters = tester.Counters();
    EXPECT_EQ(counters.drop, 1u);
    EXPECT_EQ(counters.corruptTrailer, 1u);
    EXPECT_EQ(counters.noise, 1u);
    EXPECT_EQ(counters.requests, 3u);
    EXPECT_EQ(counters.answers, 2u);
}

TEST(PtyTester, LateAnswerComesAfterTheConsoleGaveUp) {
    PtyTester tester;
    tester.SetRegisters(Pinned());
    FaultOptions faults;
    faults.lateMs = 600;
    tester.SetFaults(faults);
    tester.ScriptFault(FaultKind::Late);
    RawTerminalClient console(tester.DevicePath());
    ASSERT_TRUE(console.Write(Request(0x11)));
    // Late means at least lateMs after the request: nothing can have come within 300 ms.
    EXPECT_TRUE(console.Read(7, 300).empty());
    // The console's retry finds the late answer first, then the retry's own answer.
    ASSERT_TRUE(console.Write(Request(0x11)));
    const Bytes good = Expected(0x11, Pinned());
    EXPECT_EQ(console.Read(7, kBoundMs), good);
    EXPECT_EQ(console.Read(7, kBoundMs), good);
    EXPECT_EQ(tester.Counters().late, 1u);
}

TEST(PtyTester, SilentTesterHearsButDoesNotAnswer) {
    Options options;
    options.faults.silent = true;
    PtyTester tester(options);
    RawTerminalClient console(tester.DevicePath());
    ASSERT_TRUE(console.Write(Request(0x10)));
    ASSERT_TRUE(tester.WaitForRequests(1, std::chrono::milliseconds(kBoundMs)));
    FaultOptions talkative;
    tester.SetFaults(talkative);
    // An answer to the first request would come first and differ.
    ASSERT_TRUE(console.Write(Request(0x11)));
    EXPECT_EQ(console.Read(7, kBoundMs), Expected(0x11, tester.State()));
    EXPECT_EQ(tester.Counters().silence, 1u);
}

TEST(PtyTester, PacedAnswerIsCorrectAndTakesItsLineTime) {
    Options options;
    options.paceBaud = 300;  // 33 ms a byte: 6 bytes in and 7 out take more than 400 ms
    PtyTester tester(options);
    tester.SetRegisters(Pinned());
    RawTerminalClient console(tester.DevicePath());
    ASSERT_TRUE(console.Write(Request(0x13)));
    // The request alone is on the wire for 200 ms, so nothing of the answer can be there sooner.
    EXPECT_TRUE(console.Read(7, 150).empty());
    EXPECT_EQ(console.Read(7, kBoundMs), Expected(0x13, Pinned()));
}

TEST(PtyTester, PacedAtConsoleRatesAnswersEveryRead) {
    for (uint32_t baud : {9600u, 115200u}) {
        Options options;
        options.paceBaud = baud;
        PtyTester tester(options);
        tester.SetRegisters(Pinned());
        RawTerminalClient console(tester.DevicePath());
        for (uint8_t code = 0x10; code <= 0x19; ++code) {
            ASSERT_TRUE(console.Write(Request(code)));
            EXPECT_EQ(console.Read(7, kBoundMs), Expected(code, Pinned()))
                << baud << " " << int(code);
        }
    }
}

TEST(PtyTester, AcceleratedDischargeEndsAtTheCutoffAsPolled) {
    Options options;
    options.acceleration = 20000;  // the 2 Ah cell at 2 A lasts well under a real second
    PtyTester tester(options);
    RawTerminalClient console(tester.DevicePath());
    for (const Bytes& request : {Request(0x02, 2, 0), Request(0x03, 3, 20), Request(0x01, 1)}) {
        ASSERT_TRUE(console.Write(request));
        ASSERT_EQ(console.Read(1, kBoundMs), Bytes{0x6F});
    }
    // Bounded by time, not by a count of polls: a fast machine polls more often than the model
    // has moved by.
    Bytes status;
    EXPECT_TRUE(Eventually([&] {
        status = console.Write(Request(0x10)) ? console.Read(7, kBoundMs) : Bytes{};
        return status == Expected(0x10, Registers{});
    })) << "the test never stopped";
    const Registers r = tester.State();
    EXPECT_EQ(r.current_mA, 0u);
    EXPECT_GE(r.voltage_mV, 3200u);
    EXPECT_GT(r.ampHours_mAh, 1000u);
}

TEST(PtyTester, LateStartRunsAtOnceButShowsStoppedForExactlyThatManyPolls) {
    Options options;
    options.startLatePolls = 3;
    options.acceleration = 100;  // at 1 A a mAh every 36 ms; the cell lasts over a minute
    PtyTester tester(options);
    RawTerminalClient console(tester.DevicePath());
    ASSERT_TRUE(Acknowledged(console, Request(0x02, 1, 0)));
    ASSERT_TRUE(Acknowledged(console, Request(0x01, 1)));
    // The test runs before a poll shows it; reads of other registers are no polls.
    EXPECT_TRUE(Eventually([&] { return Ask(console, 0x14) > 0 && Ask(console, 0x13) > 0; }));
    for (int poll = 0; poll < 3; ++poll) {
        EXPECT_EQ(tester.State().status, 0) << "State() shows what the next poll answers";
        EXPECT_EQ(Ask(console, 0x10), 0u) << poll;
        EXPECT_EQ(Ask(console, 0x12), 1000u) << poll;
    }
    EXPECT_EQ(Ask(console, 0x10), 1u);
}

TEST(PtyTester, ConsoleClosingAndReopeningKeepsTheTesterServing) {
    PtyTester tester;
    tester.SetRegisters(Pinned());
    for (int connection = 0; connection < 3; ++connection) {
        RawTerminalClient console(tester.DevicePath());
        ASSERT_TRUE(console.Write(Request(0x16)));
        EXPECT_EQ(console.Read(7, kBoundMs), Expected(0x16, Pinned())) << connection;
    }
}

TEST(PtyTester, VanishHangsUpTheConsoleAndReappearGivesANewTerminal) {
    PtyTester tester;
    tester.SetRegisters(Pinned());
    const std::string first = tester.DevicePath();
    {
        RawTerminalClient console(first);
        tester.Vanish();
        EXPECT_TRUE(tester.DevicePath().empty());
        EXPECT_TRUE(console.WaitHangUp(kBoundMs));
        EXPECT_FALSE(console.Write(Request(0x10)));
    }
    // The console has let go of the old terminal, so the system could hand out its number again.
    tester.Reappear();
    const std::string second = tester.DevicePath();
    EXPECT_NE(second, first);
    RawTerminalClient again(second);
    ASSERT_TRUE(again.Write(Request(0x11)));
    EXPECT_EQ(again.Read(7, kBoundMs), Expected(0x11, Pinned()));
}

TEST(PtyTester, WaitForRequestsCountsFromTheLastClear) {
    PtyTester tester;
    RawTerminalClient console(tester.DevicePath());
    ASSERT_TRUE(console.Write(Request(0x10)));
    ASSERT_TRUE(tester.WaitForRequests(1, std::chrono::milliseconds(kBoundMs)));
    tester.ClearLog();
    EXPECT_TRUE(tester.Requests().empty());
    EXPECT_TRUE(tester.WireIn().empty());
    Bytes two = Request(0x11);
    const Bytes second = Request(0x12);
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_TRUE(console.Write(two));
    ASSERT_TRUE(tester.WaitForRequests(2, std::chrono::milliseconds(kBoundMs)));
    EXPECT_EQ(tester.Requests().size(), 2u);
    EXPECT_EQ(tester.Counters().requests, 3u);
}

TEST(PtyTester, PublicCallsFromOtherThreadsWhileItServes) {
    Options options;
    options.acceleration = 600;
    PtyTester tester(options);
    std::atomic<bool> done{false};
    std::thread meddler([&] {
        while (!done.load()) {
            (void)tester.State();
            (void)tester.Counters();
            (void)tester.Requests();
            tester.SetFaults(FaultOptions{});
        }
    });
    RawTerminalClient console(tester.DevicePath());
    ASSERT_TRUE(console.Write(Request(0x02, 1, 0)));
    EXPECT_EQ(console.Read(1, kBoundMs), Bytes{0x6F});
    ASSERT_TRUE(console.Write(Request(0x01, 1)));
    EXPECT_EQ(console.Read(1, kBoundMs), Bytes{0x6F});
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(console.Write(Request(0x14)));
        EXPECT_EQ(console.Read(7, kBoundMs).size(), 7u);
    }
    done.store(true);
    meddler.join();
    EXPECT_EQ(tester.Counters().answers, 52u);
}

}  // namespace
}  // namespace sim
