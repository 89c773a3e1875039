// What every segment handler works with: the input, the output, and the
// first refusal of the pass. A handler is called once the driver has read
// the marker and the length field; it returns whether the segment is
// acceptable, and when it is not, the reason is the refusal it recorded.
#pragma once

#include <cstdint>

#include "BitStreamFile/InBitStreamFile.h"
#include "BitStreamFile/OutBitStreamFile.h"

namespace plume {

// Marker words (T.81 Table B.1).
inline constexpr std::uint16_t kSOI = 0xFFD8;
inline constexpr std::uint16_t kSOF0 = 0xFFC0;
inline constexpr std::uint16_t kSOF1 = 0xFFC1;
inline constexpr std::uint16_t kSOF2 = 0xFFC2;
inline constexpr std::uint16_t kSOF3 = 0xFFC3;
inline constexpr std::uint16_t kSOF15 = 0xFFCF;
inline constexpr std::uint16_t kDAC = 0xFFCC;
inline constexpr std::uint16_t kDHT = 0xFFC4;
inline constexpr std::uint16_t kEOI = 0xFFD9;
inline constexpr std::uint16_t kSOS = 0xFFDA;
inline constexpr std::uint16_t kDQT = 0xFFDB;
inline constexpr std::uint16_t kDRI = 0xFFDD;
inline constexpr std::uint16_t kDHP = 0xFFDE;
inline constexpr std::uint16_t kEXP = 0xFFDF;
inline constexpr std::uint16_t kAPP0 = 0xFFE0;
inline constexpr std::uint16_t kAPP1 = 0xFFE1;
inline constexpr std::uint16_t kAPP2 = 0xFFE2;
inline constexpr std::uint16_t kAPP15 = 0xFFEF;
inline constexpr std::uint16_t kCOM = 0xFFFE;

struct TSegmentIo {
    TInBitStreamFile& in;
    // The rotate pass's output; the header pass writes into scratch memory.
    TOutBitStreamFile& out;
    const char* refusal = nullptr;

    // Records the first refusal of the pass; always false, for `return Refuse(...)`.
    bool Refuse(const char* text) {
        if (refusal == nullptr) refusal = text;
        return false;
    }
    bool Refused() const { return refusal != nullptr; }
};

}  // namespace plume
