// Huffman decoding of one block (T.81 F.2.2.1, F.2.2.2) with a scan reader
// of its own: shared by the engine's DecodeBlock, the scan indexer and the
// coder that decodes each MCU again from the index.
#pragma once

#include <cstdint>

#include "JpegRotation/BlockTables.h"
#include "JpegRotation/CoefficientStore.h"
#include "JpegRotation/HuffmanCoding.h"

namespace plume {

enum class TBlockStatus : std::uint8_t { Ok, BadCode, DcSize, DcValue };

inline constexpr int kMaxDcSize = 11;  // the largest DC size category of 8-bit data (T.81 F.1.2.1)

// T.81 F.2.2.1, EXTEND: the s-bit value v as a signed difference.
inline std::int32_t Extend(std::uint32_t v, int s) {
    if (s == 0) return 0;
    return v < (1u << (s - 1)) ? static_cast<std::int32_t>(v) - (1 << s) + 1
                               : static_cast<std::int32_t>(v);
}

// Decodes one block into `block` (zigzag order, DC undifferenced with
// `predictor`, which takes the new DC value). kCheckDcValue refuses a DC
// value outside 16 bits; without it the value is kept in `predictor` and
// only its low 16 bits are stored. With kScatter each AC coefficient goes
// where `scatter` sends it (the DC stays at position 0 in every mode).
// With kTrackCoding, *canonical is cleared when the block is not coded the
// way the engine's coder would code it again: a zero coded as a value, or a
// run of zeros (ZRL) not followed by a coefficient.
template <bool kCheckDcValue, bool kScatter = false, bool kTrackCoding = false>
inline TBlockStatus DecodeBlockFrom(TScanReader& reader, const THuffmanDecodeTable& dcTable,
                                    const THuffmanDecodeTable& acTable, std::int32_t& predictor,
                                    TCoefBlock& block, const TBlockScatter* scatter = nullptr,
                                    bool* canonical = nullptr) {
    static_assert(!(kScatter && kTrackCoding),
                  "the coding is judged from the block in decoding order");
    const auto put = [&](int k, std::int32_t value) {
        if constexpr (kScatter)
            block[scatter->Target[k]] = static_cast<std::int16_t>(value * scatter->Sign[k]);
        else
            block[k] = static_cast<std::int16_t>(value);
    };
    block.fill(0);
    const int size = reader.Decode(dcTable);
    if (size < 0) return TBlockStatus::BadCode;
    if (size > kMaxDcSize) return TBlockStatus::DcSize;
    const std::int32_t value = Extend(reader.TakeBuffered(size), size) + predictor;
    if (kCheckDcValue && (value < -32768 || value > 32767)) return TBlockStatus::DcValue;
    block[0] = static_cast<std::int16_t>(value);
    predictor = value;

    for (int k = 1;;) {
        // Short codes with their values, the bulk of the data, in registers.
        TScanReader::TCursor cursor = reader.Cursor();
        for (;;) {
            if (cursor.bits < 32) reader.Refill(cursor);
            const std::int32_t fast =
                acTable.FastAc(static_cast<std::uint32_t>(cursor.buffer >> 48));
            if (fast == 0 || k + ((fast >> 8) & 15) > 63) break;
            cursor.buffer <<= fast & 0xFF;
            cursor.bits -= fast & 0xFF;
            k += (fast >> 8) & 15;
            put(k++, fast >> 16);
            if (k == 64) break;
        }
        reader.SetCursor(cursor);
        if (k == 64) break;

        const int rs = reader.Decode(acTable);
        if (rs < 0) return TBlockStatus::BadCode;
        if (rs == 0) {  // end of block
            if constexpr (kTrackCoding)
                if (k > 1 && block[k - 1] == 0) *canonical = false;
            break;
        }
        const int run = rs >> 4, s = rs & 15;
        if (k + run > 64) return TBlockStatus::BadCode;
        k += run;
        const std::uint32_t bits = reader.TakeBuffered(s);
        if (k > 63) return TBlockStatus::BadCode;
        put(k++, Extend(bits, s));
        if constexpr (kTrackCoding)
            if (s == 0 && (run != 15 || k == 64)) *canonical = false;
        if (k == 64) break;
    }
    return TBlockStatus::Ok;
}

}  // namespace plume
