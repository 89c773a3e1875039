// The rotate-and-write pass without a coefficient store, second half: each
// output MCU is decoded again from the scan index, turned and coded straight
// away, the parts of the output on threads of their own. The bytes are
// those of decoding into the store and coding from it.
//
// A quarter turn or a diagonal mirror changes the order of the coefficients
// in every block, so each block is decoded into its coded form in the new
// order and then coded. The other modes keep that order and only change
// signs: each block is coded as it is decoded, symbol by symbol, into bits
// of its own that are put in the output in the order the output MCU wants.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/BlockDecoder.h"
#include "JpegRotation/McuCoder.h"
#include "JpegRotation/ScanIndex.h"

namespace plume {
namespace {

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
        if (const std::uint32_t pair = pairs.entry[cursor.buffer >> (64 - TPairTable::kBits)]) {
            const int first = k + TPairTable::Run1(pair);
            const int size1 = TPairTable::Size1(pair), used = TPairTable::Used(pair);
            const int second = first + 1 + TPairTable::Run2(pair);
            const bool ends = (pair & TPairTable::kEnds) != 0;
            if (ends ? first <= 62 : second <= 62) {
                const int used1 = TPairTable::Length1(pair) + size1;
                Store(first,
                      static_cast<std::uint32_t>(cursor.buffer >> (64 - used1)) & ValueMask(size1),
                      size1);
                if (!ends) {
                    const int size2 = TPairTable::Size2(pair);
                    Store(
                        second,
                        static_cast<std::uint32_t>(cursor.buffer >> (64 - used)) & ValueMask(size2),
                        size2);
                }
                cursor.buffer <<= used;
                cursor.bits -= used;
                k = (ends ? first : second) + 1;
                return ends ? 2 : 1;
            }
        }
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
std::uint64_t TranscodedPayload(const THuffmanEncodeTable& output, int run, int size,
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

inline std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

}  // namespace

// Each output MCU decoded again from the index into a small buffer, its
// blocks placed where the output MCU has them: as coded forms
// (TCodedBlock) or already coded (TTranscodedBlock).
//
// In the interval pass (intervals set) there is no index. Either the
// restart interval that holds an output MCU's input MCU is decoded whole,
// with every check, the first time it is needed, and its MCUs are kept until
// the output moves on to another interval; or, where the output needs each
// interval's MCUs in their order (a walk), each interval is decoded on from
// where it stopped. Any trouble marks the source failed.
template <class TBlock>
struct TJpegRotation::TIndexSource : TOutputLayout {
    const TBlockScatter* scatter;
    const TMcuStart* index;
    const TMcuPlan* plan;
    const THuffmanEncodeTable* acTable[4];  // the output's, for TTranscodedBlock
    const TShortcutTable* shortcuts[4];     // for the AC tables, as TBlock's sink wants them
    const TPairTable* pairs[4];             // the same
    std::optional<TScanReader> reader;
    std::uint8_t target[TMcuPlan::kMaxBlocks];  // buffer place of each block in decoding order
    int offset[4], hSampling[4], vSampling[4];  // output sampling
    std::int64_t inputPerRow, outputPerRow, outputRows;
    std::uint8_t inverseMode;  // the turn from output MCUs back to input ones
    std::int64_t next = -1;    // the input MCU at which the reader stands
    std::int64_t last = 0;     // the input MCU loaded before
    int row = 0, column = 0;   // the output MCU loaded
    TBlock blocks[TMcuPlan::kMaxBlocks];
    // The interval pass.
    const TIntervalPlan* intervals = nullptr;
    std::vector<TBlock> held;        // the MCUs of the interval decoded last
    std::int64_t heldInterval = -1;  // which one
    std::size_t heldFirst = 0;       // the loaded MCU's first block in held
    // A walk's place in each interval: where its next MCU starts.
    struct TCursor {
        std::uint64_t bit;
        std::int32_t predictor[4];
        std::int64_t next;
    };
    std::vector<TCursor> cursors;
    bool markerMet = false;  // by the reader, in a walk

