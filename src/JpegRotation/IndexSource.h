// The source of output blocks that decodes each MCU from the scan as the
// output needs it: from the scan index, or, in the interval pass, from the
// start of its restart interval.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/BlockSinks.h"
#include "JpegRotation/McuCoder.h"
#include "JpegRotation/ScanIndex.h"

namespace plume {
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
    // Puts each interval's walk at its start.
    void StartWalks() {
        cursors.resize(intervals->starts.size());
        for (std::size_t i = 0; i < cursors.size(); ++i)
            cursors[i] = {std::uint64_t{intervals->starts[i]} << 3,
                          {},
                          static_cast<std::int64_t>(i) * intervals->length};
    }
    // Puts the walk of each interval i at MCU first[i] (or past its last),
    // skipping the MCUs before it with every check of decoding them but
    // without their coefficients; false when one does not decode cleanly.
    bool SkipTo(const std::vector<std::int64_t>& first) {
        StartWalks();
        bool marker = false;
        TScanReader from(reader->Data(), reader->Size(), 0, [&marker] { marker = true; });
        try {
            for (std::size_t i = 0; i < cursors.size(); ++i) {
                TCursor& cursor = cursors[i];
                if (cursor.next >= first[i]) continue;
                from.Seek(cursor.bit);
                for (; cursor.next < first[i]; ++cursor.next) {
                    for (int b = 0; b < plan->blockCount; ++b) {
                        const int s = plan->slot[b];
                        if (DecodeBlockInto<true, false>(from, *plan->dc[s], *plan->ac[s],
                                                         cursor.predictor[s],
                                                         TSkipSink{}) != TBlockStatus::Ok)
                            return false;
                    }
                    from.CheckEvents();
                    if (marker) return false;
                }
                cursor.bit = from.BitPosition();
            }
        } catch (const EStreamError&) {
            return false;  // bits past the end of the data
        }
        return true;
    }
    // Decodes MCU m, the next one of its interval, into blocks.
    void WalkTo(std::int64_t m) {
        if (cursors.empty()) StartWalks();
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
            return CodeTranscoded(block, predictor, dc, out);
        }
    }
};

// The decoding tables of an index source, made once for a pass and shared
// by the copies of the source that the threads use.
struct TSourceTables {
    std::unique_ptr<TShortcutTable[]> shortcuts = std::make_unique<TShortcutTable[]>(2);
    std::unique_ptr<TPairTable[]> pairs = std::make_unique<TPairTable[]>(2);
};

// Sets the output up (BeginOutput) and `source` with it, for the engine's
// mode and tables; returns the first progress position of the output rows.
template <class TBlock>
int TJpegRotation::PrepareIndexSource(TIndexSource<TBlock>& source, TSourceTables& tables) {
    TShortcutTable* shortcuts = tables.shortcuts.get();
    TPairTable* pairs = tables.pairs.get();
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
    return progressBase;
}

}  // namespace plume
