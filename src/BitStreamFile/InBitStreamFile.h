// Byte- and bit-level reader of a JPEG file held in a TMemoryStream.
//
// Byte-level reads return the file's bytes as they stand (markers, segment
// fields); bit-level reads serve the entropy-coded scan: they drop the 0x00
// stuffed after every 0xFF and report a marker met inside scan data
// (ITU-T T.81, B.1.1.5 and F.1.2.3). Nothing is read ahead, so after the last
// bit of a restart interval or of the scan the stream stands exactly at the
// next marker.
#pragma once

#include <cstdint>

#include "BitStreamFile/MemoryStream.h"
#include "BitStreamFile/MessageEvent.h"

namespace plume {

inline constexpr const char* kMsgMarkerInScanData =
    Msg("ビットストリームが正しく読みとれませんでした。");

class TInBitStreamFile {
  public:
    // Starts reading at the first byte of the stream, whatever its position.
    TInBitStreamFile(TMemoryStream& stream, TMessageEvent onMessage);

    void ReadBytes(void* buffer, std::int32_t count);
    std::uint8_t ReadByte();
    std::uint16_t ReadWord();
    std::uint32_t ReadLong();

    int ReadBit();
    // Count is 0 to 16; the first bit read is the most significant.
    std::uint16_t ReadBits(std::int32_t count);

    std::int64_t MarkPosition();
    void ReturnToMark();
    std::int32_t BytesSinceMark() const;

    TMemoryStream& Stream() { return stream_; }
    // Drops any unread bits of the current byte, as a byte-level read does.
    void AlignToByte() { bitPos_ = 7; }

  private:
    void Fetch();

    std::int32_t bitPos_ = 7;
    std::uint8_t curByte_ = 0;
    std::int64_t mark_ = 0;
    TMessageEvent onMessage_;
    TMemoryStream& stream_;
};

}  // namespace plume
