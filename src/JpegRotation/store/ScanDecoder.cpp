// The scan is walked in its own order (T.81 A.2: MCU by MCU when it
// interleaves components, block by block over the blocks that carry picture
// when it codes one), with the restart rule of the decoder; each kind of
// scan decodes one block at a time into the block's place in the store.
#include "JpegRotation/store/ScanDecoder.h"

#include <algorithm>
#include <bit>
#include <memory>

#include "BitStreamFile/InBitStreamFile.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/entropy/BlockDecoder.h"
#include "JpegRotation/scan/IndexPass.h"
#include "JpegRotation/store/BlockMagnitudes.h"
#include "JpegRotation/store/StoreSink.h"

namespace plume {

std::int64_t BlocksAcross(std::int32_t size, int factor, int largest) {
    const std::int64_t samples =
        (std::int64_t{size} * factor + largest - 1) / static_cast<std::int64_t>(largest);
    return (samples + 7) / 8;
}

TScanGrid ScanGridOf(const TFrame& frame, const TScanHeader& scan) {
    if (scan.Interleaved()) return {frame.McusPerRow(), frame.McuRows()};
    const TSlot& slot = frame.slot[scan.slot[0]];
    return {BlocksAcross(frame.width, slot.h, frame.maxH),
            BlocksAcross(frame.height, slot.v, frame.maxV)};
}

namespace {

// A coefficient of a block as the input codes it: read and written at the
// place and with the sign that the turn gives it in the store.
class TTurnedCoefficients {
  public:
    TTurnedCoefficients(TStoredComponent& component, const TBlockScatter& map)
        : component_(component), map_(map) {}
    std::int32_t Get(std::size_t block, int k) const {
        const auto flip = static_cast<std::int32_t>(map_.Flip[k]);
        return (component_.Ac(block, map_.Target[k]) ^ flip) - flip;
    }
    void Set(std::size_t block, int k, std::int32_t value) const {
        const auto flip = static_cast<std::int32_t>(map_.Flip[k]);
        component_.SetAc(block, map_.Target[k], (value ^ flip) - flip);
    }

  private:
    TStoredComponent& component_;
    const TBlockScatter& map_;
};

class TScanDecoder {
  public:
    // A whole scan, reported as it is decoded.
    TScanDecoder(const TScanInput& input, TCoefficientStore& store, TPassEvents& events,
                 TStoreProgress& progress)
        : input_(input),
          scan_(input.scan),
          events_(events),
          progress_(progress),
          reader_(input.data, input.size, input.start,
                  [&events] { events.Error(kMsgMarkerInScanData); }) {
        Prepare(store);
    }

  private:
    void Prepare(TCoefficientStore& store) {
        const TScanInput& input = input_;
        for (int i = 0; i < scan_.count; ++i) {
            const int s = scan_.slot[i];
            placement_[i] = PlacementOf(input.frame, s, input.turn);
            component_[i] = &store[s];
            coefficients_[i] = std::make_unique<TTurnedCoefficients>(store[s], *placement_[i].map);
            dc_[i].Build(input.tables[0][scan_.dcTable[i]]);
            ac_[i].Build(input.tables[1][scan_.acTable[i]]);
            if (input.frame.kind != TFrameKind::Progressive) {
                shortcuts_[i] = std::make_unique<TStoreShortcuts>();
                shortcuts_[i]->Build(*ac_[i].table);
            }
        }
    }

  public:
    bool Run(std::size_t& end) {
        const TScanGrid grid = ScanGridOf(input_.frame, scan_);
        const bool walked = Walk(0, grid.columns * grid.rows);
        if (!walked || events_.ErrorReported()) return false;
        end = reader_.BytePosition();
        return true;
    }

  private:
    // The decoding tables of one table record.
    struct TTable {
        std::unique_ptr<THuffmanDecodeTable> table = std::make_unique<THuffmanDecodeTable>();
        void Build(const THuffmanRecord& record) {
            table->Build(record.Count(), record.lengths.data(), record.symbols.data(),
                         record.codes.data());
        }
    };

    // Decodes MCUs [first, last) from where the reader and the predictors
    // stand; false after a report.
    bool Walk(std::int64_t first, std::int64_t last) {
        if (input_.frame.kind != TFrameKind::Progressive)
            return WalkWith(first, last, [this](int i, std::size_t block) {
                TStoreSink sink{*component_[i], block, *placement_[i].map, *shortcuts_[i]};
                return DecodeBlockInto<true, false>(reader_, *dc_[i].table, *ac_[i].table,
                                                    predictor_[i], sink);
            });
        if (scan_.DcBand() && scan_.Refinement())
            return WalkWith(first, last,
                            [this](int i, std::size_t block) { return DcRefinement(i, block); });
        if (scan_.DcBand())
            return WalkWith(first, last,
                            [this](int i, std::size_t block) { return DcFirst(i, block); });
        if (scan_.Refinement())
            return WalkWith(first, last,
                            [this](int, std::size_t block) { return AcRefinement(block); });
        return WalkWith(first, last, [this](int, std::size_t block) { return AcFirst(block); });
    }

