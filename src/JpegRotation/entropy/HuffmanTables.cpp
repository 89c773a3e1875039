#include "JpegRotation/entropy/HuffmanTables.h"

#include "JpegRotation/entropy/StandardTables.h"

namespace plume {

THuffmanRecord AnnexKRecord(int tableClass, int tableIndex) {
    const int annex = tableIndex & 1;
    const std::uint16_t* bits = &StdHuffBits[tableClass][annex][1];
    if (tableClass == 0) return CanonicalRecord(bits, StdDcSymbols[annex], kCompleteDcCount);
    return CanonicalRecord(bits, StdAcSymbols[annex], kCompleteAcCount);
}

void BuildEncodeTable(const THuffmanRecord& record, THuffmanEncodeTable& table) {
    table = {};
    for (int i = 0; i < record.Count(); ++i) {
        const int symbol = record.symbols[i] & 0xFF;
        table.code[symbol] = static_cast<std::uint16_t>(record.codes[i]);
        table.length[symbol] = static_cast<std::uint8_t>(record.lengths[i]);
        table.entry[symbol] =
            (static_cast<std::uint32_t>(table.code[symbol]) << 8) | table.length[symbol];
    }
}

THuffmanRecord OutputRecord(int tableClass, int tableIndex, const THuffmanRecord& input) {
    return IsComplete(tableClass, input) ? input : AnnexKRecord(tableClass, tableIndex);
}

bool IsComplete(int tableClass, const THuffmanRecord& record) {
    return IsCompleteTable(tableClass, record.symbols.data(), record.Count());
}

void BuildCodingTables(const THuffmanRecords& input, TCodingTables& tables) {
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 2; ++t) {
            const THuffmanRecord& record = input[c][t];
            tables.decode[c][t].Build(record.Count(), record.lengths.data(), record.symbols.data(),
                                      record.codes.data());
            tables.complete[c][t] = IsComplete(c, record);
            BuildEncodeTable(tables.complete[c][t] ? record : AnnexKRecord(c, t),
                             tables.encode[c][t]);
        }
}

}  // namespace plume
