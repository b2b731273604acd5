#include "support/CommonTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "support/Errors.h"
#include "support/Format.h"
#include "tests/fixtures/DebugCapture.h"

namespace {

// Keeps what is written; accepts at most `capacity` bytes in all.
class MemoryStream : public platform::TStream {
  public:
    explicit MemoryStream(size_t capacity = std::numeric_limits<size_t>::max())
        : capacity_(capacity) {}
    bool Write(const void* data, size_t count) override {
        ++writes_;
        const size_t accepted = std::min(count, capacity_ - bytes_.size());
        bytes_.append(static_cast<const char*>(data), accepted);
        return accepted == count;
    }
    const std::string& Bytes() const { return bytes_; }
    int Writes() const { return writes_; }

  private:
    size_t capacity_;
    std::string bytes_;
    int writes_ = 0;
};

TEST(WriteStreamLineTest, WritesTheTextAndOptionallyCrLf) {
    const std::vector<std::tuple<std::string, bool, std::string>> cases = {
        {"12.00;3.50", false, "12.00;3.50"},
        {"12.00;3.50", true, "12.00;3.50\r\n"},
        {"", true, "\r\n"},
        {"", false, ""},
        {std::string("a\0b", 3), false, std::string("a\0b", 3)},
    };
    for (const auto& [text, lineBreak, expected] : cases) {
        MemoryStream stream;
        EXPECT_TRUE(WriteStreamLine(stream, text, lineBreak));
        EXPECT_EQ(stream.Bytes(), expected);
    }
}

TEST(WriteStreamLineTest, ShortWriteIsReportedAndTheLineBreakStillTried) {
    MemoryStream full(4);
    EXPECT_FALSE(WriteStreamLine(full, "123456", true));
    EXPECT_EQ(full.Writes(), 2);
    EXPECT_EQ(full.Bytes(), "1234");

    MemoryStream noRoomForBreak(6);
    EXPECT_FALSE(WriteStreamLine(noRoomForBreak, "123456", true));
}

TEST(DatePartsTest, DaysCountFromTheEndOf1899InTheProlepticGregorianCalendar) {
    struct Case {
        double dateTime;
        uint16_t year, month, day;
    };
    const std::vector<Case> cases = {
        {0.0, 1899, 12, 30},      {0.999999, 1899, 12, 30}, {1.0, 1899, 12, 31},
        {2.0, 1900, 1, 1},        {60.0, 1900, 2, 28},      {61.0, 1900, 3, 1},
        {36526.5, 2000, 1, 1},    {45292.75, 2024, 1, 1},   {45351.0, 2024, 2, 29},
        {-1.0, 1899, 12, 29},     {-1.25, 1899, 12, 29},    {-0.5, 1899, 12, 30},
        {-115869.0, 1582, 10, 4}, {-693593.0, 1, 1, 1},     {2958465.99, 9999, 12, 31},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DateYear(c.dateTime), c.year) << c.dateTime;
        EXPECT_EQ(DateMonth(c.dateTime), c.month) << c.dateTime;
        EXPECT_EQ(DateDay(c.dateTime), c.day) << c.dateTime;
    }
}

