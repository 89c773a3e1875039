// The sources of output blocks that decode each input MCU as the output
// needs it, each block turned as it is decoded and placed where the output
// MCU has it: as coded forms (TCodedBlock) when the turn reorders the
// coefficients, else already coded (TTranscodedBlock). The output coder
// (OutputCoder.h) asks a source to Load an output MCU and then to Code
// each of its blocks.
#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include "JpegRotation/entropy/BlockSinks.h"
#include "JpegRotation/frame/BlockTables.h"
#include "JpegRotation/scan/McuPlan.h"
#include "JpegRotation/scan/ScanJob.h"

namespace plume {

// The decoding tables that a block sink adds to the pass's: for each AC
// table its shortcuts and pairs, as TBlock's sink wants them. Made once for
// a pass and shared by its threads.
template <class TBlock>
struct TSinkTables {
    TShortcutTable shortcuts[2];
    TPairTable pairs[2];

    explicit TSinkTables(const TCodingTables& tables) {
        constexpr bool kCodes = std::is_same_v<TBlock, TTranscodedBlock>;
        for (int t = 0; t < 2; ++t) {
            const THuffmanDecodeTable& input = tables.decode[1][t];
            pairs[t].Build(input, kCodes ? &tables.encode[1][t] : nullptr);
            if constexpr (kCodes) {
                const THuffmanEncodeTable& output = tables.encode[1][t];
                shortcuts[t].Build(input, [&output](int run, int size, std::uint32_t value) {
                    return TranscodedPayload(output, run, size, value);
                });
            } else {
                shortcuts[t].Build(input, [](int, int size, std::uint32_t value) {
                    return (std::uint64_t{value} << 8) | static_cast<std::uint64_t>(size);
                });
            }
        }
    }
};

// The blocks of a turn's output: coded forms where the turn moves the
// coefficients within the blocks, else blocks coded as they are decoded.
template <class TBlock>
bool BlocksFitTurn(TTurn turn) {
    return BlockMap(turn).Moves == std::is_same_v<TBlock, TCodedBlock>;
}

// Decodes one input MCU into the blocks of its output MCU.
template <class TBlock>
class TTurnedMcuDecoder {
  public:
    TTurnedMcuDecoder(const TScanJob& job, const TMcuPlan& plan, const TMcuLayout& layout,
                      const TSinkTables<TBlock>& sinks)
        : plan_(&plan), layout_(&layout), scatter_(&BlockScatter(job.turn)) {
        for (int s = 0; s < kSlots; ++s) {
            const int table = job.frame.slot[s].acTable;
            acTable_[s] = &job.tables.encode[1][table];
            shortcuts_[s] = &sinks.shortcuts[table];
            pairs_[s] = &sinks.pairs[table];
        }
    }

    const TMcuPlan& Plan() const { return *plan_; }
    const TMcuLayout& Layout() const { return *layout_; }

    // Decodes the MCU at the reader into `into`, each block where the output
    // MCU has it; false when a block does not decode. Every block is written
    // either way, so that coding them stays safe. kCheckDcValue refuses a DC
    // value outside 16 bits.
    template <bool kCheckDcValue>
    bool Decode(TScanReader& from, std::int32_t (&predictor)[kSlots], TBlock* into) const {
        bool ok = true;
        for (int b = 0; b < plan_->blockCount; ++b) {
            const int s = plan_->slot[b];
            TBlock& block = into[layout_->target[b]];
            TBlockStatus status;
            if constexpr (std::is_same_v<TBlock, TCodedBlock>) {
                TCodedSink sink{block, *shortcuts_[s], *pairs_[s], *scatter_};
                status = DecodeBlockInto<kCheckDcValue, false>(from, *plan_->dc[s], *plan_->ac[s],
                                                               predictor[s], sink);
                sink.Finish();
            } else {
                TTranscodeSink sink{block, *acTable_[s], *shortcuts_[s], *pairs_[s], *scatter_};
                status = DecodeBlockInto<kCheckDcValue, false>(from, *plan_->dc[s], *plan_->ac[s],
                                                               predictor[s], sink);
                sink.Finish();
            }
            if (status != TBlockStatus::Ok) ok = false;
        }
        return ok;
    }

