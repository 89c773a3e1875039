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
// A complete table has a code for every symbol of its class: the DC sizes 0
// to 11, or the 162 AC run/size symbols (EOB, ZRL, runs 0-15 with sizes
// 1-10). It is kept as read; any other table is replaced by its Annex K
// table. Counting codes alone would keep, say, an AC table of 12 codes, and
// the turned scan may need symbols such a table does not have.
template <class TSymbol>
bool IsCompleteTable(int tableClass, const TSymbol* symbols, int count) {
    if (count != (tableClass == 0 ? kCompleteDcCount : kCompleteAcCount)) return false;
    bool seen[256] = {};
    for (int i = 0; i < count; ++i) {
        const int symbol = static_cast<int>(symbols[i]);
        if (symbol < 0 || symbol > 255 || seen[symbol]) return false;
        seen[symbol] = true;
        const int size = symbol & 15;
        const bool valid = tableClass == 0
                               ? symbol <= 11
                               : symbol == 0x00 || symbol == 0xF0 || (size >= 1 && size <= 10);
        if (!valid) return false;
    }
    return true;
}

}  // namespace plume
