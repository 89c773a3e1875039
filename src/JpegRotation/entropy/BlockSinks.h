// What the decoders that code as they go make of each block: the shortcut
// tables that take a code and its value bits (or two of them) by one lookup,
// and the sinks of DecodeBlockInto that turn each block into its coded form
// in the turned order (TCodedSink) or code it straight away with the
// output's table (TTranscodeSink).
#pragma once

#include <array>
#include <cstdint>

#include "JpegRotation/entropy/BlockCoder.h"
#include "JpegRotation/entropy/BlockDecoder.h"
#include "JpegRotation/entropy/HuffmanCoding.h"
#include "JpegRotation/frame/BlockTables.h"

namespace plume {

// The short codes of an input AC table with their value bits, taken by one
// lookup of the top bits instead of symbol by symbol: for each code of at
// most kLookupBits bits whose value bits fit there too, the input bits it
// uses, its run, the mask of its value bits and what a sink wants of it (the
// payload, 36 bits); an end of block is only recognised. 0 where the code or
// its value bits reach beyond the lookup, the symbol has size 0, or the sink
// wants nothing of it.
struct TShortcutTable {
    static constexpr int kUsedShift = 36, kRunShift = 40, kMaskShift = 45;
    static constexpr std::uint64_t kEndOfBlock = std::uint64_t{1} << 44;
    std::uint64_t entry[1 << THuffmanDecodeTable::kLookupBits];

    // payload(run, size, value bits): the payload, 0 to leave the symbol out.
    template <class TPayload>
    void Build(const THuffmanDecodeTable& input, TPayload payload) {
        constexpr int kBits = THuffmanDecodeTable::kLookupBits;
        for (std::uint32_t j = 0; j < (1u << kBits); ++j) {
            const std::uint16_t fast = input.Fast(j);
            const int length = THuffmanDecodeTable::FastLength(fast);
            const int run = THuffmanDecodeTable::FastRun(fast),
                      size = THuffmanDecodeTable::FastSize(fast);
            entry[j] = 0;
            if (fast & THuffmanDecodeTable::kEndOfBlock) {
                entry[j] = kEndOfBlock | (std::uint64_t(length) << kUsedShift);
                continue;
            }
            if (fast == 0 || size == 0 || length + size > kBits) continue;
            const std::uint32_t valueMask = (1u << size) - 1;
            const std::uint64_t wanted =
                payload(run, size, (j >> (kBits - length - size)) & valueMask);
            if (wanted == 0) continue;
            entry[j] = wanted | (std::uint64_t(length + size) << kUsedShift) |
                       (std::uint64_t(run) << kRunShift) | (std::uint64_t{valueMask} << kMaskShift);
        }
    }
    // The entry of the code at the top of `cursor`. At an end of block its
    // bits are consumed and 2 is returned; for a coefficient that lands
    // before position 63, when `coefficient` allows it, its bits are
    // consumed, k moves to its position and 1 is returned; else 0, with
    // nothing consumed.
    int Take(TScanReader::TCursor& cursor, int& k, bool coefficient, std::uint64_t& found) const {
        found = entry[cursor.buffer >> (64 - THuffmanDecodeTable::kLookupBits)];
        const int used = static_cast<int>(found >> kUsedShift) & 15;
        if (found & kEndOfBlock) {
            cursor.buffer <<= used;
            cursor.bits -= used;
            return 2;
        }
        const int run = static_cast<int>(found >> kRunShift) & 15;
        if (found == 0 || !coefficient || k + run > 62) return 0;
        cursor.buffer <<= used;
        cursor.bits -= used;
        k += run;
        return 1;
    }
    // The mask of the value bits; the payload.
    static std::uint32_t ValueMask(std::uint64_t found) {
        return static_cast<std::uint32_t>(found >> kMaskShift) & 0x3FF;
    }
    static std::uint64_t Payload(std::uint64_t found) {
        return found & ((std::uint64_t{1} << kUsedShift) - 1);
    }
};

// Two codes of an input AC table with their value bits that fit one after
// the other in the top kBits bits, taken by one lookup: a coefficient, then
// a coefficient or an end of block. Most symbols of a photo's blocks come in
// such pairs; one lookup for two halves the decoder's chain of dependent
// lookups there. The fields of an entry (0: no pair): the bits used by both,
// the code length, run and size of each, whether the second ends the block,
// and kCopies where the output codes both symbols (an end of block aside)
// with the input's very codes.
struct TPairTable {
    static constexpr int kBits = 12;
    static constexpr std::uint32_t kEnds = 1u << 28, kCopies = 1u << 29;
    std::uint32_t entry[1 << kBits];

