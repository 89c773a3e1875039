// A growable in-memory byte stream with a position: the input and output of
// every engine pass. Reads are exact: a short read throws EStreamError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "BitStreamFile/MessageEvent.h"

namespace plume {

// Text of the stream's own errors, as the user sees them.
inline constexpr const char* kStreamReadError = Msg("ストリームからの読み込みエラー");
inline constexpr const char* kStreamWriteError = Msg("ストリームへの書き込みエラー");

// Raised by the stream layer (short read, file that cannot be opened or
// created). Carries the user-visible message text.
class EStreamError : public std::runtime_error {
  public:
    explicit EStreamError(const std::string& text) : std::runtime_error(text) {}
};

class TMemoryStream {
  public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::size_t Size() const { return bytes_.size(); }
    std::size_t Position() const { return position_; }
    // Any position up to Size() is valid; past it, reads fail and writes pad with zeros.
    void SetPosition(std::size_t position) { position_ = position; }

    // Exact read: throws EStreamError(kStreamReadError) when fewer than count bytes remain.
    void Read(void* buffer, std::size_t count);
    std::uint8_t ReadByte();
    void Write(const void* buffer, std::size_t count);
    void WriteByte(std::uint8_t value);

    // Empties the stream and sets the position to 0.
    void Clear();
    void Reserve(std::size_t capacity) { bytes_.reserve(capacity); }
    // Stable between writes; invalidated when the stream grows.
    std::uint8_t* Memory() { return bytes_.data(); }
    const std::uint8_t* Memory() const { return bytes_.data(); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }
    std::size_t Remaining() const {
        return position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

}  // namespace plume
