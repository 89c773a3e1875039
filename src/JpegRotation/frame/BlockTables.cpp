#include "JpegRotation/frame/BlockTables.h"

namespace plume {
namespace {

constexpr std::array<std::uint8_t, 64> kNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr std::array<std::uint8_t, 64> MakeTranspose() {
    std::array<std::uint8_t, 64> zigzagOf{};
    for (int k = 0; k < 64; ++k) zigzagOf[kNatural[k]] = static_cast<std::uint8_t>(k);
    std::array<std::uint8_t, 64> t{};
    for (int k = 0; k < 64; ++k) {
        const int v = kNatural[k] / 8, u = kNatural[k] % 8;
        t[k] = zigzagOf[u * 8 + v];
    }
    return t;
}

constexpr std::array<std::uint8_t, 64> kT = MakeTranspose();

// Entry [b][v]: the transposed bits of the byte value v at byte b of a mask.
using TMaskBytes = std::array<std::array<std::uint64_t, 256>, 8>;
constexpr TMaskBytes MakeMaskBytes() {
    TMaskBytes table{};
    for (int b = 0; b < 8; ++b)
        for (int v = 0; v < 256; ++v)
            for (int j = 0; j < 8; ++j)
                if ((v >> j) & 1) table[b][v] |= std::uint64_t{1} << kT[8 * b + j];
    return table;
}
constexpr TMaskBytes kMaskBytes = MakeMaskBytes();

enum class TSign { None, OddU, OddV, OddSum };

constexpr TBlockMap MakeMap(bool transpose, TSign sign) {
    TBlockMap map{};
    map.Moves = transpose;
    for (int k = 0; k < 64; ++k) {
        const int v = kNatural[k] / 8, u = kNatural[k] % 8;
        map.Source[k] = transpose ? kT[k] : static_cast<std::uint8_t>(k);
        switch (sign) {
            case TSign::None:
                map.Negate[k] = false;
                break;
            case TSign::OddU:
                map.Negate[k] = (u & 1) != 0;
                break;
            case TSign::OddV:
                map.Negate[k] = (v & 1) != 0;
                break;
            case TSign::OddSum:
                map.Negate[k] = ((u + v) & 1) != 0;
                break;
        }
        map.Sign[k] = map.Negate[k] ? -1 : 1;
    }
    return map;
}

constexpr TBlockScatter MakeScatter(const TBlockMap& map) {
    TBlockScatter scatter{};
    for (int k = 0; k < 64; ++k) {
        scatter.Target[map.Source[k]] = static_cast<std::uint8_t>(k);
        scatter.Flip[map.Source[k]] = map.Negate[k] ? ~std::uint32_t{0} : 0;
    }
    return scatter;
}

}  // namespace

const std::array<std::uint8_t, 64> kTranspose = kT;

std::uint64_t TransposedMask(std::uint64_t mask) {
    std::uint64_t transposed = 0;
    for (int b = 0; b < 8; ++b) transposed |= kMaskBytes[b][(mask >> (8 * b)) & 0xFF];
    return transposed;
}

// The sign is decided by the frequencies of the output position: a quarter
// turn right is a transposition followed by a mirror of the columns, which
// negates the odd horizontal frequencies; the transverse mirror is a
// transposition followed by a half turn.
const std::array<TBlockMap, 8> kModeBlockMaps = {
    MakeMap(false, TSign::None),    // 0: unchanged
    MakeMap(true, TSign::OddU),     // 1: rotate right
    MakeMap(true, TSign::OddV),     // 2: rotate left
    MakeMap(false, TSign::OddSum),  // 3: rotate 180
    MakeMap(false, TSign::OddU),    // 4: mirror left to right
    MakeMap(false, TSign::OddV),    // 5: mirror top to bottom
    MakeMap(true, TSign::None),     // 6: transpose
    MakeMap(true, TSign::OddSum),   // 7: transverse
};

const std::array<TBlockScatter, 8> kModeBlockScatters = {
    MakeScatter(kModeBlockMaps[0]), MakeScatter(kModeBlockMaps[1]), MakeScatter(kModeBlockMaps[2]),
    MakeScatter(kModeBlockMaps[3]), MakeScatter(kModeBlockMaps[4]), MakeScatter(kModeBlockMaps[5]),
    MakeScatter(kModeBlockMaps[6]), MakeScatter(kModeBlockMaps[7]),
};

}  // namespace plume