    static int Used(std::uint32_t e) { return static_cast<int>(e & 15); }
    static int Length1(std::uint32_t e) { return static_cast<int>(e >> 4) & 15; }
    static int Run1(std::uint32_t e) { return static_cast<int>(e >> 8) & 15; }
    static int Size1(std::uint32_t e) { return static_cast<int>(e >> 12) & 15; }
    static int Length2(std::uint32_t e) { return static_cast<int>(e >> 16) & 15; }
    static int Run2(std::uint32_t e) { return static_cast<int>(e >> 20) & 15; }
    static int Size2(std::uint32_t e) { return static_cast<int>(e >> 24) & 15; }

    // output: the table the sink codes with, or none when it does not code.
    void Build(const THuffmanDecodeTable& input, const THuffmanEncodeTable* output) {
        using TTable = THuffmanDecodeTable;
        constexpr std::uint32_t kMask = (1u << kBits) - 1;
        const auto codeAt = [](std::uint32_t j) {  // the fast entry of the code at the top of j
            return j >> (kBits - TTable::kLookupBits);
        };
        const auto sameCode = [output](std::uint32_t j, int length, int run, int size) {
            const int symbol = (run << 4) | size;
            return output != nullptr && output->length[symbol] == length &&
                   output->code[symbol] == (j >> (kBits - length));
        };
        for (std::uint32_t j = 0; j <= kMask; ++j) {
            entry[j] = 0;
            const std::uint16_t first = input.Fast(codeAt(j));
            const int length1 = TTable::FastLength(first), size1 = TTable::FastSize(first);
            if (first == 0 || (first & TTable::kEndOfBlock) || size1 == 0 ||
                length1 + size1 > kBits)
                continue;
            const int used1 = length1 + size1;
            const std::uint32_t rest = (j << used1) & kMask;
            const std::uint16_t second = input.Fast(codeAt(rest));
            const int length2 = TTable::FastLength(second), size2 = TTable::FastSize(second);
            const bool ends = (second & TTable::kEndOfBlock) != 0;
            if (second == 0 || used1 + length2 + size2 > kBits || (!ends && size2 == 0)) continue;
            const int run1 = TTable::FastRun(first), run2 = TTable::FastRun(second);
            const bool copies =
                sameCode(j, length1, run1, size1) && (ends || sameCode(rest, length2, run2, size2));
            entry[j] = static_cast<std::uint32_t>(used1 + length2 + size2) |
                       static_cast<std::uint32_t>(length1 << 4 | run1 << 8 | size1 << 12) |
                       static_cast<std::uint32_t>(length2 << 16 | run2 << 20 | size2 << 24) |
                       (ends ? kEnds : 0) | (copies ? kCopies : 0);
        }
    }
};

inline std::uint32_t ValueMask(int size) {
    return (1u << size) - 1;
}

// The pair of symbols at the top of cursor's bits, for the coefficients from
// k on: each coefficient's position, value bits and size go to
// store(position, value, size), the bits are taken and k moves past them.
// Returns 1 for two coefficients, 2 for a coefficient and the end of block,
// 0 (nothing taken) where there is no pair or it would reach position 63.
template <typename TStore>
int TakePair(const TPairTable& pairs, TScanReader::TCursor& cursor, int& k, TStore&& store) {
    const std::uint32_t pair = pairs.entry[cursor.buffer >> (64 - TPairTable::kBits)];
    if (pair == 0) return 0;
    const int first = k + TPairTable::Run1(pair);
    const int size1 = TPairTable::Size1(pair), used = TPairTable::Used(pair);
    const int second = first + 1 + TPairTable::Run2(pair);
    const bool ends = (pair & TPairTable::kEnds) != 0;
    if (ends ? first > 62 : second > 62) return 0;
    const int used1 = TPairTable::Length1(pair) + size1;
    store(first, static_cast<std::uint32_t>(cursor.buffer >> (64 - used1)) & ValueMask(size1),
          size1);
    if (!ends) {
        const int size2 = TPairTable::Size2(pair);
        store(second, static_cast<std::uint32_t>(cursor.buffer >> (64 - used)) & ValueMask(size2),
              size2);
    }
    cursor.buffer <<= used;
    cursor.bits -= used;
    k = (ends ? first : second) + 1;
    return ends ? 2 : 1;
}

// Each coefficient goes where the turn sends it, its bits inverted where the
// turn changes its sign (the coded form of -v is that of v inverted).
struct TCodedSink {
    TCodedBlock& block;
    const TShortcutTable& shortcuts;  // payload: the coded form
    const TPairTable& pairs;
    const TBlockScatter& turn;
    std::uint64_t mask = 0;

