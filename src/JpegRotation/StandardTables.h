// The typical Huffman tables of ITU-T T.81 Annex K (K.3 to K.6), which
// replace every table of an input that is not complete.
#pragma once

#include <cstdint>

namespace plume {

// BITS: codes of each length 1..16 (index 0 unused), per class and index.
extern const std::uint16_t StdHuffBits[2][2][17];
// HUFFVAL of K.3 and K.4: the sizes 0 to 11.
extern const std::uint16_t StdDcSymbols[2][12];
// HUFFVAL of K.5 (index 0) and K.6 (index 1), in the order printed there.
extern const std::uint16_t StdAcSymbols[2][162];

inline constexpr int kCompleteDcCount = 12;
inline constexpr int kCompleteAcCount = 162;
inline bool IsCompleteTable(int count) { return count == kCompleteDcCount || count == kCompleteAcCount; }

}  // namespace plume
