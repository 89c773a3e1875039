// Position maps of an 8x8 block in zigzag order (T.81 Figure A.6) and the
// coefficient map of each turn: output position k takes the source position
// Source[k], negated where Negate[k] is set. A quarter turn or a diagonal
// mirror is a transposition plus sign changes; the other mirrors are sign
// changes only: the coefficients of odd frequencies change sign when their
// basis function is mirrored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "JpegRotation/frame/Turn.h"

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
// A mask of zigzag positions transposed: bit kTranspose[k] set for each bit
// k set. Eight lookups, one for each byte of the mask.
std::uint64_t TransposedMask(std::uint64_t mask);
// One map per turn, in the order of TTurn.
extern const std::array<TBlockMap, 8> kModeBlockMaps;

// A map the other way round, for a decoder that turns blocks as it fills
// them: the coefficient decoded at position k goes to Target[k], negated
// where Flip[k] is all ones.
struct TBlockScatter {
    std::array<std::uint8_t, 64> Target;
    std::array<std::uint32_t, 64> Flip;
};
extern const std::array<TBlockScatter, 8> kModeBlockScatters;

// The map of a turn, and its scatter.
inline const TBlockMap& BlockMap(TTurn turn) {
    return kModeBlockMaps[static_cast<std::size_t>(TurnIndex(turn))];
}
inline const TBlockScatter& BlockScatter(TTurn turn) {
    return kModeBlockScatters[static_cast<std::size_t>(TurnIndex(turn))];
}

}  // namespace plume
