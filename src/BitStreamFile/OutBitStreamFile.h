// Byte- and bit-level writer of a JPEG file into a TMemoryStream.
//
// Bit fields of the entropy-coded scan get a 0x00 stuffed after every 0xFF
// byte (T.81 F.1.2.3); the last partial byte is padded with 1-bits before any
// byte-level write (T.81 F.1.2.3, "padding bits").
#pragma once

#include <cstdint>

#include "BitStreamFile/MemoryStream.h"
#include "BitStreamFile/MessageEvent.h"

namespace plume {

class TOutBitStreamFile {
  public:
    // Writing continues wherever the stream stands.
    TOutBitStreamFile(TMemoryStream& stream, TMessageEvent onMessage);

    void WriteBytes(const void* buffer, std::int32_t count);
    void WriteByte(std::uint8_t value);
    void WriteWord(std::uint16_t value);
    void WriteLong(std::uint32_t value);
    // The low count bits of value (count 0 to 16), most significant first.
    void WriteBits(std::uint16_t value, std::int32_t count);
    void FlushBits();

    std::int64_t Position() const { return static_cast<std::int64_t>(stream_.Position()); }
    // Valid until the stream grows again.
    std::uint8_t* Memory() { return stream_.Memory(); }
    TMemoryStream& Stream() { return stream_; }
    bool HasPendingBits() const { return bitPos_ != 7; }

  private:
    void Emit(std::uint8_t byte);
    void FlushIfPending() {
        if (bitPos_ != 7) FlushBits();
    }

    std::int32_t bitPos_ = 7;
    std::uint8_t pending_ = 0;
    TMessageEvent onMessage_;
    TMemoryStream& stream_;
};

}  // namespace plume
