// The Huffman tables of a pass: each table as a DHT segment defines it, in
// canonical order (T.81 Annex C), and the tables made from them once the
// headers are read: the input's decoding tables and the output's coding
// tables. Tables are never recomputed from statistics: a complete input
// table is kept for the output, any other is replaced by its Annex K table.
#pragma once

#include <cstdint>
#include <vector>

#include "JpegRotation/entropy/HuffmanCoding.h"

namespace plume {

// One table as three lists in canonical order: code length, symbol, code.
struct THuffmanRecord {
    std::vector<std::int32_t> lengths;
    std::vector<std::int32_t> symbols;
    std::vector<std::int32_t> codes;
    int Count() const { return static_cast<int>(lengths.size()); }
};
// Per class (0 = DC, 1 = AC) and index (0 to 3: a baseline frame uses 0 and
// 1, T.81 B.2.4.2); a table never defined is empty.
inline constexpr int kTableIndexes = 4;
using THuffmanRecords = THuffmanRecord[2][kTableIndexes];

// The canonical codes of `count` symbols with bits[l - 1] codes of length l
// (T.81 C.2): the first code is 0; each next code of a length is one more; a
// longer length doubles the next code once per length step.
template <class TCount, class TSymbol>
THuffmanRecord CanonicalRecord(const TCount* bits, const TSymbol* symbols, int count) {
    THuffmanRecord record;
    record.lengths.reserve(static_cast<std::size_t>(count));
    record.symbols.reserve(static_cast<std::size_t>(count));
    record.codes.reserve(static_cast<std::size_t>(count));
    std::int32_t code = 0;
    int i = 0;
    for (int l = 1; l <= 16; ++l) {
        code <<= 1;
        for (int j = 0; j < static_cast<int>(bits[l - 1]) && i < count; ++j, ++i, ++code) {
            record.lengths.push_back(l);
            record.symbols.push_back(static_cast<std::int32_t>(symbols[i]));
            record.codes.push_back(code);
        }
    }
    return record;
}

// Whether a table keeps its own codes for the output (StandardTables.h).
bool IsComplete(int tableClass, const THuffmanRecord& record);

// The Annex K table of a class that stands in for an incomplete table of
// this index: the luminance table for even indexes, the chrominance one for odd.
THuffmanRecord AnnexKRecord(int tableClass, int tableIndex);

// The table that codes the output for an input table: the table itself when
// it is complete, else its Annex K table (AnnexKRecord).
THuffmanRecord OutputRecord(int tableClass, int tableIndex, const THuffmanRecord& input);
// The output's codes of a table, by symbol.
void BuildEncodeTable(const THuffmanRecord& record, THuffmanEncodeTable& table);

// The tables a scan pass decodes and codes with.
struct TCodingTables {
    THuffmanDecodeTable decode[2][2];  // the input's, as defined
    THuffmanEncodeTable encode[2][2];  // the output's
    bool complete[2][2] = {};          // the input's table codes the output as it is
};
// Builds both from the input's tables; `tables` is heap memory of its own,
// since the decoding tables are large.
void BuildCodingTables(const THuffmanRecords& input, TCodingTables& tables);

}  // namespace plume
