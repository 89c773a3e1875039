// One 8x8 block of quantised DCT coefficients, as values and in the form the
// Huffman coder takes it.
#pragma once

#include <array>
#include <cstdint>

namespace plume {

// 64 quantised coefficients of one 8x8 block in zigzag order; position 0 is
// the DC value itself, the prediction already undone.
using TCoefBlock = std::array<std::int16_t, 64>;

// One block in the form the Huffman coder takes it (T.81 F.1.2.1, F.1.2.2):
// the DC value, and for each AC coefficient that is not zero its size
// category and the bits that code it. Positions not in the mask hold
// anything.
struct TCodedBlock {
    std::int32_t dc;     // the DC value itself, 16 bits
    std::uint64_t mask;  // bit k set: AC position k is not zero
    // At those positions: (value bits << 8) | size.
    std::array<std::uint32_t, 64> ac;
    // A coefficient of -32768 has no size category of AC coefficients (T.81
    // F.1.2.2 goes up to 15): such a block cannot be coded.
    bool tooLarge = false;
};

}  // namespace plume
