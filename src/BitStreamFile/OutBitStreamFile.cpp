#include "BitStreamFile/OutBitStreamFile.h"

namespace plume {

TOutBitStreamFile::TOutBitStreamFile(TMemoryStream& stream, TMessageEvent onMessage)
    : onMessage_(std::move(onMessage)), stream_(stream) {}

void TOutBitStreamFile::Emit(std::uint8_t byte) {
    stream_.WriteByte(byte);
    if (byte == 0xFF) stream_.WriteByte(0x00);
}

void TOutBitStreamFile::WriteBytes(const void* buffer, std::int32_t count) {
    FlushIfPending();
    if (count > 0) stream_.Write(buffer, static_cast<std::size_t>(count));
}

void TOutBitStreamFile::WriteByte(std::uint8_t value) {
    FlushIfPending();
    stream_.WriteByte(value);
}

void TOutBitStreamFile::WriteWord(std::uint16_t value) {
    FlushIfPending();
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value)};
    stream_.Write(bytes, 2);
}

void TOutBitStreamFile::WriteLong(std::uint32_t value) {
    FlushIfPending();
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
        static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    stream_.Write(bytes, 4);
}

void TOutBitStreamFile::WriteBits(std::uint16_t value, std::int32_t count) {
    if (count <= 0) return;
    const auto mask = [](int n) { return (1u << n) - 1u; };
    const int free = bitPos_ + 1;
    if (count > free) {
        int rest = count - free;
        Emit(static_cast<std::uint8_t>(((value >> rest) & mask(free)) | pending_));
        pending_ = 0;
        bitPos_ = 7;
        if (rest >= 8) {
            rest -= 8;
            Emit(static_cast<std::uint8_t>(value >> rest));
        }
        if (rest > 0) {
            pending_ = static_cast<std::uint8_t>((value & mask(rest)) << (8 - rest));
            bitPos_ = 7 - rest;
        }
    } else if (count == free) {
        Emit(static_cast<std::uint8_t>((value & mask(count)) | pending_));
        pending_ = 0;
        bitPos_ = 7;
    } else {
        pending_ = static_cast<std::uint8_t>(pending_ | ((value & mask(count)) << (free - count)));
        bitPos_ -= count;
    }
}

void TOutBitStreamFile::FlushBits() {
    pending_ = static_cast<std::uint8_t>(pending_ | ((1u << (bitPos_ + 1)) - 1u));
    bitPos_ = 7;
    Emit(pending_);
    pending_ = 0;
}

}  // namespace plume
