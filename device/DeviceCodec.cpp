#include "device/DeviceCodec.h"

#include <cfenv>
#include <cmath>

TRequestFrame BuildRequest(uint8_t command, uint8_t param1, uint8_t param2) {
    return {0xB1, 0xB2, command, param1, param2, 0xB6};
}

TAnswerCheck CheckAnswer(const TAnswerFrame& answer) {
    if (answer[0] != kAnswerStart) return TAnswerCheck::BadStart;
    if (answer[1] != 0xCB) return TAnswerCheck::BadHeader;
    if (answer[5] != 0xCE || answer[6] != 0xCF) return TAnswerCheck::BadTrailer;
    return TAnswerCheck::Ok;
}

TAnswerData AnswerData(const TAnswerFrame& answer) {
    return {answer[2], answer[3], answer[4]};
}

uint32_t DecodeCount(const TAnswerData& d) {
    return uint32_t{d[0]} * 65536u + uint32_t{d[1]} * 256u + d[2];
}

int32_t DecodeClock(const TAnswerData& d) {
    return d[0] * 3600 + d[1] * 60 + d[2];
}

uint8_t DecodeByte(const TAnswerData& d) {
    return d[2];
}

namespace {

// The low bits of an integral value held in a floating-point number, taken modulo `modulus` so
// that negative and huge values wrap instead of overflowing a conversion. Not-a-number gives 0.
uint32_t LowBits(long double integral, long double modulus) {
    if (!std::isfinite(integral)) return 0;
    long double m = std::fmod(integral, modulus);
    if (m < 0) m += modulus;
    return static_cast<uint32_t>(m);
}

uint8_t LowByte(long double integral) {
    return static_cast<uint8_t>(LowBits(integral, 256.0L));
}

}  // namespace

std::array<uint8_t, 2> EncodeSetpoint(double value) {
    const uint8_t whole = LowByte(std::trunc(static_cast<long double>(value)));
    // Extended precision, ties to even (the default rounding mode).
    const long double hundredths = (static_cast<long double>(value) - whole) * 100.0L;
    return {whole, LowByte(std::nearbyint(hundredths))};
}

uint16_t TestTimeSeconds(double seconds) {
    return static_cast<uint16_t>(LowBits(std::trunc(static_cast<long double>(seconds)), 65536.0L));
}

std::array<uint8_t, 2> EncodeTestTime(uint16_t seconds) {
    return {static_cast<uint8_t>(seconds >> 8), static_cast<uint8_t>(seconds & 0xFF)};
}
