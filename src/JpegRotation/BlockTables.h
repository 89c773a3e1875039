// Position maps of an 8x8 block in zigzag order (T.81 Figure A.6) and the
// coefficient map of each rotation mode: output position k takes the source
// position Source[k], negated where Negate[k] is set.
#pragma once

#include <array>
#include <cstdint>

namespace plume {

struct TBlockMap {
    std::array<std::uint8_t, 64> Source;
    std::array<bool, 64> Negate;
    // Negate as factors of +1 and -1; Moves is false when Source[k] = k.
    std::array<std::int16_t, 64> Sign;
    bool Moves;
};

// The transposition map T: position of the pair (u, v) for position k of (v, u).
extern const std::array<std::uint8_t, 64> kTranspose;
// One map per rotation mode 0..7.
extern const std::array<TBlockMap, 8> kModeBlockMaps;

// A map the other way round, for a decoder that turns blocks as it fills
// them: the coefficient decoded at position k goes to Target[k], negated
// where Flip[k] is all ones.
struct TBlockScatter {
    std::array<std::uint8_t, 64> Target;
    std::array<std::uint32_t, 64> Flip;
};
extern const std::array<TBlockScatter, 8> kModeBlockScatters;

// Where a mode carries the point (column c, row r) of a grid `width` by
// `height`: the output MCU of an input MCU, or the place of a block in its MCU.
struct TGridPoint {
    std::int64_t x, y;
};
inline TGridPoint Turned(std::uint8_t mode, std::int64_t c, std::int64_t r, std::int64_t width,
                         std::int64_t height) {
    switch (mode) {
        case 1:  // rotate right
            return {height - 1 - r, c};
        case 2:  // rotate left
            return {r, width - 1 - c};
        case 3:  // rotate 180
            return {width - 1 - c, height - 1 - r};
        case 4:  // flip horizontal
            return {width - 1 - c, r};
        case 5:  // flip vertical
            return {c, height - 1 - r};
        case 6:  // transpose
            return {r, c};
        case 7:  // transverse
            return {height - 1 - r, width - 1 - c};
        default:
            return {c, r};
    }
}

// The mode that carries the turned grid back: a quarter turn is undone by
// the other one; the mirrors and the half turn undo themselves.
inline std::uint8_t InverseMode(std::uint8_t mode) {
    return mode == 1 ? 2 : mode == 2 ? 1 : mode;
}

}  // namespace plume
