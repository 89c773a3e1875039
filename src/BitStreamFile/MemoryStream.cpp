#include "BitStreamFile/MemoryStream.h"

#include <cstring>

namespace plume {

void TMemoryStream::Read(void* buffer, std::size_t count) {
    if (count > Remaining()) throw EStreamError(kStreamReadError);
    if (count == 0) return;
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
}

std::uint8_t TMemoryStream::ReadByte() {
    if (position_ >= bytes_.size()) throw EStreamError(kStreamReadError);
    return bytes_[position_++];
}

void TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (position_ == bytes_.size()) {
        bytes_.insert(bytes_.end(), bytes, bytes + count);
    } else {
        if (position_ + count > bytes_.size()) bytes_.resize(position_ + count);
        std::memcpy(bytes_.data() + position_, bytes, count);
    }
    position_ += count;
}

void TMemoryStream::WriteByte(std::uint8_t value) {
    if (position_ == bytes_.size()) {
        bytes_.push_back(value);
        ++position_;
    } else {
        Write(&value, 1);
    }
}

void TMemoryStream::Clear() {
    bytes_.clear();
    position_ = 0;
}

}  // namespace plume