    void Begin() {}
    void Dc(std::int32_t value) { block.dc = static_cast<std::int16_t>(value); }
    void Put(int k, std::uint32_t bits, int size) {
        const int target = turn.Target[k];
        block.ac[target] =
            ((bits ^ (turn.Flip[k] >> (32 - size))) << 8) | static_cast<std::uint32_t>(size);
        mask |= std::uint64_t{1} << target;
    }
    void Store(int k, std::uint32_t value, int size) {
        const int target = turn.Target[k];
        block.ac[target] =
            ((value ^ (turn.Flip[k] & ValueMask(size))) << 8) | static_cast<std::uint32_t>(size);
        mask |= std::uint64_t{1} << target;
    }
    int Shortcut(TScanReader::TCursor& cursor, int& k) {
        if (const int taken =
                TakePair(pairs, cursor, k,
                         [this](int at, std::uint32_t value, int size) { Store(at, value, size); }))
            return taken;
        std::uint64_t found;
        const int taken = shortcuts.Take(cursor, k, true, found);
        if (taken != 1) return taken;
        const int target = turn.Target[k];
        block.ac[target] = static_cast<std::uint32_t>(TShortcutTable::Payload(found)) ^
                           ((TShortcutTable::ValueMask(found) << 8) & turn.Flip[k]);
        mask |= std::uint64_t{1} << target;
        ++k;
        return 1;
    }
    void Finish() { block.mask = mask; }
};

// One block coded as it was decoded: its DC value, and the bits of its AC
// coefficients and end of block as the output codes them (T.81 F.1.2.2),
// not yet stuffed.
struct TTranscodedBlock {
    std::int32_t dc;
    bool failed;  // a symbol without a code in the output's table
    TScanWriter::TBits bits;
    // At most 63 symbols of 31 bits, 3 ZRL and an end of block, and a word
    // written whole.
    std::array<std::uint8_t, 272> bytes;
};

// The payload of a shortcut for TTranscodeSink: the output's code and the
// value bits, and their number above them; 0 where the output has no code.
inline std::uint64_t TranscodedPayload(const THuffmanEncodeTable& output, int run, int size,
                                       std::uint32_t value) {
    const int symbol = (run << 4) | size;
    if (output.length[symbol] == 0) return 0;
    return ((std::uint64_t{output.code[symbol]} << size) | value) |
           (std::uint64_t(output.length[symbol] + size) << 26);
}

// Codes each AC coefficient as the decoder meets it, in the same position
// and with its bits inverted where the mode changes its sign.
struct TTranscodeSink {
    TTranscodedBlock& block;
    const THuffmanEncodeTable& table;
    const TShortcutTable& shortcuts;  // payload: TranscodedPayload
    const TPairTable& pairs;          // built with `table`
    const TBlockScatter& turn;
    TScanWriter::TBits bits{};
    int last = 0;
    bool failed = false;

