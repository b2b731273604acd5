// Frames and encodings of the tester protocol, bit for bit.
#include "device/DeviceCodec.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TAnswerFrame Answer(uint8_t d1, uint8_t d2, uint8_t d3) {
    return {0xCA, 0xCB, d1, d2, d3, 0xCE, 0xCF};
}

TEST(DeviceCodec, RequestFramesCarryCodeAndParameters) {
    EXPECT_EQ(BuildRequest(0x11), (TRequestFrame{0xB1, 0xB2, 0x11, 0x00, 0x00, 0xB6}));
    EXPECT_EQ(BuildRequest(0x02, 0x04, 0x32), (TRequestFrame{0xB1, 0xB2, 0x02, 0x04, 0x32, 0xB6}));
}

TEST(DeviceCodec, AnswerChecksReportTheStageThatFailed) {
    EXPECT_EQ(CheckAnswer(Answer(0, 0x0B, 0xF4)), TAnswerCheck::Ok);
    TAnswerFrame a = Answer(0, 0x0B, 0xF4);
    a[6] = 0x00;  // wrong last byte
    EXPECT_EQ(CheckAnswer(a), TAnswerCheck::BadTrailer);
    a = Answer(0, 0, 0);
    a[5] = 0xCF;
    EXPECT_EQ(CheckAnswer(a), TAnswerCheck::BadTrailer);
    a = Answer(0, 0, 0);
    a[1] = 0xCA;
    EXPECT_EQ(CheckAnswer(a), TAnswerCheck::BadHeader);
    a = Answer(0, 0, 0);
    a[0] = 0x6F;
    EXPECT_EQ(CheckAnswer(a), TAnswerCheck::BadStart);
}

TEST(DeviceCodec, DecodingsOfTheThreeDataEncodings) {
    EXPECT_EQ(DecodeCount(AnswerData(Answer(0x00, 0x0B, 0xF4))), 3060u);
    EXPECT_EQ(DecodeCount(AnswerData(Answer(0x00, 0x12, 0xC1))), 4801u);
    EXPECT_EQ(DecodeCount(AnswerData(Answer(0xFF, 0xFF, 0xFF))), 16777215u);
    EXPECT_EQ(DecodeClock(AnswerData(Answer(0x01, 0x02, 0x20))), 3752);
    EXPECT_EQ(DecodeClock(AnswerData(Answer(0xFF, 0xFF, 0xFF))), 255 * 3600 + 255 * 60 + 255);
    EXPECT_EQ(DecodeByte(AnswerData(Answer(0x7F, 0x7F, 0x1A))), 26);  // d1, d2 ignored
}

TEST(DeviceCodec, SetpointEncodingSendsHundredthsWithoutCarryAndWraps) {
    struct Case {
        double value;
        uint8_t whole, hundredths;
    };
    const Case cases[] = {
        {4.5, 0x04, 0x32},   {1.25, 0x01, 0x19}, {6.0, 0x06, 0x00}, {4.996, 0x04, 0x64},
        {300.5, 0x2C, 0x32}, {-1.5, 0xFF, 0xCE}, {0.0, 0x00, 0x00}, {255.99, 0xFF, 0x63},
        {2.675, 0x02, 0x43},  // 67.49999... in extended precision rounds down
        {0.125, 0x00, 0x0C},  // exact tie 12.5 goes to the even 12
        {0.375, 0x00, 0x26},  // exact tie 37.5 goes to the even 38
    };
    for (const auto& c : cases) {
        const auto p = EncodeSetpoint(c.value);
        EXPECT_EQ(p[0], c.whole) << c.value;
        EXPECT_EQ(p[1], c.hundredths) << c.value;
    }
}

TEST(DeviceCodec, SetpointEncodingOfNonFiniteValuesIsDefined) {
    EXPECT_EQ(EncodeSetpoint(std::nan("")), (std::array<uint8_t, 2>{0, 0}));
    EXPECT_EQ(EncodeSetpoint(INFINITY), (std::array<uint8_t, 2>{0, 0}));
    EXPECT_EQ(EncodeSetpoint(1e300)[1], 0);
}

TEST(DeviceCodec, TestTimeEncodingIsHighByteFirst) {
    EXPECT_EQ(EncodeTestTime(3723), (std::array<uint8_t, 2>{0x0E, 0x8B}));
    EXPECT_EQ(EncodeTestTime(65535), (std::array<uint8_t, 2>{0xFF, 0xFF}));
    EXPECT_EQ(EncodeTestTime(static_cast<uint16_t>(86400)), (std::array<uint8_t, 2>{0x51, 0x80}));
}

TEST(DeviceCodec, TestTimeSecondsTruncateAndKeepTheLow16Bits) {
    EXPECT_EQ(TestTimeSeconds(59.9), 59);
    EXPECT_EQ(TestTimeSeconds(65535), 65535);
    EXPECT_EQ(TestTimeSeconds(86400), 0x5180);  // 24:00:00 wraps as the tester's field does
    EXPECT_EQ(TestTimeSeconds(-1), 65535);
    EXPECT_EQ(TestTimeSeconds(std::nan("")), 0);
    EXPECT_EQ(TestTimeSeconds(1e300), 0);
}

}  // namespace
