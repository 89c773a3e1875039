// Huffman tables for the output and the entropy coding of blocks
// (T.81 C.2, F.1.2). Tables are never recomputed from statistics: a complete
// input table is kept, any other is replaced by its Annex K table.
#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/StandardTables.h"

namespace plume {

void TJpegRotation::InstallStandardTable(int count, int tableClass, const std::uint16_t* symbols,
                                         int tableIndex) {
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
        for (int j = 0; j < StdHuffBits[tableClass][tableIndex][l] && i < count; ++j, ++i, ++code) {
            lengths[i] = l;
            tableSymbols[i] = symbols[i];
            codes[i] = code;
        }
    }
}

void TJpegRotation::ReplaceIncompleteTables() {
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 2; ++t) {
            if (IsCompleteTable(HuffCount[c][t])) continue;
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
            }
            for (int i = 0; i < HuffCount[c][t]; ++i) {
                const int symbol = HuffSymbols[c][t][i] & 0xFF;
                SymbolIndex[c][t][symbol] = i;
                table.code[symbol] = static_cast<std::uint16_t>(HuffCodes[c][t][i]);
                table.length[symbol] = static_cast<std::uint8_t>(HuffLengths[c][t][i]);
            }
        }
}

TScanWriter& TJpegRotation::ScanWriter() {
    if (!scanWriter_) scanWriter_ = std::make_unique<TScanWriter>(OutBits->Stream().Bytes());
    return *scanWriter_;
}

namespace {

// The size category and the low bits of a difference (T.81 F.1.2.1): a
// negative value is coded as its one's complement.
inline void SizeAndBits(std::int32_t value, int& size, std::uint32_t& bits) {
    const std::uint32_t magnitude = static_cast<std::uint32_t>(value < 0 ? -value : value);
    size = std::bit_width(magnitude);
    bits = static_cast<std::uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1u);
}

}  // namespace

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

namespace {

// Bit k set where block[k] is not zero.
inline std::uint64_t NonZeroMask(const TCoefBlock& block) {
#if defined(__SSE2__)
    std::uint64_t mask = 0;
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 8; i += 2) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.data() + 8 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.data() + 8 * i + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        mask |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(~_mm_movemask_epi8(zeros))) << (8 * i);
    }
    return mask;
#else
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) mask |= static_cast<std::uint64_t>(block[k] != 0) << k;
    return mask;
#endif
}

// Codes one block (T.81 F.1.2.1, F.1.2.2); false when a table has no code
// for a symbol the block needs.
inline bool CodeBlock(const TCoefBlock& block, std::int32_t& predictor, const THuffmanEncodeTable& dc,
                      const THuffmanEncodeTable& ac, TScanWriter& writer) {
    writer.Reserve();
    int size;
    std::uint32_t bits;
    SizeAndBits(block[0] - predictor, size, bits);
    predictor = block[0];
    if (dc.length[size] == 0) return false;
    writer.Put((std::uint64_t{dc.code[size]} << size) | bits, dc.length[size] + size);

    std::uint64_t nonZero = NonZeroMask(block) & ~std::uint64_t{1};
    int last = 0;
    while (nonZero != 0) {
        const int k = std::countr_zero(nonZero);
        nonZero &= nonZero - 1;
        int run = k - last - 1;
        for (; run > 15; run -= 16) {  // ZRL, sixteen zeros
            if (ac.length[0xF0] == 0) return false;
            writer.Put(ac.code[0xF0], ac.length[0xF0]);
        }
        SizeAndBits(block[k], size, bits);
        const int symbol = (run << 4) | size;
        if (ac.length[symbol] == 0) return false;
        writer.Put((std::uint64_t{ac.code[symbol]} << size) | bits, ac.length[symbol] + size);
        last = k;
    }
    if (last != 63) {  // end of block
        if (ac.length[0] == 0) return false;
        writer.Put(ac.code[0], ac.length[0]);
    }
    return true;
}

}  // namespace

void TJpegRotation::EncodeBlock(int component, const TCoefBlock& block) {
    if (!CodeBlock(block, DcPredictor[component], encodeTables_[0][DcSelector[component]],
                   encodeTables_[1][AcSelector[component]], ScanWriter()))
        encodeFailed_ = true;
}

}  // namespace plume