    // The walk with one kind of block decoder.
    template <class TDecodeBlock>
    bool WalkWith(std::int64_t first, std::int64_t last, TDecodeBlock&& decodeBlock) {
        const TScanGrid grid = ScanGridOf(input_.frame, scan_);
        const std::int64_t total = grid.columns * grid.rows;
        const std::int32_t interval = scan_.restartInterval;
        restartCounter_ = interval > 0 ? static_cast<std::int32_t>(first % interval) : 0;
        for (std::int64_t mcu = first; mcu < last; ++mcu) {
            const std::int64_t row = mcu / grid.columns, column = mcu % grid.columns;
            if (column == 0) progress_.Read(reader_.BytePosition());
            TBlockStatus status = TBlockStatus::Ok;
            if (scan_.Interleaved()) {
                for (int i = 0; i < scan_.count && status == TBlockStatus::Ok; ++i) {
                    const TSlot& slot = input_.frame.slot[scan_.slot[i]];
                    for (int y = 0; y < slot.v && status == TBlockStatus::Ok; ++y)
                        for (int x = 0; x < slot.h && status == TBlockStatus::Ok; ++x)
                            status = decodeBlock(
                                i, placement_[i].At(column * slot.h + x, row * slot.v + y));
                }
            } else {
                status = decodeBlock(0, placement_[0].At(column, row));
            }
            // The markers the MCU's bits passed are reported first.
            reader_.CheckEvents();
            if (status != TBlockStatus::Ok) {
                events_.Error(BlockStatusMessage(status));
                return false;
            }
            if (mcu != total - 1) RestartIfDue();
        }
        return true;
    }

    // After an MCU that a restart marker follows: the predictors and the
    // end-of-band run start again (T.81 F.2.2.5, G.2); the two bytes where
    // the marker is due are taken.
    void RestartIfDue() {
        const std::int32_t interval = scan_.restartInterval;
        if (interval <= 0 || ++restartCounter_ != interval) return;
        restartCounter_ = 0;
        std::fill(std::begin(predictor_), std::end(predictor_), 0);
        endOfBands_ = 0;
        const std::size_t position = reader_.BytePosition();
        if (position + 2 > reader_.Size()) throw EStreamError(kStreamReadError);
        reader_.Restart(position + 2);
    }

    // T.81 G.1.2.1: the DC difference of the value shifted right by Al, coded
    // as in a sequential scan.
    TBlockStatus DcFirst(int i, std::size_t block) {
        const int size = reader_.Decode(*dc_[i].table);
        if (size < 0) return TBlockStatus::BadCode;
        if (size > kMaxDcSize) return TBlockStatus::DcSize;
        predictor_[i] += Extend(reader_.Take(size), size);
        const std::int32_t value = predictor_[i] * (1 << scan_.al);
        if (value < -32768 || value > 32767) return TBlockStatus::DcValue;
        component_[i]->dc[block] = static_cast<std::int16_t>(value);
        return TBlockStatus::Ok;
    }

    // T.81 G.1.2.1: the next bit of the value, as it is.
    TBlockStatus DcRefinement(int i, std::size_t block) {
        if (reader_.Take(1) != 0)
            component_[i]->dc[block] =
                static_cast<std::int16_t>(component_[i]->dc[block] | (1 << scan_.al));
        return TBlockStatus::Ok;
    }

    // T.81 G.1.2.2: run and size of each coefficient of the band, shifted
    // right by Al, and runs of blocks whose band is all zero (EOBn: 2^n
    // blocks and n more bits).
    TBlockStatus AcFirst(std::size_t block) {
        if (endOfBands_ > 0) {
            --endOfBands_;
            return TBlockStatus::Ok;
        }
        const TTurnedCoefficients& coefficients = *coefficients_[0];
        const THuffmanDecodeTable& table = *ac_[0].table;
        for (int k = scan_.ss; k <= scan_.se;) {
            const int symbol = reader_.Decode(table);
            if (symbol < 0) return TBlockStatus::BadCode;
            const int run = symbol >> 4, size = symbol & 15;
            if (size == 0) {
                if (run == 15) {  // sixteen zeros
                    k += 16;
                    if (k > scan_.se + 1) return TBlockStatus::RunPastBand;
                    continue;
                }
                endOfBands_ = (1 << run) - 1 + static_cast<std::int32_t>(reader_.Take(run));
                return TBlockStatus::Ok;
            }
            k += run;
            if (k > scan_.se) return TBlockStatus::RunPastBand;
            const std::int32_t value = Extend(reader_.Take(size), size) * (1 << scan_.al);
            if (value < -kMaxCoefficient || value > kMaxCoefficient) return TBlockStatus::AcValue;
            coefficients.Set(block, k++, value);
        }
        return TBlockStatus::Ok;
    }

