// Faults of the simulated tester, decided without a terminal.

#include <gtest/gtest.h>

#include <vector>

#include "sim/Faults.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kReadAnswer = {0xCA, 0xCB, 0x00, 0x0B, 0xF4, 0xCE, 0xCF};

TEST(Faults, NoiseNeverHoldsAByteTheConsoleSynchronisesOn) {
    FaultOptions options;
    options.noise = 1.0;
    options.seed = 7;
    FaultInjector injector(options);
    FaultCounters counters;
    for (int i = 0; i < 2000; ++i) {
        const AnswerFaults faults = injector.Next(counters);
        ASSERT_GE(faults.noise.size(), 1u);
        ASSERT_LE(faults.noise.size(), 3u);
        for (uint8_t byte : faults.noise) {
            ASSERT_NE(byte, 0xCA);
            ASSERT_NE(byte, 0x6F);
        }
    }
    EXPECT_EQ(counters.noise, 2000u);
}

TEST(Faults, ScriptedFaultsHitExactlyTheNextAnswers) {
    FaultInjector injector;
    FaultCounters counters;
    injector.Script(FaultKind::Drop, 2);
    injector.Script(FaultKind::CorruptTrailer);
    injector.Script(FaultKind::Late);
    injector.Script(FaultKind::Silence);
    EXPECT_TRUE(WireBytes(injector.Next(counters), kReadAnswer).empty());
    EXPECT_TRUE(WireBytes(injector.Next(counters), kReadAnswer).empty());
    Bytes corrupted = kReadAnswer;
    corrupted.back() = 0x30;
    EXPECT_EQ(WireBytes(injector.Next(counters), kReadAnswer), corrupted);
    EXPECT_TRUE(injector.Next(counters).late);
    EXPECT_TRUE(WireBytes(injector.Next(counters), kReadAnswer).empty());
    const AnswerFaults clean = injector.Next(counters);
    EXPECT_EQ(WireBytes(clean, kReadAnswer), kReadAnswer);
    EXPECT_FALSE(clean.late);
    EXPECT_EQ(counters.drop, 2u);
    EXPECT_EQ(counters.corruptTrailer, 1u);
    EXPECT_EQ(counters.late, 1u);
    EXPECT_EQ(counters.silence, 1u);
    EXPECT_EQ(counters.noise, 0u);
}

TEST(Faults, CorruptedAcknowledgementIsNoAcknowledgement) {
    AnswerFaults faults;
    faults.corruptTrailer = true;
    const Bytes wire = WireBytes(faults, Bytes{0x6F});
    ASSERT_EQ(wire.size(), 1u);
    EXPECT_NE(wire[0], 0x6F);
}

TEST(Faults, SameSeedGivesTheSameFaults) {
    FaultOptions options;
    options.noise = 0.3;
    options.drop = 0.2;
    options.corruptTrailer = 0.2;
    options.late = 0.1;
    options.seed = 42;
    auto run = [&options] {
        FaultInjector injector(options);
        FaultCounters counters;
        std::vector<Bytes> wire;
        for (int i = 0; i < 500; ++i)
            wire.push_back(WireBytes(injector.Next(counters), kReadAnswer));
        return wire;
    };
    const auto first = run();
    EXPECT_EQ(first, run());
    FaultInjector injector(options);
    FaultCounters counters;
    for (int i = 0; i < 500; ++i) injector.Next(counters);
    // Every kind was drawn at roughly its rate (drops pre-empt the others).
    EXPECT_GT(counters.drop, 50u);
    EXPECT_GT(counters.noise, 50u);
    EXPECT_GT(counters.corruptTrailer, 40u);
    EXPECT_GT(counters.late, 15u);
}

TEST(Faults, SilentTesterAnswersNothing) {
    FaultOptions options;
    options.silent = true;
    FaultInjector injector(options);
    FaultCounters counters;
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(injector.Next(counters).send);
    EXPECT_EQ(counters.silence, 5u);
}

}  // namespace
}  // namespace sim