    // A coefficient right after the last one coded (its run is the output's)
    // that does not end the block, or an end of block.
    int Shortcut(TScanReader::TCursor& cursor, int& k) {
        // Two symbols the output codes as the input does: their bits as they
        // are, the value bits inverted where the mode changes the sign; an
        // end of block is left to Finish.
        const std::uint32_t pair = pairs.entry[cursor.buffer >> (64 - TPairTable::kBits)];
        if ((pair & TPairTable::kCopies) && last == k - 1) {
            const int first = k + TPairTable::Run1(pair);
            const int size1 = TPairTable::Size1(pair), used = TPairTable::Used(pair);
            const int second = first + 1 + TPairTable::Run2(pair);
            const bool ends = (pair & TPairTable::kEnds) != 0;
            if (ends ? first <= 62 : second <= 62) {
                const int size2 = TPairTable::Size2(pair);
                const int tail = TPairTable::Length2(pair) + size2;  // the second's bits
                const std::uint64_t flips =
                    (std::uint64_t{turn.Flip[first] & ValueMask(size1)} << tail) |
                    (turn.Flip[second] & ValueMask(size2));
                const int coded = ends ? used - tail : used;
                PutBits(bits, ((cursor.buffer >> (64 - used)) ^ flips) >> (used - coded), coded);
                cursor.buffer <<= used;
                cursor.bits -= used;
                last = ends ? first : second;
                k = last + 1;
                return ends ? 2 : 1;
            }
        }
        std::uint64_t found;
        const int taken = shortcuts.Take(cursor, k, last == k - 1, found);
        if (taken != 1) return taken;
        const auto payload = TShortcutTable::Payload(found);
        PutBits(bits, (payload & 0x3FFFFFF) ^ (TShortcutTable::ValueMask(found) & turn.Flip[k]),
                static_cast<int>(payload >> 26));
        last = k++;
        return 1;
    }

    void Begin() { bits = {0, 64, block.bytes.data(), true}; }
    void Dc(std::int32_t value) { block.dc = static_cast<std::int16_t>(value); }
    void Put(int k, std::uint32_t valueBits, int size) {
        int run = k - last - 1;
        last = k;
        if (run > 15) [[unlikely]] {
            if (table.length[0xF0] == 0) failed = true;
            for (; run > 15; run -= 16) PutBits(bits, table.code[0xF0], table.length[0xF0]);
        }
        const int symbol = (run << 4) | size;
        const int length = table.length[symbol];
        if (length == 0) failed = true;
        PutBits(bits,
                (std::uint64_t{table.code[symbol]} << size) |
                    (valueBits ^ (turn.Flip[k] >> (32 - size))),
                length + size);
    }
    // After the block decoded: the end of block, unless position 63 was coded.
    void Finish() {
        if (last != 63) {
            if (table.length[0] == 0) failed = true;
            PutBits(bits, table.code[0], table.length[0]);
        }
        block.bits = bits;
        block.failed = failed;
    }
};

// Codes a block that TTranscodeSink coded already: its DC difference, then
// its AC bits. False when a table has no code for a symbol it needs.
inline bool CodeTranscoded(const TTranscodedBlock& block, std::int32_t& predictor,
                           const THuffmanEncodeTable& dc, TScanWriter::TBits& out) {
    if (!CodeDc(block.dc, predictor, dc, out) || block.failed) return false;
    // The whole words, then the bits pending in the accumulator.
    for (const std::uint8_t* p = block.bytes.data(); p < block.bits.out; p += 8) {
        const std::uint64_t word = LoadBigEndian64(p);
        PutBits(out, word >> 32, 32);
        PutBits(out, word & 0xFFFFFFFF, 32);
    }
    const int pending = 64 - block.bits.free;
    const std::uint64_t rest = block.bits.accumulator;
    if (pending > 32) {
        PutBits(out, (rest >> 32) & ((std::uint64_t{1} << (pending - 32)) - 1), pending - 32);
        PutBits(out, rest & 0xFFFFFFFF, 32);
    } else if (pending > 0) {
        PutBits(out, rest & ((std::uint64_t{1} << pending) - 1), pending);
    }
    return true;
}

}  // namespace plume
