// The tester's side of the protocol without a terminal: answers, write effects, framing.

#include <gtest/gtest.h>

#include <vector>

#include "sim/RequestParser.h"
#include "sim/TesterProtocol.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

RequestFrame Request(uint8_t code, uint8_t p1 = 0, uint8_t p2 = 0) {
    return {kRequestStart1, kRequestStart2, code, p1, p2, kRequestEnd};
}

Bytes Answer(uint8_t d1, uint8_t d2, uint8_t d3) {
    return {0xCA, 0xCB, d1, d2, d3, 0xCE, 0xCF};
}

TEST(TesterProtocol, EveryReadAnswersItsRegisterInItsEncoding) {
    Registers r;
    r.status = 1;
    r.voltage_mV = 3060;
    r.current_mA = 4801;
    r.testTime_s = 3752;
    r.ampHours_mAh = 0x123456;
    r.wattHours_mWh = 7;
    r.temperature = 26;
    r.currentSetpoint_cA = 450;
    r.cutoffVoltage_cV = 300;
    r.testTimeSetpoint_s = 3723;
    DischargeModel model;
    model.Set(r);
    const struct {
        uint8_t code;
        Bytes answer;
    } cases[] = {
        {0x10, Answer(0, 0, 1)},          {0x11, Answer(0x00, 0x0B, 0xF4)},
        {0x12, Answer(0x00, 0x12, 0xC1)}, {0x13, Answer(1, 2, 32)},
        {0x14, Answer(0x12, 0x34, 0x56)}, {0x15, Answer(0, 0, 7)},
        {0x16, Answer(0, 0, 0x1A)},       {0x17, Answer(0x00, 0x01, 0xC2)},
        {0x18, Answer(0x00, 0x01, 0x2C)}, {0x19, Answer(1, 2, 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CarryOut(Request(c.code), model), c.answer) << "code " << int(c.code);
    }
    EXPECT_EQ(model.State(), r) << "a read changed the registers";
}

TEST(TesterProtocol, OversizedValuesSaturateInsteadOfWrapping) {
    EXPECT_EQ(EncodeCount(0x1000000), (AnswerData{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(EncodeClockTime(300 * 3600), (AnswerData{255, 59, 59}));
    EXPECT_EQ(EncodeClockTime(65535), (AnswerData{18, 12, 15}));
}

TEST(TesterProtocol, WritesChangeTheTesterAndAreAcknowledged) {
    const struct {
        RequestFrame request;
        uint32_t Registers::*field;
        uint32_t expected;
    } cases[] = {
        {Request(0x02, 0x04, 0x32), &Registers::currentSetpoint_cA, 450},
        // The console does not carry hundredths past 99; they are kept as sent.
        {Request(0x02, 0x04, 0x64), &Registers::currentSetpoint_cA, 500},
        {Request(0x02, 0x04, 0xFF), &Registers::currentSetpoint_cA, 655},
        {Request(0x03, 0x02, 0x2D), &Registers::cutoffVoltage_cV, 245},
        {Request(0x04, 0x0E, 0x8B), &Registers::testTimeSetpoint_s, 3723},
        {Request(0x04, 0xFF, 0xFF), &Registers::testTimeSetpoint_s, 65535},
    };
    for (const auto& c : cases) {
        DischargeModel model;
        EXPECT_EQ(CarryOut(c.request, model), Bytes{kAcknowledge});
        EXPECT_EQ(model.State().*c.field, c.expected) << "code " << int(c.request[2]);
    }
}

TEST(TesterProtocol, StartStopAndResetReachTheModel) {
    DischargeModel model;
    model.SetCurrentSetpoint(100);
    EXPECT_EQ(CarryOut(Request(0x01, 1), model), Bytes{kAcknowledge});
    EXPECT_EQ(model.State().status, 1);
    EXPECT_EQ(model.State().current_mA, 1000u);
    model.Advance(360);
    EXPECT_EQ(CarryOut(Request(0x01, 0), model), Bytes{kAcknowledge});
    EXPECT_EQ(model.State().status, 0);
    EXPECT_EQ(model.State().current_mA, 0u);
    EXPECT_EQ(model.State().ampHours_mAh, 100u);
    EXPECT_EQ(CarryOut(Request(0x05), model), Bytes{kAcknowledge});
    EXPECT_EQ(model.State().ampHours_mAh, 0u);
    EXPECT_EQ(model.State().wattHours_mWh, 0u);
    EXPECT_EQ(model.State().testTime_s, 0u);
}

TEST(TesterProtocol, UnknownCodesGetNoAnswerAndChangeNothing) {
    for (uint8_t code : {0x00, 0x06, 0x0F, 0x1A, 0x20, 0xFF}) {
        DischargeModel model;
        const Registers before = model.State();
        EXPECT_TRUE(CarryOut(Request(code, 1, 1), model).empty()) << "code " << int(code);
        EXPECT_EQ(model.State(), before);
    }
}

TEST(RequestParser, FallsBackIntoStepAfterGarbage) {
    const Bytes good = {0xB1, 0xB2, 0x11, 0x00, 0x00, 0xB6};
    const struct {
        const char* name;
        Bytes prefix;
    } cases[] = {
        {"noise", {0x00, 0xFF, 0xCA, 0xB2}},
        {"torn frame", {0xB1, 0xB2, 0x10}},
        {"frame without end byte", {0xB1, 0xB2, 0x10, 0x00, 0x00, 0x00}},
        {"lone first start byte", {0xB1, 0xB1}},
        {"end byte alone", {0xB6}},
    };
    for (const auto& c : cases) {
        RequestParser parser;
        Bytes stream = c.prefix;
        stream.insert(stream.end(), good.begin(), good.end());
        const auto frames = parser.Feed(stream);
        ASSERT_EQ(frames.size(), 1u) << c.name;
        EXPECT_EQ(Bytes(frames[0].frame.begin(), frames[0].frame.end()), good) << c.name;
        EXPECT_EQ(frames[0].firstByte, c.prefix.size()) << c.name;
        EXPECT_EQ(parser.Discarded(), c.prefix.size()) << c.name;
    }
}

TEST(RequestParser, FrameSplitAcrossReadsIsJoined) {
    RequestParser parser;
    EXPECT_TRUE(parser.Feed(Bytes{0x55, 0xB1, 0xB2}).empty());
    EXPECT_TRUE(parser.Feed(Bytes{0x02, 0x04}).empty());
    const auto frames = parser.Feed(Bytes{0x32, 0xB6, 0xB1, 0xB2, 0x10, 0x00, 0x00, 0xB6});
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].frame, Request(0x02, 0x04, 0x32));
    EXPECT_EQ(frames[0].firstByte, 1u);
    EXPECT_EQ(frames[1].frame, Request(0x10));
    EXPECT_EQ(frames[1].firstByte, 7u);
}

}  // namespace
}  // namespace sim
