// Huffman coding of one block (T.81 F.1.2.1, F.1.2.2) into a scan writer's
// bits, from its coded form.
#pragma once

#include <bit>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "JpegRotation/entropy/CodedBlock.h"
#include "JpegRotation/entropy/HuffmanCoding.h"
#include "JpegRotation/frame/BlockTables.h"

namespace plume {

// The size category and the low bits of a difference (T.81 F.1.2.1): a
// negative value is coded as its one's complement.
inline void SizeAndBits(std::int32_t value, int& size, std::uint32_t& bits) {
    const std::int32_t sign = value >> 31;  // -1 for a negative value, else 0
    size = std::bit_width(static_cast<std::uint32_t>((value ^ sign) - sign));
    bits = static_cast<std::uint32_t>(value + sign) & ((1u << size) - 1u);
}

// Bit k set where block[k] is not zero.
inline std::uint64_t NonZeroMask(const TCoefBlock& block) {
#if defined(__SSE2__)
    std::uint64_t mask = 0;
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 8; i += 2) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.data() + 8 * i));
        const __m128i b =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.data() + 8 * i + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        mask |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(~_mm_movemask_epi8(zeros)))
                << (8 * i);
    }
    return mask;
#else
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) mask |= static_cast<std::uint64_t>(block[k] != 0) << k;
    return mask;
#endif
}

// The coded form of a block as the output sees it through `map`.
inline void PackBlock(const TCoefBlock& source, const TBlockMap& map, TCodedBlock& block) {
    TCoefBlock mapped;
    for (int k = 0; k < 64; ++k)
        mapped[k] = static_cast<std::int16_t>(source[map.Moves ? map.Source[k] : k] * map.Sign[k]);
    block.dc = mapped[0];
    block.mask = NonZeroMask(mapped) & ~std::uint64_t{1};
    block.tooLarge = false;
    for (std::uint64_t rest = block.mask; rest != 0; rest &= rest - 1) {
        const int k = std::countr_zero(rest);
        int size;
        std::uint32_t bits;
        SizeAndBits(mapped[k], size, bits);
        if (size > 15) block.tooLarge = true;
        block.ac[k] = (bits << 8) | static_cast<std::uint32_t>(size);
    }
}

// Codes a DC value as its difference from `predictor` (T.81 F.1.2.1), which
// takes the value; false when the table has no code for its size.
inline bool CodeDc(std::int32_t value, std::int32_t& predictor, const THuffmanEncodeTable& dc,
                   TScanWriter::TBits& out) {
    int size;
    std::uint32_t bits;
    SizeAndBits(value - predictor, size, bits);
    predictor = value;
    if (dc.length[size] == 0) return false;
    PutBits(out, (std::uint64_t{dc.code[size]} << size) | bits, dc.length[size] + size);
    return true;
}

// Codes one block (T.81 F.1.2.1, F.1.2.2) into out, which has room for one
// block's worst case; false when a table has no code for a symbol the block
// needs.
inline bool CodeBlock(const TCodedBlock& block, std::int32_t& predictor,
                      const THuffmanEncodeTable& dc, const THuffmanEncodeTable& ac,
                      TScanWriter::TBits& out) {
    if (!CodeDc(block.dc, predictor, dc, out) || block.tooLarge) return false;

    // The positions after the last one coded, bit 0 the next: the run of
    // zeros before each coefficient is the count of trailing zeros.
    std::uint64_t rest = block.mask >> 1;
    int last = 0;
    while (rest != 0) {
        int run = std::countr_zero(rest);
        rest = (rest >> run) >> 1;
        last += run + 1;
        if (run > 15) [[unlikely]] {
            if (ac.length[0xF0] == 0) return false;
            for (; run > 15; run -= 16)
                PutBits(out, ac.code[0xF0], ac.length[0xF0]);  // ZRL, sixteen zeros
        }
        const std::uint32_t coded = block.ac[last];
        const int valueSize = static_cast<int>(coded & 0xFF);
        const std::uint32_t entry = ac.entry[(run << 4) | valueSize];
        if (entry == 0) return false;
        PutBits(out, (std::uint64_t{entry >> 8} << valueSize) | (coded >> 8),
                static_cast<int>(entry & 0xFF) + valueSize);
    }
    if (last != 63) {  // end of block
        if (ac.length[0] == 0) return false;
        PutBits(out, ac.code[0], ac.length[0]);
    }
    return true;
}

}  // namespace plume
