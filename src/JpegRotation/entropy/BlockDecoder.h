// Huffman decoding of one block (T.81 F.2.2.1, F.2.2.2) with a scan reader
// of its own: shared by every scan pass. What becomes of the coefficients is
// the sink's business: the index pass only needs to know where each block
// ends, the coders want the block's coded form (BlockSinks.h).
#pragma once

#include <cstdint>
#include <type_traits>

#include "JpegRotation/entropy/CodedBlock.h"
#include "JpegRotation/entropy/HuffmanCoding.h"
#include "JpegRotation/frame/BlockTables.h"

namespace plume {

enum class TBlockStatus : std::uint8_t {
    Ok,
    BadCode,
    DcSize,
    DcValue,
    AcValue,     // a coefficient beyond 16 bits (progressive scans)
    RunPastBand  // a run of zeros beyond the scan's band (progressive scans)
};

inline constexpr int kMaxDcSize = 11;  // the largest DC size category of 8-bit data (T.81 F.1.2.1)

// T.81 F.2.2.1, EXTEND: the s-bit value v as a signed difference.
inline std::int32_t Extend(std::uint32_t v, int s) {
    if (s == 0) return 0;
    return v < (1u << (s - 1)) ? static_cast<std::int32_t>(v) - (1 << s) + 1
                               : static_cast<std::int32_t>(v);
}

// Sinks of DecodeBlockInto. Begin() comes first, then Dc() with the DC value,
// then Put() for each AC coefficient that is not zero: its zigzag position,
// the value bits as coded and their number (the size, 1 to 15). A sink may
// also take some codes by a shorter way of its own (Shortcut). TSkipSink
// keeps nothing.
struct TSkipSink {
    void Begin() {}
    void Dc(std::int32_t) {}
    void Put(int, std::uint32_t, int) {}
};

// Decodes one block into `sink`, undoing the DC prediction with `predictor`,
// which takes the new DC value. kCheckDcValue refuses a DC value outside 16
// bits; without it the value is kept in `predictor` and only its low 16 bits
// go to the sink. With kTrackCoding, *canonical is cleared when the block is
// not coded the way the engine's coder would code it again: a zero coded as a
// value, or a run of zeros (ZRL) not followed by a coefficient.
//
// The bits consumed and the result are those of decoding symbol by symbol:
// only codes that can neither fail nor end the block early take the short way.
template <bool kCheckDcValue, bool kTrackCoding, class TSink>
[[gnu::always_inline]] inline TBlockStatus DecodeBlockInto(TScanReader& reader,
                                                           const THuffmanDecodeTable& dcTable,
                                                           const THuffmanDecodeTable& acTable,
                                                           std::int32_t& predictor, TSink&& sink,
                                                           bool* canonical = nullptr) {
    using TTable = THuffmanDecodeTable;
    constexpr int kPeekShift = 64 - TTable::kLookupBits;
    sink.Begin();
    // The bit buffer stays in registers; the reader gets it back before any
    // other call. At least 32 bits are buffered before each code: a code and
    // its value bits take at most 26 where a lookup decodes them.
    TScanReader::TCursor cursor = reader.Cursor();
    if (cursor.bits < 32) reader.Refill(cursor);
    int dcSize;
    const std::uint16_t dcEntry =
        dcTable.Fast(static_cast<std::uint32_t>(cursor.buffer >> kPeekShift));
    if (dcEntry != 0 && TTable::FastRun(dcEntry) == 0) {  // a symbol below 16
        const int length = TTable::FastLength(dcEntry);
        cursor.buffer <<= length;
        cursor.bits -= length;
        dcSize = TTable::FastSize(dcEntry);
    } else {
        reader.SetCursor(cursor);
        dcSize = reader.Decode(dcTable);
        if (dcSize < 0) return TBlockStatus::BadCode;
        cursor = reader.Cursor();
    }
    if (dcSize > kMaxDcSize) {
        reader.SetCursor(cursor);
        return TBlockStatus::DcSize;
    }
    // At least 16 bits are left after a code of at most 16.
    const auto dcBits = static_cast<std::uint32_t>((cursor.buffer >> 1) >> (63 - dcSize));
    cursor.buffer <<= dcSize;
    cursor.bits -= dcSize;
    const std::int32_t value = Extend(dcBits, dcSize) + predictor;
    if (kCheckDcValue && (value < -32768 || value > 32767)) {
        reader.SetCursor(cursor);
        return TBlockStatus::DcValue;
    }
    sink.Dc(value);
    predictor = value;

    [[maybe_unused]] bool lastZero = false;  // the last symbol coded a zero
    for (int k = 1;;) {
        for (;;) {
            if (cursor.bits < 32) reader.Refill(cursor);
            if constexpr (std::is_same_v<std::remove_cvref_t<TSink>, TSkipSink>) {
                // Where the coefficients are not wanted, several symbols at
                // once while none of them can end the block early.
                const std::uint16_t group = acTable.Skip(
                    static_cast<std::uint32_t>(cursor.buffer >> (64 - TTable::kSkipBits)));
                const int advance = TTable::SkipAdvance(group);
                if (group != 0 && k + advance <= 63) {
                    const int used = TTable::SkipBits(group);
                    cursor.buffer <<= used;
                    cursor.bits -= used;
                    k += advance;
                    if constexpr (kTrackCoding) {
                        if (advance > 0) lastZero = false;  // the group coded a coefficient
                        if ((group & TTable::kSkipEnds) && k > 1 && lastZero) *canonical = false;
                    }
                    if (group & TTable::kSkipEnds) {
                        reader.SetCursor(cursor);
                        return TBlockStatus::Ok;
                    }
                    continue;
                }
            }
            // A sink may know a shorter way for some codes: 1 when it took
            // one coefficient that does not end the block, 2 at an end of
            // block, 0 to leave the code to what follows.
            if constexpr (requires { sink.Shortcut(cursor, k); }) {
                const int taken = sink.Shortcut(cursor, k);
                if (taken == 1) continue;
                if (taken == 2) {
                    reader.SetCursor(cursor);
                    return TBlockStatus::Ok;
                }
            }
            const std::uint16_t entry =
                acTable.Fast(static_cast<std::uint32_t>(cursor.buffer >> kPeekShift));
            const int run = TTable::FastRun(entry);
            if (entry == 0 || k + run > 63) break;
            const int length = TTable::FastLength(entry);
            if (entry & TTable::kEndOfBlock) {
                cursor.buffer <<= length;
                cursor.bits -= length;
                reader.SetCursor(cursor);
                if constexpr (kTrackCoding)
                    if (k > 1 && lastZero) *canonical = false;
                return TBlockStatus::Ok;
            }
            const int size = TTable::FastSize(entry);
            k += run;
            if (size != 0)
                sink.Put(k, static_cast<std::uint32_t>((cursor.buffer << length) >> (64 - size)),
                         size);
            cursor.buffer <<= length + size;
            cursor.bits -= length + size;
            ++k;
            if constexpr (kTrackCoding) {
                lastZero = size == 0;
                if (size == 0 && (run != 15 || k == 64)) *canonical = false;
            }
            if (k == 64) {
                reader.SetCursor(cursor);
                return TBlockStatus::Ok;
            }
        }

        // Symbol by symbol, with every check.
        reader.SetCursor(cursor);
        const int rs = reader.Decode(acTable);
        if (rs < 0) return TBlockStatus::BadCode;
        if (rs == 0) {  // end of block
            if constexpr (kTrackCoding)
                if (k > 1 && lastZero) *canonical = false;
            return TBlockStatus::Ok;
        }
        const int run = rs >> 4, size = rs & 15;
        if (k + run > 64) return TBlockStatus::BadCode;
        k += run;
        const std::uint32_t bits = reader.TakeBuffered(size);
        if (k > 63) return TBlockStatus::BadCode;
        if (size != 0) sink.Put(k, bits, size);
        ++k;
        if constexpr (kTrackCoding) {
            lastZero = size == 0;
            if (size == 0 && (run != 15 || k == 64)) *canonical = false;
        }
        if (k == 64) return TBlockStatus::Ok;
        cursor = reader.Cursor();
    }
}

}  // namespace plume
