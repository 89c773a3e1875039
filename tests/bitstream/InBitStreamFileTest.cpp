// TInBitStreamFile: byte-level reads, bit-level reads with 0xFF00 unstuffing
// and markers inside scan data (ITU-T T.81, F.1.2.3, B.1.1.5), the mark
// operations, and the read error on a short read.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "BitStreamFile/InBitStreamFile.h"

namespace plume {
namespace {

using TBytes = std::vector<std::uint8_t>;

struct TMessage {
    std::string text;
    int level;
    bool operator==(const TMessage&) const = default;
};

// A bit stream over bytes that records every message it reports.
class TReader {
  public:
    explicit TReader(TBytes bytes)
        : stream(std::move(bytes)), bits(stream, [this](const std::string& text, int level) {
              messages.push_back({text, level});
          }) {}
    TMemoryStream stream;
    std::vector<TMessage> messages;
    TInBitStreamFile bits;
};

// The expected value of the next count bits of data (already unstuffed),
// starting at bit offset.
std::uint32_t ReferenceBits(const TBytes& data, int offset, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        const int bit = offset + i;
        value = (value << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1u);
    }
    return value;
}

TEST(InBitStreamFileTest, WordAndLongAreBigEndian) {
    TReader r({0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF, 0x01});
    EXPECT_EQ(r.bits.ReadWord(), 0x1234);
    EXPECT_EQ(r.bits.ReadLong(), 0x89ABCDEFu);
    EXPECT_EQ(r.bits.ReadByte(), 0x01);
}

TEST(InBitStreamFileTest, ByteLevelReadsReturnMarkersAndStuffingAsTheyStand) {
    TReader r({0xFF, 0xD8, 0xFF, 0x00, 0xFF});
    EXPECT_EQ(r.bits.ReadWord(), 0xFFD8);
    EXPECT_EQ(r.bits.ReadByte(), 0xFF);
    EXPECT_EQ(r.bits.ReadByte(), 0x00);
    std::uint8_t buffer[1] = {};
    r.bits.ReadBytes(buffer, 1);
    EXPECT_EQ(buffer[0], 0xFF);
    EXPECT_TRUE(r.messages.empty());
}

TEST(InBitStreamFileTest, CreateStartsAtTheFirstByteWhateverThePosition) {
    TMemoryStream stream(TBytes{0xAB, 0xCD, 0xEF});
    stream.SetPosition(2);
    TInBitStreamFile bits(stream, nullptr);
    EXPECT_EQ(stream.Position(), 0u);
    EXPECT_EQ(bits.ReadByte(), 0xAB);
}

TEST(InBitStreamFileTest, ReadBitHandsOutBitsMostSignificantFirstWithoutReadingAhead) {
    TReader r({0b10110010, 0x5A});
    const int expected[8] = {1, 0, 1, 1, 0, 0, 1, 0};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(r.bits.ReadBit(), expected[i]) << "bit " << i;
        // The byte is fetched with its first bit; the next only with its own.
        EXPECT_EQ(r.stream.Position(), 1u) << "bit " << i;
    }
    EXPECT_EQ(r.bits.ReadBit(), 0);
    EXPECT_EQ(r.stream.Position(), 2u);
}

TEST(InBitStreamFileTest, StuffedFFGivesOneDataByteAndTheZeroIsNeverData) {
    TReader r({0xFF, 0x00, 0x12, 0xFF, 0x00});
    EXPECT_EQ(r.bits.ReadBits(8), 0xFF);
    EXPECT_EQ(r.stream.Position(), 2u);
    EXPECT_EQ(r.bits.ReadBits(8), 0x12);
    // Bit by bit across a stuffed byte as well.
    for (int i = 0; i < 8; ++i) EXPECT_EQ(r.bits.ReadBit(), 1) << "bit " << i;
    EXPECT_EQ(r.stream.Position(), 5u);
    EXPECT_TRUE(r.messages.empty());
}

