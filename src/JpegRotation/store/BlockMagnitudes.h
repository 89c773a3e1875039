// The AC coefficients of a stored block as bit masks of their magnitudes,
// sixteen at a time: where they are at least 2^n, and where one is kept
// aside. The coders walk the bits set instead of every position.
#pragma once

#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "JpegRotation/store/CoefficientStore.h"

namespace plume {

struct TMagnitudeMasks {
    std::uint64_t low = 0;   // bit k: |coefficient k| >= the lower threshold
    std::uint64_t high = 0;  // bit k: |coefficient k| >= the higher one
    std::uint64_t wide = 0;  // bit k: the coefficient is kept aside
};

// The masks of positions 1 to 63 of a block's 64 AC bytes; thresholds 1 to
// 128 (128: no byte value reaches it).
inline TMagnitudeMasks MagnitudeMasks(const std::int8_t* ac, int low, int high) {
    TMagnitudeMasks masks;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i wide = _mm_set1_epi8(kWideCoefficient);
    // A threshold of 128 is out of the unsigned bytes' reach once the kept
    // aside byte (-128, 128 as a magnitude) is out of the way: 255 stands
    // for it, which no magnitude reaches.
    const auto threshold = [](int t) {
        return _mm_set1_epi8(static_cast<char>(t >= 128 ? 255 : t));
    };
    const __m128i lowThreshold = threshold(low), highThreshold = threshold(high);
    for (int i = 0; i < 4; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ac + 16 * i));
        const __m128i sign = _mm_cmpgt_epi8(zero, bytes);
        const __m128i magnitude = _mm_sub_epi8(_mm_xor_si128(bytes, sign), sign);
        const auto atLeast = [&magnitude](__m128i t) {
            return static_cast<std::uint64_t>(static_cast<std::uint16_t>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(magnitude, t), magnitude))));
        };
        masks.low |= atLeast(lowThreshold) << (16 * i);
        masks.high |= atLeast(highThreshold) << (16 * i);
        masks.wide |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(
                          _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wide))))
                      << (16 * i);
    }
#else
    for (int k = 0; k < 64; ++k) {
        const int value = ac[k];
        const int magnitude = value < 0 ? -value : value;
        if (value == kWideCoefficient) masks.wide |= std::uint64_t{1} << k;
        if (value != kWideCoefficient && magnitude >= low) masks.low |= std::uint64_t{1} << k;
        if (value != kWideCoefficient && magnitude >= high) masks.high |= std::uint64_t{1} << k;
    }
#endif
    // Byte 0 is not a coefficient; a kept-aside byte counts in neither mask.
    const std::uint64_t coefficients = ~std::uint64_t{1} & ~masks.wide;
    masks.low &= coefficients;
    masks.high &= coefficients;
    masks.wide &= ~std::uint64_t{1};
    return masks;
}

// Bit k set where AC byte k is not zero (a kept-aside one included), for
// positions 1 to 63.
inline std::uint64_t NonZeroMask(const std::int8_t* ac) {
#if defined(__SSE2__)
    std::uint64_t zeros = 0;
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ac + 16 * i));
        zeros |= static_cast<std::uint64_t>(
                     static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero))))
                 << (16 * i);
    }
    return ~zeros & ~std::uint64_t{1};
#else
    std::uint64_t mask = 0;
    for (int k = 1; k < 64; ++k) mask |= static_cast<std::uint64_t>(ac[k] != 0) << k;
    return mask;
#endif
}

// The bits of positions first to last (0 to 63).
inline std::uint64_t BandMask(int first, int last) {
    const std::uint64_t upTo = last >= 63 ? ~std::uint64_t{0} : (std::uint64_t{2} << last) - 1;
    return upTo & ~((std::uint64_t{1} << first) - 1);
}

}  // namespace plume