TEST(DatePartsTest, ValuesOutsideTheCalendarGiveZeroInsteadOfGarbage) {
    for (const double dateTime :
         {-693594.0, 2958466.0, 1e300, -1e300, std::numeric_limits<double>::quiet_NaN(),
          std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(DateYear(dateTime), 0) << dateTime;
        EXPECT_EQ(DateMonth(dateTime), 0) << dateTime;
        EXPECT_EQ(DateDay(dateTime), 0) << dateTime;
    }
}

template <typename Error, typename Call>
std::string MessageOf(Call call) {
    try {
        call();
    } catch (const Error& error) {
        return error.what();
    }
    return "(nothing raised)";
}

TEST(HexTest, RangeIsCheckedBeforeThePointer) {
    EXPECT_EQ(MessageOf<EConvertError>([] { Byte2PHexChar(16, nullptr); }),
              "Byte2PHexChar(b=16; P: PChar) - invalid value to HEX encode: B must be in [0..15] "
              "range");
    EXPECT_EQ(MessageOf<EInvalidPointer>([] { Byte2PHexChar(5, nullptr); }),
              "Byte2PHexChar(b: Byte; P: PChar) - P must be assigned");
    EXPECT_EQ(MessageOf<EInvalidPointer>([] { Byte2PHex(0x12, nullptr); }),
              "Byte2PHexChar(b: Byte; P: PChar) - P must be assigned");
}

TEST(HexTest, Buff2PHexReportsBadArgumentsByStatusAndWritesNothing) {
    const uint8_t bytes[] = {0xB1, 0xB2};
    char out[7] = "......";
    EXPECT_EQ(Buff2PHex(nullptr, 0, nullptr, ' '), kHexNothingToWrite);
    EXPECT_EQ(Buff2PHex(bytes, -1, out, ' '), kHexNothingToWrite);
    EXPECT_EQ(Buff2PHex(nullptr, 1, nullptr, ' '), kHexNoOutput);
    EXPECT_EQ(Buff2PHex(nullptr, 1, out, ' '), kHexNoInput);
    EXPECT_EQ(std::string(out), "......");

    EXPECT_EQ(Buff2PHex(bytes, 2, out, ' '), kHexOk);
    EXPECT_EQ(std::string(out), "B1 B2 ");
    EXPECT_EQ(Buff2PHex(bytes, 2, out, '\0'), kHexOk);
    EXPECT_EQ(std::string(out), "B1B22 ");  // only four characters written, no terminator
}

TEST(HexTest, Buff2HexStringFollowsEveryByteWithTheSeparator) {
    const uint8_t bytes[] = {0xB1, 0xB2, 0x01};
    EXPECT_EQ(Buff2HexString(bytes, 3, '\0'), "B1B201");
    EXPECT_EQ(Buff2HexString(bytes, 3, ' '), "B1 B2 01 ");
    EXPECT_EQ(Buff2HexString(bytes, 0, ' '), "");
    EXPECT_EQ(Buff2HexString(nullptr, 0, ' '), "");
    EXPECT_EQ(Buff2HexString(nullptr, -5, ' '), "");
    EXPECT_EQ(MessageOf<EInvalidPointer>([] { Buff2HexString(nullptr, 1, ' '); }),
              "Buff2HexString(buff: PByte; Size: Integer) - buff must be Assigned");

    std::vector<uint8_t> all(256);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
    const std::string text = Buff2HexString(all.data(), 256, '\0');
    ASSERT_EQ(text.size(), 512u);
    EXPECT_EQ(text.substr(0, 6), "000102");
    EXPECT_EQ(text.substr(506), "FDFEFF");
}

TEST(SysErrorTextTest, KnownCodeGivesTheSystemText) {
    DebugCapture debug;
    std::string text;
    GetSysErrorText(EIO, false, text);
    EXPECT_EQ(text, "Input/output error");
    GetSysErrorText(EIO, true, text);
    EXPECT_EQ(text, "(0x00000005) Input/output error");
    GetSysErrorText(ENOENT, false, text);
    EXPECT_EQ(text, "No such file or directory");
    EXPECT_TRUE(debug.Lines().empty());
}

TEST(SysErrorTextTest, UnknownCodeGivesTheFallbackTextAndOneDebugLine) {
    for (const uint32_t code : {0xDEADBEEFu, 4000u, 0x80000000u}) {
        DebugCapture debug;
        std::string text;
        GetSysErrorText(code, true, text);
        EXPECT_EQ(text, "Ошибка: $" + Format("%.8X", code));
        EXPECT_EQ(debug.Lines(), std::vector<std::string>{Format("$%.8X", EINVAL)});
    }
}

}  // namespace