TEST(InBitStreamFileTest, MarkerInsideScanDataIsReportedAndReadAsEightOneBits) {
    TReader r({0xFF, 0xD9, 0x5A});
    EXPECT_EQ(r.bits.ReadBit(), 1);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0], (TMessage{"ビットストリームが正しく読みとれませんでした。", 2}));
    EXPECT_EQ(r.stream.Position(), 2u);  // the marker's second byte is consumed and dropped
    EXPECT_EQ(r.bits.ReadBits(7), 0x7F);
    // The next fetch reads the byte after 0xD9.
    EXPECT_EQ(r.bits.ReadBits(8), 0x5A);
    EXPECT_EQ(r.messages.size(), 1u);
}

TEST(InBitStreamFileTest, MarkerMetByAFetchInsideAWideReadIsReportedOnce) {
    // One bit left of 0x81, then a marker 0xFF 0xD0, then 0xC3.
    TReader r({0x81, 0xFF, 0xD0, 0xC3});
    EXPECT_EQ(r.bits.ReadBits(7), 0x40);
    EXPECT_EQ(r.bits.ReadBits(16), 0b1'11111111'1100001);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].level, 2);
    EXPECT_EQ(r.bits.ReadBit(), 1);
    EXPECT_EQ(r.stream.Position(), 4u);
}

TEST(InBitStreamFileTest, MarkerInsideScanDataWithoutACallbackGoesOn) {
    TMemoryStream stream(TBytes{0xFF, 0xD9, 0x00});
    TInBitStreamFile bits(stream, nullptr);
    EXPECT_EQ(bits.ReadBits(8), 0xFF);
    EXPECT_EQ(bits.ReadBits(8), 0x00);
}

TEST(InBitStreamFileTest, ReadBitsOfZeroReadsNothingAndKeepsTheBitPosition) {
    TReader r({0b11000000, 0xFF});
    EXPECT_EQ(r.bits.ReadBits(0), 0);
    EXPECT_EQ(r.stream.Position(), 0u);  // no fetch on an empty stream position
    EXPECT_EQ(r.bits.ReadBits(2), 0b11);
    EXPECT_EQ(r.bits.ReadBits(0), 0);
    EXPECT_EQ(r.stream.Position(), 1u);
    EXPECT_EQ(r.bits.ReadBits(6), 0);  // still the same byte
    EXPECT_EQ(r.stream.Position(), 1u);
}

TEST(InBitStreamFileTest, SixteenBitsWithOneBitLeftTakeTwoMoreBytesAndLeaveOneBit) {
    TReader r({0b00000001, 0b10100101, 0b11001101, 0x00});
    EXPECT_EQ(r.bits.ReadBits(7), 0);
    EXPECT_EQ(r.bits.ReadBits(16), 0b1'10100101'1100110);
    EXPECT_EQ(r.stream.Position(), 3u);
    EXPECT_EQ(r.bits.ReadBit(), 1);  // the low bit of the third byte
    EXPECT_EQ(r.stream.Position(), 3u);
}