  private:
    const TMcuPlan* plan_;
    const TMcuLayout* layout_;
    const TBlockScatter* scatter_;
    const THuffmanEncodeTable* acTable_[kSlots];  // the output's, for TTranscodedBlock
    const TShortcutTable* shortcuts_[kSlots];
    const TPairTable* pairs_[kSlots];
};

// What every source gives the output coder: the blocks of the output MCU
// loaded last, which TSource::Mcu() holds, turned and ready to code.
template <class TSource, class TBlock>
class TOutputBlocks {
  public:
    bool failed = false;  // a block could not be had

    std::int32_t Dc(int s, std::size_t x, std::size_t y) const { return At(s, x, y).dc; }
    // Block (x, y) of slot s of the output, inside the output MCU loaded.
    const TBlock& At(int s, std::size_t x, std::size_t y) const {
        const int h = layout_->h[s], v = layout_->v[s];
        const auto dx =
            static_cast<int>(x - static_cast<std::size_t>(column_) * static_cast<std::size_t>(h));
        const auto dy =
            static_cast<int>(y - static_cast<std::size_t>(row_) * static_cast<std::size_t>(v));
        return static_cast<const TSource*>(this)->Mcu()[layout_->offset[s] + dy * h + dx];
    }
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

  protected:
    explicit TOutputBlocks(const TMcuLayout& layout) : layout_(&layout) {}
    void Place(int row, int column) {
        row_ = row;
        column_ = column;
    }

  private:
    const TMcuLayout* layout_;
    int row_ = 0, column_ = 0;
};

// Each output MCU decoded again from the scan index into a buffer of one MCU.
template <class TBlock>
class TIndexSource : public TOutputBlocks<TIndexSource<TBlock>, TBlock> {
  public:
    TIndexSource(const TScanJob& job, const TTurnedMcuDecoder<TBlock>& decoder,
                 const std::vector<TMcuStart>& index)
        : TOutputBlocks<TIndexSource<TBlock>, TBlock>(decoder.Layout()),
          job_(&job),
          decoder_(&decoder),
          index_(index.data()),
          reader_(job.data, job.size, 0, nullptr) {}

    void Load(int row, int column) {
        this->Place(row, column);
        // The input MCU that the inverse turn carries to this one.
        const TOutputGeometry& output = job_->output;
        const TGridPoint input =
            Turned(Inverse(job_->turn), column, row, output.gridPerRow, output.gridRows);
        const std::int64_t m = input.y * job_->frame.McusPerRow() + input.x;
        const TMcuStart& start = index_[m];
        if (m != next_) reader_.Seek(start.bit);
        FetchAhead(m);
        std::int32_t predictor[kSlots] = {start.predictor[0], start.predictor[1],
                                          start.predictor[2], start.predictor[3]};
        if (!decoder_->template Decode<false>(reader_, predictor, blocks_)) this->failed = true;
        const std::int32_t interval = decoder_->Plan().restartInterval;
        const bool marker = interval > 0 && (m + 1) % interval == 0;
        next_ = marker ? -1 : m + 1;
    }
    const TBlock* Mcu() const { return blocks_; }

  private:
    // A turn walks the input MCUs in steps of the same size (a whole row of
    // them in a quarter turn), which the caches do not foresee: the index
    // entry two steps ahead and the scan data one step ahead are asked for
    // now, so that they are there when their turn comes.
    void FetchAhead(std::int64_t m) {
        const std::int64_t step = m - last_;
        last_ = m;
        const std::int64_t total = job_->output.gridPerRow * job_->output.gridRows;
        if (step == 1) return;  // in order: the caches see to it
        if (m + 2 * step >= 0 && m + 2 * step < total) __builtin_prefetch(&index_[m + 2 * step]);
        if (m + step >= 0 && m + step < total) {
            const std::uint8_t* data = job_->data + (index_[m + step].bit >> 3);
            __builtin_prefetch(data);
            __builtin_prefetch(data + 64);
        }
    }

    const TScanJob* job_;
    const TTurnedMcuDecoder<TBlock>* decoder_;
    const TMcuStart* index_;
    TScanReader reader_;
    std::int64_t next_ = -1;  // the input MCU at which the reader stands
    std::int64_t last_ = 0;   // the input MCU loaded before
    TBlock blocks_[TMcuPlan::kMaxBlocks];
};

}  // namespace plume