    void Load(int outputRow, int col) {
        row = outputRow;
        column = col;
        // The input MCU that the inverse turn carries to this one.
        const TGridPoint input = Turned(inverseMode, col, outputRow, outputPerRow, outputRows);
        const std::int64_t m = input.y * inputPerRow + input.x;
        if (intervals != nullptr && intervals->walk) {
            WalkTo(m);
            return;
        }
        if (intervals != nullptr) {
            const std::int64_t interval = m / intervals->length;
            if (interval != heldInterval) DecodeInterval(interval);
            heldFirst = static_cast<std::size_t>(m - interval * intervals->length) *
                        static_cast<std::size_t>(plan->blockCount);
            return;
        }
        const TMcuStart& start = index[m];
        if (m != next) reader->Seek(start.bit);
        FetchAhead(m);
        std::int32_t predictor[4] = {start.predictor[0], start.predictor[1], start.predictor[2],
                                     start.predictor[3]};
        if (!DecodeMcu<false>(*reader, predictor, blocks)) failed = true;
        const bool marker = plan->restartInterval > 0 && (m + 1) % plan->restartInterval == 0;
        next = marker ? -1 : m + 1;
    }
    // Decodes the MCU at the reader into `into`, each block where the output
    // MCU has it; false when a block does not decode. Every block is written
    // either way, so that coding them stays safe.
    template <bool kCheckDcValue>
    bool DecodeMcu(TScanReader& from, std::int32_t (&predictor)[4], TBlock* into) {
        bool ok = true;
        for (int b = 0; b < plan->blockCount; ++b) {
            const int s = plan->slot[b];
            TBlock& block = into[target[b]];
            TBlockStatus status;
            if constexpr (std::is_same_v<TBlock, TCodedBlock>) {
                TCodedSink sink{block, *shortcuts[s], *pairs[s], *scatter};
                status = DecodeBlockInto<kCheckDcValue, false>(from, *plan->dc[s], *plan->ac[s],
                                                               predictor[s], sink);
                sink.Finish();
            } else {
                TTranscodeSink sink{block, *acTable[s], *shortcuts[s], *pairs[s], *scatter};
                status = DecodeBlockInto<kCheckDcValue, false>(from, *plan->dc[s], *plan->ac[s],
                                                               predictor[s], sink);
                sink.Finish();
            }
            if (status != TBlockStatus::Ok) ok = false;
        }
        return ok;
    }
    // Decodes input restart interval `interval` into held as the index pass
    // would decode it: a marker or the end of the data met inside it, or an
    // end anywhere but right before the marker found for it, marks the
    // source failed.
    void DecodeInterval(std::int64_t interval) {
        heldInterval = interval;
        const std::int64_t first = interval * intervals->length;
        const std::int64_t count = std::min(intervals->length, intervals->mcus - first);
        const auto blockCount = static_cast<std::size_t>(plan->blockCount);
        held.resize(static_cast<std::size_t>(count) * blockCount);
        bool marker = false;
        TScanReader from(reader->Data(), reader->Size(),
                         intervals->starts[static_cast<std::size_t>(interval)],
                         [&marker] { marker = true; });
        std::int32_t predictor[4] = {};
        try {
            for (std::int64_t i = 0; i < count; ++i) {
                if (!DecodeMcu<true>(from, predictor,
                                     held.data() + static_cast<std::size_t>(i) * blockCount)) {
                    failed = true;
                    return;
                }
                from.CheckEvents();
                if (marker) {
                    failed = true;
                    return;
                }
            }
        } catch (const EStreamError&) {
            failed = true;  // bits past the end of the data
            return;
        }
        EndInterval(interval, from.BytePosition());
    }
    // Decodes MCU m, the next one of its interval, into blocks.
    void WalkTo(std::int64_t m) {
        if (cursors.empty()) {
            cursors.resize(intervals->starts.size());
            for (std::size_t i = 0; i < cursors.size(); ++i)
                cursors[i] = {std::uint64_t{intervals->starts[i]} << 3,
                              {},
                              static_cast<std::int64_t>(i) * intervals->length};
        }
        const std::int64_t interval = m / intervals->length;
        TCursor& cursor = cursors[static_cast<std::size_t>(interval)];
        if (cursor.next != m) {  // the walk's order rules this out
            failed = true;
            return;
        }
        reader->Seek(cursor.bit);
        markerMet = false;
        if (!DecodeMcu<true>(*reader, cursor.predictor, blocks)) failed = true;
        try {
            reader->CheckEvents();
        } catch (const EStreamError&) {
            failed = true;  // bits past the end of the data
        }
        if (markerMet) failed = true;
        cursor.bit = reader->BitPosition();
        if (++cursor.next == std::min(intervals->mcus, (interval + 1) * intervals->length))
            EndInterval(interval, reader->BytePosition());
    }
    // An interval decoded to its last MCU must end right before the marker
    // found for the next one; the last interval's end is the scan's.
    void EndInterval(std::int64_t interval, std::size_t end) {
        const auto next = static_cast<std::size_t>(interval) + 1;
        if (next < intervals->starts.size()) {
            if (end + 2 != intervals->starts[next]) failed = true;
        } else {
            *intervals->scanEnd = end;  // one thread alone codes the last interval
        }
    }
    // A turn walks the input MCUs in steps of the same size (a whole row of
    // them in a quarter turn), which the caches do not foresee: the index
    // entry two steps ahead and the scan data one step ahead are asked for
    // now, so that they are there when their turn comes.
    void FetchAhead(std::int64_t m) {
        const std::int64_t step = m - last;
        last = m;
        const std::int64_t total = outputPerRow * outputRows;
        if (step == 1) return;  // in order: the caches see to it
        if (m + 2 * step >= 0 && m + 2 * step < total) __builtin_prefetch(&index[m + 2 * step]);
        if (m + step >= 0 && m + step < total) {
            const std::uint8_t* data = reader->Data() + (index[m + step].bit >> 3);
            __builtin_prefetch(data);
            __builtin_prefetch(data + 64);
        }
    }
    const TBlock& At(int s, std::size_t x, std::size_t y) const {
        const auto h = static_cast<int>(x - static_cast<std::size_t>(column) *
                                                static_cast<std::size_t>(hSampling[s]));
        const auto v = static_cast<int>(y - static_cast<std::size_t>(row) *
                                                static_cast<std::size_t>(vSampling[s]));
        const TBlock* mcu =
            intervals != nullptr && !intervals->walk ? held.data() + heldFirst : blocks;
        return mcu[offset[s] + v * hSampling[s] + h];
    }
    std::int32_t Dc(int s, std::size_t x, std::size_t y) const { return At(s, x, y).dc; }
    bool Code(int s, std::size_t x, std::size_t y, std::int32_t& predictor,
              const THuffmanEncodeTable& dc, const THuffmanEncodeTable& ac,
              TScanWriter::TBits& out) const {
        const TBlock& block = At(s, x, y);
        if constexpr (std::is_same_v<TBlock, TCodedBlock>) {
            return CodeBlock(block, predictor, dc, ac, out);
        } else {
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
                PutBits(out, (rest >> 32) & ((std::uint64_t{1} << (pending - 32)) - 1),
                        pending - 32);
                PutBits(out, rest & 0xFFFFFFFF, 32);
            } else if (pending > 0) {
                PutBits(out, rest & ((std::uint64_t{1} << pending) - 1), pending);
            }
            return true;
        }
    }
};

template <class TBlock>
bool TJpegRotation::EncodeFromIndexAs(const TIntervalPlan* intervals) {
    TIndexSource<TBlock> source;
    auto shortcuts = std::make_unique<TShortcutTable[]>(2);
    auto pairs = std::make_unique<TPairTable[]>(2);
    for (int t = 0; t < 2; ++t) {
        constexpr bool kCodes = std::is_same_v<TBlock, TTranscodedBlock>;
        pairs[t].Build(decodeTables_[1][t], kCodes ? &encodeTables_[1][t] : nullptr);
        if constexpr (std::is_same_v<TBlock, TCodedBlock>) {
            shortcuts[t].Build(decodeTables_[1][t], [](int, int size, std::uint32_t value) {
                return (std::uint64_t{value} << 8) | static_cast<std::uint64_t>(size);
            });
        } else {
            const THuffmanEncodeTable& output = encodeTables_[1][t];
            shortcuts[t].Build(decodeTables_[1][t],
                               [&output](int run, int size, std::uint32_t value) {
                                   return TranscodedPayload(output, run, size, value);
                               });
        }
    }
    for (int s = 0; s < 4; ++s) {
        source.shortcuts[s] = &shortcuts[AcSelector[s]];
        source.pairs[s] = &pairs[AcSelector[s]];
    }
    const int progressBase = BeginOutput(source);
    const bool exchanged = ExchangesDimensions(Mode);
    source.index = scanIndex_.data();
    source.plan = &indexPlan_;
    source.inverseMode = InverseMode(Mode);
    source.intervals = intervals;
    source.scatter = &kModeBlockScatters[Mode < kModeCount ? Mode : std::uint8_t{kModeNone}];
    source.inputPerRow = exchanged ? McuRows : McusPerRow;
    source.outputPerRow = McusPerRow;
    source.outputRows = McuRows;
    int offset = 0, b = 0;
    for (int s = 0; s < 4; ++s) {
        source.acTable[s] = &encodeTables_[1][AcSelector[s]];
        const int h = HSampling[s], v = VSampling[s];  // output sampling
        source.offset[s] = offset;
        source.hSampling[s] = std::max(h, 1);
        source.vSampling[s] = std::max(v, 1);
        // Input block (row r, column c) of the MCU, in decoding order.
        const int inputH = exchanged ? v : h, inputV = exchanged ? h : v;
        for (int r = 0; r < inputV; ++r)
            for (int c = 0; c < inputH; ++c) {
                const TGridPoint local = Turned(Mode, c, r, inputH, inputV);
                source.target[b++] = static_cast<std::uint8_t>(offset + local.y * h + local.x);
            }
        offset += h * v;
    }
    const TMemoryStream& in = InBits->Stream();
    // Only a walk asks the reader for its events, on this thread alone.
    source.reader.emplace(in.Memory(), in.Size(), 0, [met = &source.markerMet] { *met = true; });
    const bool ok = EncodeOutput(source, progressBase);
    if (source.failed) {
        // The index is made from bits that decoded cleanly: not expected.
        // The interval pass hands over to the index pass without a word.
        if (intervals == nullptr) ReportError(kMsgHuffmanBlock);
        return false;
    }
    return ok;
}

bool TJpegRotation::EncodeFromIndex(const TIntervalPlan* intervals) {
    if (kModeBlockMaps[Mode < kModeCount ? Mode : std::uint8_t{kModeNone}].Moves)
        return EncodeFromIndexAs<TCodedBlock>(intervals);
    return EncodeFromIndexAs<TTranscodedBlock>(intervals);
}

}  // namespace plume