// Every count 0..16 from every bit offset 0..7, over data that holds stuffed
// bytes, against a plain bit extraction of the unstuffed data.
class ReadBitsGridTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(ReadBitsGridTest, MatchesTheUnstuffedBits) {
    const auto [offset, count] = GetParam();
    const TBytes data = {0xA5, 0xFF, 0x3C, 0xFF, 0xFF, 0x81, 0x7E, 0x00, 0xC3, 0xFF};
    TBytes stuffed;
    for (std::uint8_t b : data) {
        stuffed.push_back(b);
        if (b == 0xFF) stuffed.push_back(0x00);
    }
    TReader r(stuffed);
    int at = 0;
    // Three reads of count bits after offset bits, then the bits that follow
    // one by one, so that both the value and the position left are checked.
    EXPECT_EQ(r.bits.ReadBits(offset), ReferenceBits(data, 0, offset));
    at += offset;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(r.bits.ReadBits(count), ReferenceBits(data, at, count)) << "read " << i;
        at += count;
    }
    for (int i = 0; i < 9; ++i, ++at) {
        EXPECT_EQ(static_cast<std::uint32_t>(r.bits.ReadBit()), ReferenceBits(data, at, 1)) << at;
    }
    EXPECT_TRUE(r.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(OffsetsAndCounts, ReadBitsGridTest,
                         ::testing::Combine(::testing::Range(0, 8), ::testing::Range(0, 17)),
                         [](const auto& info) {
                             return "Offset" + std::to_string(std::get<0>(info.param)) + "_Count" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(InBitStreamFileTest, ByteLevelReadDropsUnreadBitsAndNextBitReadFetchesAFreshByte) {
    TReader r({0b10100000, 0x12, 0x34, 0b01000000});
    EXPECT_EQ(r.bits.ReadBits(3), 0b101);
    EXPECT_EQ(r.bits.ReadWord(), 0x1234);
    EXPECT_EQ(r.bits.ReadBit(), 0);
    EXPECT_EQ(r.bits.ReadBit(), 1);
    EXPECT_EQ(r.stream.Position(), 4u);
}

TEST(InBitStreamFileTest, ReadBytesOfZeroStillDropsUnreadBits) {
    TReader r({0b10000000, 0b01000000});
    EXPECT_EQ(r.bits.ReadBit(), 1);
    r.bits.ReadBytes(nullptr, 0);
    EXPECT_EQ(r.stream.Position(), 1u);
    EXPECT_EQ(r.bits.ReadBit(), 0);
    EXPECT_EQ(r.bits.ReadBit(), 1);
}

TEST(InBitStreamFileTest, MarkMeasureAndReturnReadTheSameBytesAgain) {
    TBytes bytes;
    for (int i = 0; i < 16; ++i) bytes.push_back(static_cast<std::uint8_t>(0x30 + i));
    TReader r(bytes);
    r.bits.ReadWord();
    EXPECT_EQ(r.bits.MarkPosition(), 2);
    std::uint8_t first[10];
    r.bits.ReadBytes(first, 10);
    EXPECT_EQ(r.bits.BytesSinceMark(), 10);
    r.bits.ReturnToMark();
    EXPECT_EQ(r.bits.BytesSinceMark(), 0);
    std::uint8_t again[10];
    r.bits.ReadBytes(again, 10);
    EXPECT_TRUE(std::equal(first, first + 10, again));
    EXPECT_EQ(first[0], 0x32);
}

TEST(InBitStreamFileTest, BytesSinceMarkCountsDroppedStuffingAndMarkerBytes) {
    TReader r({0xFF, 0x00, 0xFF, 0xD0, 0x00});
    r.bits.MarkPosition();
    EXPECT_EQ(r.bits.ReadBits(16), 0xFFFF);
    EXPECT_EQ(r.bits.BytesSinceMark(), 4);
}

// Every way of reading past the end raises the read error with its text.
struct TShortRead {
    const char* name;
    TBytes bytes;
    std::function<void(TInBitStreamFile&)> read;
};
void PrintTo(const TShortRead& r, std::ostream* out) {
    *out << r.name;
}

class ShortReadTest : public ::testing::TestWithParam<TShortRead> {};

TEST_P(ShortReadTest, ThrowsTheStreamReadError) {
    const TShortRead& c = GetParam();
    TReader r(c.bytes);
    try {
        c.read(r.bits);
        FAIL() << "no error raised";
    } catch (const EStreamError& error) {
        EXPECT_STREQ(error.what(), "ストリームからの読み込みエラー");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reads, ShortReadTest,
    ::testing::Values(TShortRead{"ByteAtEnd", {}, [](auto& b) { b.ReadByte(); }},
                      TShortRead{"WordWithOneByte", {0x12}, [](auto& b) { b.ReadWord(); }},
                      TShortRead{"LongWithThreeBytes", {1, 2, 3}, [](auto& b) { b.ReadLong(); }},
                      TShortRead{"BytesShort",
                                 {1, 2, 3},
                                 [](auto& b) {
                                     std::uint8_t buffer[4];
                                     b.ReadBytes(buffer, 4);
                                 }},
                      TShortRead{"BitAtEnd",
                                 {0xAA},
                                 [](auto& b) {
                                     b.ReadBits(8);
                                     b.ReadBit();
                                 }},
                      TShortRead{"WideBitsPastEnd",
                                 {0xAA, 0xBB},
                                 [](auto& b) {
                                     b.ReadBits(1);
                                     b.ReadBits(16);
                                 }},
                      TShortRead{"FFAsLastByte", {0x12, 0xFF}, [](auto& b) { b.ReadBits(9); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace plume