    // A correction bit of a coefficient that earlier scans made nonzero: 1
    // adds 2^Al to its magnitude (T.81 G.1.2.3).
    TBlockStatus Correct(std::size_t block, int k, std::int32_t value) {
        if (reader_.Take(1) == 0 || (value & (1 << scan_.al)) != 0) return TBlockStatus::Ok;
        value += value >= 0 ? 1 << scan_.al : -(1 << scan_.al);
        if (value < -kMaxCoefficient || value > kMaxCoefficient) return TBlockStatus::AcValue;
        coefficients_[0]->Set(block, k, value);
        return TBlockStatus::Ok;
    }

    // The block's nonzero coefficients, as positions of the input's order.
    std::uint64_t InputNonZero(std::size_t block) const {
        const std::uint64_t stored = NonZeroMask(component_[0]->ac + block * 64);
        return placement_[0].map->Target[1] == 1 ? stored : TransposedMask(stored);
    }

    // T.81 G.1.2.3: each coefficient that becomes nonzero comes with the run
    // of coefficients still zero before it and its sign; the coefficients
    // already nonzero that it passes, and those of blocks within an
    // end-of-band run, each take a correction bit. The nonzero ones are
    // found by their mask, the runs of zeros between them counted at once.
    TBlockStatus AcRefinement(std::size_t block) {
        const TTurnedCoefficients& coefficients = *coefficients_[0];
        const THuffmanDecodeTable& table = *ac_[0].table;
        const std::int32_t bit = 1 << scan_.al;
        const int se = scan_.se;
        const std::uint64_t nonZero = InputNonZero(block) & BandMask(scan_.ss, se);
        // The first nonzero coefficient at or after k, or se + 1.
        const auto nextNonZero = [nonZero, se](int k) {
            const std::uint64_t rest = k > 63 ? 0 : nonZero >> k;
            return rest != 0 ? k + std::countr_zero(rest) : se + 1;
        };
        int k = scan_.ss;
        while (endOfBands_ == 0 && k <= se) {
            const int symbol = reader_.Decode(table);
            if (symbol < 0) return TBlockStatus::BadCode;
            int run = symbol >> 4;
            const int size = symbol & 15;
            std::int32_t value = 0;
            if (size == 1) {
                value = reader_.Take(1) != 0 ? bit : -bit;
            } else if (size != 0) {
                return TBlockStatus::BadCode;  // a new coefficient is 1 or -1 at Al
            } else if (run != 15) {
                endOfBands_ = (1 << run) + static_cast<std::int32_t>(reader_.Take(run));
                break;
            }
            // Past the nonzero ones and `run` zero ones, to the zero one that
            // the symbol places (or, for sixteen zeros, the sixteenth).
            for (;;) {
                const int next = nextNonZero(k);
                if (next - k > run) {
                    k += run;
                    break;
                }
                run -= next - k;
                k = next;
                if (k > se) return TBlockStatus::RunPastBand;
                const TBlockStatus status = Correct(block, k, coefficients.Get(block, k));
                if (status != TBlockStatus::Ok) return status;
                ++k;
            }
            if (value != 0) coefficients.Set(block, k, value);
            ++k;
        }
        if (endOfBands_ > 0) {
            for (std::uint64_t rest = k > 63 ? 0 : nonZero >> k << k; rest != 0; rest &= rest - 1) {
                const int at = std::countr_zero(rest);
                const TBlockStatus status = Correct(block, at, coefficients.Get(block, at));
                if (status != TBlockStatus::Ok) return status;
            }
            --endOfBands_;
        }
        return TBlockStatus::Ok;
    }

    const TScanInput& input_;
    const TScanHeader& scan_;
    TPassEvents& events_;
    TStoreProgress& progress_;
    TScanReader reader_;
    TBlockPlacement placement_[kSlots];
    TStoredComponent* component_[kSlots] = {};
    std::unique_ptr<TTurnedCoefficients> coefficients_[kSlots];
    TTable dc_[kSlots], ac_[kSlots];
    std::unique_ptr<TStoreShortcuts> shortcuts_[kSlots];  // of a sequential scan
    std::int32_t predictor_[kSlots] = {};
    std::int32_t endOfBands_ = 0;  // blocks left of an end-of-band run
    std::int32_t restartCounter_ = 0;
};

}  // namespace

bool DecodeScan(const TScanInput& input, TCoefficientStore& store, TPassEvents& events,
                TStoreProgress& progress, std::size_t& end) {
    return TScanDecoder(input, store, events, progress).Run(end);
}

}  // namespace plume
