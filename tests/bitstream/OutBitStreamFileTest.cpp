// TOutBitStreamFile: bit fields with 0xFF stuffing, padding with 1-bits
// before byte-level writes (ITU-T T.81, F.1.2.3), byte-level writes that never
// stuff, and patching through Memory.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "BitStreamFile/InBitStreamFile.h"
#include "BitStreamFile/OutBitStreamFile.h"

namespace plume {
namespace {

using TBytes = std::vector<std::uint8_t>;

class TWriter {
  public:
    TMemoryStream stream;
    TOutBitStreamFile bits{stream, nullptr};
    const TBytes& Bytes() const { return stream.Bytes(); }
};

TEST(OutBitStreamFileTest, PendingBitsArePaddedWithOnesBeforeAByte) {
    TWriter w;
    w.bits.WriteBits(0b101, 3);
    EXPECT_TRUE(w.Bytes().empty());
    w.bits.WriteByte(0x41);
    EXPECT_EQ(w.Bytes(), (TBytes{0xBF, 0x41}));
}

TEST(OutBitStreamFileTest, EightOneBitsAreStuffed) {
    TWriter w;
    w.bits.WriteBits(0xFF, 8);
    EXPECT_EQ(w.Bytes(), (TBytes{0xFF, 0x00}));
}

TEST(OutBitStreamFileTest, PaddingThatCompletesAnFFIsStuffed) {
    TWriter w;
    w.bits.WriteBits(0x7F, 7);
    w.bits.FlushBits();
    EXPECT_EQ(w.Bytes(), (TBytes{0xFF, 0x00}));
}

TEST(OutBitStreamFileTest, MarkerAfterPendingBitsIsNotStuffed) {
    TWriter w;
    w.bits.WriteBits(0b010, 3);
    w.bits.WriteWord(0xFFD0);
    EXPECT_EQ(w.Bytes(), (TBytes{0x5F, 0xFF, 0xD0}));
}

TEST(OutBitStreamFileTest, SixteenBitsWithThreeFreeEmitTwoBytesAndKeepFive) {
    TWriter w;
    w.bits.WriteBits(0b11111, 5);  // three bits free
    w.bits.WriteBits(0b111'00000011'01010, 16);
    EXPECT_EQ(w.Bytes(), (TBytes{0xFF, 0x00, 0x03}));
    // Five bits pending: three more complete the byte without any padding.
    w.bits.WriteBits(0b101, 3);
    EXPECT_EQ(w.Bytes(), (TBytes{0xFF, 0x00, 0x03, 0b01010101}));
}

TEST(OutBitStreamFileTest, SecondByteOfAWideFieldIsStuffedToo) {
    TWriter w;
    w.bits.WriteBits(0b1, 1);
    w.bits.WriteBits(0x7FFF, 15);
    EXPECT_EQ(w.Bytes(), (TBytes{0xFF, 0x00, 0xFF, 0x00}));
}

TEST(OutBitStreamFileTest, OnlyTheLowBitsOfANegativeValueAreWritten) {
    TWriter w;
    w.bits.WriteBits(static_cast<std::uint16_t>(-6), 3);  // ...11010: low bits 010
    w.bits.WriteBits(0xFFFF, 0);
    w.bits.WriteBits(0, 5);
    EXPECT_EQ(w.Bytes(), (TBytes{0b01000000}));
}

TEST(OutBitStreamFileTest, CountZeroChangesNothing) {
    TWriter w;
    w.bits.WriteBits(0xFFFF, 0);
    EXPECT_FALSE(w.bits.HasPendingBits());
    w.bits.WriteByte(0x12);  // no padding byte: nothing was pending
    w.bits.WriteBits(0b1, 1);
    w.bits.WriteBits(0xFFFF, 0);
    w.bits.WriteByte(0x34);
    EXPECT_EQ(w.Bytes(), (TBytes{0x12, 0xFF, 0x00, 0x34}));
}

TEST(OutBitStreamFileTest, ByteLevelWritesNeverStuffAndAddNoPaddingWhenAligned) {
    TWriter w;
    w.bits.WriteWord(0xFFD8);
    w.bits.WriteByte(0xFF);
    const std::uint8_t raw[3] = {0xFF, 0x00, 0xFF};
    w.bits.WriteBytes(raw, 3);
    w.bits.WriteLong(0xFFE1ABCD);
    w.bits.WriteBits(0xAB, 8);  // aligned field: no padding before the next byte
    w.bits.WriteByte(0x01);
    EXPECT_EQ(w.Bytes(),
              (TBytes{0xFF, 0xD8, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xE1, 0xAB, 0xCD, 0xAB, 0x01}));
}

TEST(OutBitStreamFileTest, EveryByteLevelWriteFlushesPendingBits) {
    const std::uint8_t one = 0x11;
    const std::vector<std::pair<const char*, std::function<void(TOutBitStreamFile&)>>> writes = {
        {"WriteByte", [](auto& b) { b.WriteByte(0x11); }},
        {"WriteWord", [](auto& b) { b.WriteWord(0x1122); }},
        {"WriteLong", [](auto& b) { b.WriteLong(0x11223344); }},
        {"WriteBytes", [&](auto& b) { b.WriteBytes(&one, 1); }},
    };
    for (const auto& [name, write] : writes) {
        TWriter w;
        w.bits.WriteBits(0, 1);
        write(w.bits);
        ASSERT_GE(w.Bytes().size(), 2u) << name;
        EXPECT_EQ(w.Bytes()[0], 0x7F) << name;
        EXPECT_EQ(w.Bytes()[1], 0x11) << name;
    }
}

TEST(OutBitStreamFileTest, PendingBitsNeverReachTheStreamWithoutAByteWrite) {
    TMemoryStream stream;
    {
        TOutBitStreamFile bits(stream, nullptr);
        bits.WriteBits(0xAB, 8);
        bits.WriteBits(0b11, 2);
    }
    EXPECT_EQ(stream.Bytes(), (TBytes{0xAB}));
}

TEST(OutBitStreamFileTest, WritingContinuesWhereTheStreamStands) {
    TMemoryStream stream(TBytes{1, 2, 3});
    stream.SetPosition(3);
    TOutBitStreamFile bits(stream, nullptr);
    EXPECT_EQ(bits.Position(), 3);
    bits.WriteWord(0x0405);
    EXPECT_EQ(stream.Bytes(), (TBytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(bits.Position(), 5);
}

TEST(OutBitStreamFileTest, MemoryPatchesBytesAlreadyWritten) {
    TWriter w;
    w.bits.WriteWord(0xFFE1);
    const std::int64_t lengthAt = w.bits.Position();
    w.bits.WriteWord(0);
    w.bits.WriteLong(0xDEADBEEF);
    const std::int64_t length = w.bits.Position() - lengthAt;
    w.bits.Memory()[lengthAt] = static_cast<std::uint8_t>(length >> 8);
    w.bits.Memory()[lengthAt + 1] = static_cast<std::uint8_t>(length);
    EXPECT_EQ(w.Bytes(), (TBytes{0xFF, 0xE1, 0x00, 0x06, 0xDE, 0xAD, 0xBE, 0xEF}));
}

// Fields of every width 0..16 after every number of pending bits 0..7: the
// writer's bytes must read back as the same fields, and must equal a plain
// bit-by-bit writer with stuffing and 1-padding.
class WriteBitsGridTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(WriteBitsGridTest, RoundTripsAndMatchesAPlainBitWriter) {
    const auto [pending, count] = GetParam();
    const std::uint16_t values[] = {0xFFFF, 0xA5C3, 0x0000, 0x7FFF, 0x8001};
    TWriter w;
    TBytes expected;
    std::uint32_t acc = 0;
    int accBits = 0;
    auto plainPut = [&](std::uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            acc = (acc << 1) | ((value >> i) & 1u);
            if (++accBits == 8) {
                expected.push_back(static_cast<std::uint8_t>(acc));
                if (acc == 0xFF) expected.push_back(0x00);
                acc = 0;
                accBits = 0;
            }
        }
    };
    w.bits.WriteBits(0x55, pending);
    plainPut(0x55, pending);
    for (std::uint16_t v : values) {
        w.bits.WriteBits(v, count);
        plainPut(v, count);
    }
    w.bits.WriteByte(0xD9);
    if (accBits > 0) plainPut(0xFF, 8 - accBits);
    expected.push_back(0xD9);
    EXPECT_EQ(w.Bytes(), expected);

    TMemoryStream in(w.Bytes());
    TInBitStreamFile reader(in, [](const std::string& text, int) { ADD_FAILURE() << text; });
    EXPECT_EQ(reader.ReadBits(pending), 0x55 & ((1u << pending) - 1u));
    for (std::uint16_t v : values) {
        EXPECT_EQ(reader.ReadBits(count), v & ((1u << count) - 1u)) << "value " << v;
    }
}

INSTANTIATE_TEST_SUITE_P(PendingAndCounts, WriteBitsGridTest,
                         ::testing::Combine(::testing::Range(0, 8), ::testing::Range(0, 17)),
                         [](const auto& info) {
                             return "Pending" + std::to_string(std::get<0>(info.param)) + "_Count" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace plume
