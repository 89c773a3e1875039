#include "BitStreamFile/InBitStreamFile.h"

namespace plume {

TInBitStreamFile::TInBitStreamFile(TMemoryStream& stream, TMessageEvent onMessage)
    : onMessage_(std::move(onMessage)), stream_(stream) {
    stream_.SetPosition(0);
}

void TInBitStreamFile::ReadBytes(void* buffer, std::int32_t count) {
    bitPos_ = 7;
    if (count <= 0) return;
    stream_.Read(buffer, static_cast<std::size_t>(count));
}

std::uint8_t TInBitStreamFile::ReadByte() {
    bitPos_ = 7;
    return stream_.ReadByte();
}

std::uint16_t TInBitStreamFile::ReadWord() {
    std::uint8_t bytes[2];
    ReadBytes(bytes, 2);
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

std::uint32_t TInBitStreamFile::ReadLong() {
    std::uint8_t bytes[4];
    ReadBytes(bytes, 4);
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

// One scan-data byte into curByte_: a 0x00 after 0xFF is stuffing (T.81
// F.1.2.3); any other byte after 0xFF is a marker that does not belong here,
// reported and dropped, leaving 0xFF as eight data bits.
void TInBitStreamFile::Fetch() {
    curByte_ = stream_.ReadByte();
    if (curByte_ == 0xFF) {
        const std::uint8_t next = stream_.ReadByte();
        if (next != 0x00 && onMessage_) onMessage_(kMsgMarkerInScanData, kLevelError);
    }
    bitPos_ = 7;
}

int TInBitStreamFile::ReadBit() {
    if (bitPos_ < 0) bitPos_ = 7;
    if (bitPos_ == 7) Fetch();
    const int bit = (curByte_ >> bitPos_) & 1;
    --bitPos_;
    return bit;
}

std::uint16_t TInBitStreamFile::ReadBits(std::int32_t count) {
    if (count <= 0) return 0;
    if (bitPos_ < 0) bitPos_ = 7;
    if (bitPos_ == 7) Fetch();
    const auto mask = [](int n) { return (1u << n) - 1u; };
    const int available = bitPos_ + 1;
    if (count <= available) {
        bitPos_ -= count;
        return static_cast<std::uint16_t>((curByte_ >> (bitPos_ + 1)) & mask(count));
    }
    std::uint32_t high = curByte_ & mask(available);
    int rest = count - available;
    if (rest > 8) {
        rest -= 8;
        Fetch();
        high = (high << 8) | curByte_;
    }
    Fetch();
    bitPos_ = 7 - rest;
    return static_cast<std::uint16_t>((high << rest) | ((curByte_ >> (bitPos_ + 1)) & mask(rest)));
}

std::int64_t TInBitStreamFile::MarkPosition() {
    mark_ = static_cast<std::int64_t>(stream_.Position());
    return mark_;
}

void TInBitStreamFile::ReturnToMark() {
    stream_.SetPosition(static_cast<std::size_t>(mark_));
}

std::int32_t TInBitStreamFile::BytesSinceMark() const {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(stream_.Position()) - mark_);
}

}  // namespace plume
