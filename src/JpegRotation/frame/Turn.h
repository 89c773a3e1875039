// The eight ways a picture can be turned upright without touching its
// pixels: the quarter and half turns and the four mirrors. A turn moves every
// block of the picture to its new place (Turned) and changes the blocks
// themselves (BlockTables.h).
#pragma once

#include <cstdint>

namespace plume {

// The numbers are the host's mode numbers 0 to 7 (TJpegRotation::RotateJpeg).
enum class TTurn : std::uint8_t {
    None = 0,         // decoded and coded again as it is
    RotateRight = 1,  // 90 degrees clockwise
    RotateLeft = 2,   // 90 degrees counter-clockwise
    Rotate180 = 3,
    FlipHorizontal = 4,  // mirrored left to right
    FlipVertical = 5,    // mirrored top to bottom
    Transpose = 6,       // mirrored across the top-left to bottom-right diagonal
    Transverse = 7,      // mirrored across the top-right to bottom-left diagonal
};
inline constexpr int kTurnCount = 8;

// The turn of a host's mode number; a number past 7 turns nothing.
inline TTurn TurnOfMode(std::uint8_t mode) {
    return mode < kTurnCount ? static_cast<TTurn>(mode) : TTurn::None;
}
inline int TurnIndex(TTurn turn) {
    return static_cast<int>(turn);
}

// The quarter turns and the two diagonal mirrors exchange width and height,
// the sampling factors and the axes of every block.
inline bool ExchangesDimensions(TTurn turn) {
    return turn == TTurn::RotateRight || turn == TTurn::RotateLeft || turn == TTurn::Transpose ||
           turn == TTurn::Transverse;
}

// The turn that carries the turned grid back: a quarter turn is undone by
// the other one; the mirrors and the half turn undo themselves.
inline TTurn Inverse(TTurn turn) {
    return turn == TTurn::RotateRight  ? TTurn::RotateLeft
           : turn == TTurn::RotateLeft ? TTurn::RotateRight
                                       : turn;
}

// Where a turn carries the point (column c, row r) of a grid `width` by
// `height`: the output MCU of an input MCU, or the place of a block in its MCU.
struct TGridPoint {
    std::int64_t x, y;
};
inline TGridPoint Turned(TTurn turn, std::int64_t c, std::int64_t r, std::int64_t width,
                         std::int64_t height) {
    switch (turn) {
        case TTurn::RotateRight:
            return {height - 1 - r, c};
        case TTurn::RotateLeft:
            return {r, width - 1 - c};
        case TTurn::Rotate180:
            return {width - 1 - c, height - 1 - r};
        case TTurn::FlipHorizontal:
            return {width - 1 - c, r};
        case TTurn::FlipVertical:
            return {c, height - 1 - r};
        case TTurn::Transpose:
            return {r, c};
        case TTurn::Transverse:
            return {height - 1 - r, width - 1 - c};
        case TTurn::None:
            break;
    }
    return {c, r};
}

}  // namespace plume
