// Huffman tables for the output and the entropy coding of blocks
// (T.81 C.2, F.1.2). Tables are never recomputed from statistics: a complete
// input table is kept, any other is replaced by its Annex K table.
#include "JpegRotation/BlockCoder.h"
#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/StandardTables.h"

namespace plume {

// Canonical code assignment (T.81 Annex C): the first code is 0; each next
// code of a length is one more; a longer length doubles the next code once
// per length step.
template <class TCount, class TSymbol>
void TJpegRotation::AssignCanonicalCodes(int tableClass, int tableIndex, const TCount* bits,
                                         const TSymbol* symbols, int count) {
    HuffCount[tableClass][tableIndex] = count;
    auto& lengths = HuffLengths[tableClass][tableIndex];
    auto& tableSymbols = HuffSymbols[tableClass][tableIndex];
    auto& codes = HuffCodes[tableClass][tableIndex];
    lengths.assign(static_cast<std::size_t>(count), 0);
    tableSymbols.assign(static_cast<std::size_t>(count), 0);
    codes.assign(static_cast<std::size_t>(count), 0);
    std::int32_t code = 0;
    int i = 0;
    for (int l = 1; l <= 16; ++l) {
        code <<= 1;
        for (int j = 0; j < static_cast<int>(bits[l - 1]) && i < count; ++j, ++i, ++code) {
            lengths[i] = l;
            tableSymbols[i] = static_cast<std::int32_t>(symbols[i]);
            codes[i] = code;
        }
    }
}
template void TJpegRotation::AssignCanonicalCodes(int, int, const std::uint8_t*,
                                                  const std::uint8_t*, int);

void TJpegRotation::InstallStandardTable(int count, int tableClass, const std::uint16_t* symbols,
                                         int tableIndex) {
    AssignCanonicalCodes(tableClass, tableIndex, &StdHuffBits[tableClass][tableIndex][1], symbols,
                         count);
}

void TJpegRotation::ReplaceIncompleteTables() {
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 2; ++t) {
            if (IsCompleteTable(c, HuffSymbols[c][t].data(), HuffCount[c][t])) continue;
            if (c == 0)
                InstallStandardTable(kCompleteDcCount, 0, StdDcSymbols[t], t);
            else
                InstallStandardTable(kCompleteAcCount, 1, StdAcSymbols[t], t);
        }
}

void TJpegRotation::BuildSymbolIndex() {
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 2; ++t) {
            THuffmanEncodeTable& table = encodeTables_[c][t];
            for (int s = 0; s < 256; ++s) {
                SymbolIndex[c][t][s] = -1;
                table.length[s] = 0;
                table.entry[s] = 0;
            }
            for (int i = 0; i < HuffCount[c][t]; ++i) {
                const int symbol = HuffSymbols[c][t][i] & 0xFF;
                SymbolIndex[c][t][symbol] = i;
                table.code[symbol] = static_cast<std::uint16_t>(HuffCodes[c][t][i]);
                table.length[symbol] = static_cast<std::uint8_t>(HuffLengths[c][t][i]);
                table.entry[symbol] =
                    (static_cast<std::uint32_t>(table.code[symbol]) << 8) | table.length[symbol];
            }
        }
}

TScanWriter& TJpegRotation::ScanWriter() {
    if (!scanWriter_) scanWriter_ = std::make_unique<TScanWriter>(OutBits->Stream().Bytes());
    return *scanWriter_;
}

void TJpegRotation::EncodeDC(int tableIndex, std::int32_t diff) {
    int size;
    std::uint32_t bits;
    SizeAndBits(diff, size, bits);
    const THuffmanEncodeTable& table = encodeTables_[0][tableIndex];
    const int length = size < 256 ? table.length[size] : 0;
    if (length == 0) {
        encodeFailed_ = true;
        return;
    }
    ScanWriter().Put((std::uint64_t{table.code[size]} << size) | bits, length + size);
}

void TJpegRotation::EncodeAC(int tableIndex, std::int32_t value, std::int32_t run) {
    int size;
    std::uint32_t bits;
    SizeAndBits(value, size, bits);
    const int symbol = ((run << 4) + size) & 0xFF;
    const THuffmanEncodeTable& table = encodeTables_[1][tableIndex];
    const int length = table.length[symbol];
    if (length == 0) {
        encodeFailed_ = true;
        return;
    }
    ScanWriter().Put((std::uint64_t{table.code[symbol]} << size) | bits, length + size);
}

void TJpegRotation::EncodeBlock(int component, const TCoefBlock& block) {
    TScanWriter& writer = ScanWriter();
    TScanWriter::TBits bits = writer.Open(TScanWriter::kBlockWorstCase);
    TCodedBlock coded;
    PackBlock(block, kModeBlockMaps[kModeNone], coded);
    if (!CodeBlock(coded, DcPredictor[component], encodeTables_[0][DcSelector[component]],
                   encodeTables_[1][AcSelector[component]], bits))
        encodeFailed_ = true;
    writer.Close(bits);
}

}  // namespace plume
