// TMemoryStream: exact reads, writes that overwrite and grow, and Clear.
#include <gtest/gtest.h>

#include <vector>

#include "BitStreamFile/MemoryStream.h"

namespace plume {
namespace {

using TBytes = std::vector<std::uint8_t>;

TEST(MemoryStreamTest, ShortReadThrowsTheReadErrorAndExactReadSucceeds) {
    TMemoryStream stream(TBytes{1, 2, 3});
    std::uint8_t buffer[4] = {};
    try {
        stream.Read(buffer, 4);
        FAIL() << "no error raised";
    } catch (const EStreamError& error) {
        EXPECT_STREQ(error.what(), "ストリームからの読み込みエラー");
    }
    stream.SetPosition(0);
    stream.Read(buffer, 3);
    EXPECT_EQ(buffer[2], 3);
    stream.Read(buffer, 0);
    EXPECT_THROW(stream.ReadByte(), EStreamError);
}

TEST(MemoryStreamTest, ReadAfterAPositionPastTheEndThrows) {
    TMemoryStream stream(TBytes{1, 2});
    stream.SetPosition(5);
    EXPECT_EQ(stream.Remaining(), 0u);
    EXPECT_THROW(stream.ReadByte(), EStreamError);
}

TEST(MemoryStreamTest, WriteOverwritesInPlaceAndGrowsAcrossTheEnd) {
    TMemoryStream stream(TBytes{1, 2, 3, 4});
    stream.SetPosition(1);
    const std::uint8_t two[2] = {9, 8};
    stream.Write(two, 2);
    EXPECT_EQ(stream.Bytes(), (TBytes{1, 9, 8, 4}));
    stream.Write(two, 2);
    EXPECT_EQ(stream.Bytes(), (TBytes{1, 9, 8, 9, 8}));
    EXPECT_EQ(stream.Position(), 5u);
    stream.SetPosition(7);
    stream.WriteByte(5);
    EXPECT_EQ(stream.Bytes(), (TBytes{1, 9, 8, 9, 8, 0, 0, 5}));
}

TEST(MemoryStreamTest, ClearEmptiesAndRewinds) {
    TMemoryStream stream(TBytes{1, 2, 3});
    stream.SetPosition(2);
    stream.Clear();
    EXPECT_EQ(stream.Size(), 0u);
    EXPECT_EQ(stream.Position(), 0u);
    stream.WriteByte(7);
    EXPECT_EQ(stream.Bytes(), (TBytes{7}));
}

}  // namespace
}  // namespace plume
