// The walk over an output scan's blocks turns each block into symbols and
// bits; an emitter counts them or codes them, so that the tables made from
// the counts have a code for every symbol the coding needs.
#include "JpegRotation/store/ScanEncoder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "JpegRotation/store/BlockMagnitudes.h"
#include "JpegRotation/store/ScanDecoder.h"

namespace plume {

std::int64_t TStoreOutput::ScanColumns(const TScanHeader& scan) const {
    if (scan.Interleaved()) return geometry.mcusPerRow;
    return BlocksAcross(width, geometry.h[scan.slot[0]], maxH);
}

std::int64_t TStoreOutput::ScanRows(const TScanHeader& scan) const {
    if (scan.Interleaved()) return geometry.mcuRows;
    return BlocksAcross(height, geometry.v[scan.slot[0]], maxV);
}

std::uint64_t TStoreOutput::ScanBlocks(const TScanHeader& scan) const {
    std::uint64_t perMcu = 1;
    if (scan.Interleaved()) {
        perMcu = 0;
        for (int i = 0; i < scan.count; ++i)
            perMcu +=
                static_cast<std::uint64_t>(geometry.h[scan.slot[i]] * geometry.v[scan.slot[i]]);
    }
    return static_cast<std::uint64_t>(ScanColumns(scan) * ScanRows(scan)) * perMcu;
}

namespace {

constexpr int kMaxDcDifferenceSize = 11;         // T.81 F.1.2.1, 8-bit samples
constexpr int kMaxAcSize = 10;                   // T.81 F.1.2.2
constexpr std::int32_t kMaxEndOfBands = 0x7FFF;  // EOB14 with 14 more bits (T.81 G.1.2.2)

int SizeOf(std::uint32_t magnitude) {
    return std::bit_width(magnitude);
}

// The low `size` bits that code a value of that size category: a negative
// value as its one's complement (T.81 F.1.2.1).
std::uint32_t ValueBits(std::int32_t value, int size) {
    const std::uint32_t bits = static_cast<std::uint32_t>(value < 0 ? value - 1 : value);
    return bits & ((std::uint32_t{1} << size) - 1);
}

// Counts symbols; bits are not kept.
struct TCountEmit {
    static constexpr bool kBits = false;
    TSymbolCounts& counts;
    const int (&dcTable)[kSlots];
    const int (&acTable)[kSlots];
    void Dc(int i, int symbol, std::uint32_t) { ++counts.dc[dcTable[i]][symbol]; }
    void Ac(int i, int symbol, std::uint32_t, int) { ++counts.ac[acTable[i]][symbol]; }
    void Bits(std::uint32_t, int) {}
    void Restart(int) {}
};

// Codes symbols and bits into a scan writer: each symbol's code and the
// value bits after it in one put.
struct TCodeEmit {
    static constexpr bool kBits = true;
    TScanWriter& writer;
    const THuffmanEncodeTable* dc[kSlots];
    const THuffmanEncodeTable* ac[kSlots];
    bool missing = false;
    void Code(const THuffmanEncodeTable& table, int symbol, std::uint32_t bits, int size) {
        const std::uint32_t entry = table.entry[symbol];
        if (entry == 0) {
            missing = true;
            return;
        }
        writer.Put((std::uint64_t{entry >> 8} << size) | bits,
                   static_cast<int>(entry & 0xFF) + size);
    }
    void Dc(int i, int size, std::uint32_t bits) { Code(*dc[i], size, bits, size); }
    void Ac(int i, int symbol, std::uint32_t bits, int size) { Code(*ac[i], symbol, bits, size); }
    void Bits(std::uint32_t bits, int count) {
        if (count > 0) writer.Put(bits, count);
    }
    void Restart(int number) {
        writer.FlushWithPadding();
        writer.PutMarker(static_cast<std::uint16_t>(0xFFD0 + number));
    }
};

template <class TEmit>
class TScanWalk {
  public:
    TScanWalk(const TStoreOutput& output, const TScanHeader& scan, TEmit& emit)
        : output_(output), scan_(scan), emit_(emit) {}

    // The MCUs of `part`, from the state the scan has after the MCUs before
    // it: each component's DC predictor is the value of its last block
    // there, or 0 after a restart marker.
    TScanCoding Run(const TScanPart& part) {
        const TOutputGeometry& geometry = output_.geometry;
        const std::int64_t columns = output_.ScanColumns(scan_);
        const std::int64_t total = columns * output_.ScanRows(scan_);
        const std::int32_t interval = scan_.restartInterval;
        int restartNumber = interval > 0 ? static_cast<int>((part.first / interval) & 7) : 0;
        std::int32_t sinceRestart =
            interval > 0 ? static_cast<std::int32_t>(part.first % interval) : 0;
        if (part.first > 0 && (interval == 0 || sinceRestart != 0)) StartAfter(part.first - 1);
        for (std::int64_t mcu = part.first; mcu < part.last; ++mcu) {
            const std::int64_t row = mcu / columns, column = mcu % columns;
            for (int i = 0; i < scan_.count; ++i) {
                const int s = scan_.slot[i];
                const int h = geometry.h[s], v = geometry.v[s];
                const TStoredComponent& component = output_.store[s];
                if (!scan_.Interleaved()) {
                    Block(i, component,
                          static_cast<std::size_t>(row + geometry.firstRow * v) * component.width +
                              static_cast<std::size_t>(column + geometry.firstColumn * h));
                    continue;
                }
                for (int y = 0; y < v; ++y)
                    for (int x = 0; x < h; ++x)
                        Block(
                            i, component,
                            static_cast<std::size_t>((row + geometry.firstRow) * v + y) *
                                    component.width +
                                static_cast<std::size_t>((column + geometry.firstColumn) * h + x));
            }
            if (result_ != TScanCoding::Ok) return result_;
            if (interval > 0 && ++sinceRestart == interval && mcu != total - 1) {
                FlushEndOfBands();
                emit_.Restart(restartNumber);
                restartNumber = (restartNumber + 1) & 7;
                sinceRestart = 0;
                std::fill(std::begin(predictor_), std::end(predictor_), 0);
            }
        }
        if (part.last == total) FlushEndOfBands();
        return result_;
    }

  private:
    // The DC predictors after `mcu`: the value each component's last block
    // in it gives the prediction.
    void StartAfter(std::int64_t mcu) {
        const TOutputGeometry& geometry = output_.geometry;
        const std::int64_t columns = output_.ScanColumns(scan_);
        const std::int64_t row = mcu / columns, column = mcu % columns;
        for (int i = 0; i < scan_.count; ++i) {
            const int s = scan_.slot[i];
            const int h = scan_.Interleaved() ? geometry.h[s] : 1;
            const int v = scan_.Interleaved() ? geometry.v[s] : 1;
            const TStoredComponent& component = output_.store[s];
            const std::size_t x = static_cast<std::size_t>(
                (column + geometry.firstColumn * (scan_.Interleaved() ? 1 : geometry.h[s])) * h +
                h - 1);
            const std::size_t y = static_cast<std::size_t>(
                (row + geometry.firstRow * (scan_.Interleaved() ? 1 : geometry.v[s])) * v + v - 1);
            const std::int32_t dc = component.dc[y * component.width + x];
            predictor_[i] = output_.progressive ? dc >> scan_.al : dc;
        }
    }

    void Block(int i, const TStoredComponent& component, std::size_t block) {
        if (output_.progressive && scan_.DcBand())
            return scan_.Refinement() ? DcRefinement(component, block)
                                      : DcFirst(i, component, block);
        if (!output_.progressive) {
            DcDifference(i, component.dc[block]);
            Load(component, block, 1, 128);
            return Sequential(i);
        }
        const int low = Threshold(scan_.al), high = Threshold(scan_.al + 1);
        Load(component, block, low, high);
        return scan_.Refinement() ? AcRefinement() : AcFirst();
    }

    // 2^bits, or 128 for any magnitude a byte cannot reach.
    static int Threshold(int bits) { return bits >= 7 ? 128 : 1 << bits; }

    // The block's magnitude masks, and where it has coefficients kept aside,
    // its values from the bytes and the store's other ones.
    void Load(const TStoredComponent& component, std::size_t block, int low, int high) {
        bytes_ = component.ac + block * 64;
        masks_ = MagnitudeMasks(bytes_, low, high);
        wide_ = masks_.wide != 0;
        if (!wide_) return;
        masks_ = {};
        const std::int32_t lowMagnitude = std::int32_t{1} << scan_.al;
        for (int k = 1; k < 64; ++k) {
            coefficient_[k] = component.Ac(block, k);
            const std::int32_t magnitude = std::abs(coefficient_[k]);
            if (magnitude >= (output_.progressive ? lowMagnitude : 1))
                masks_.low |= std::uint64_t{1} << k;
            if (magnitude >= 2 * lowMagnitude) masks_.high |= std::uint64_t{1} << k;
        }
    }
    std::int32_t Value(int k) const { return wide_ ? coefficient_[k] : bytes_[k]; }

    void DcDifference(int i, std::int32_t value) {
        const std::int32_t difference = value - predictor_[i];
        predictor_[i] = value;
        const int size = SizeOf(static_cast<std::uint32_t>(std::abs(difference)));
        if (size > kMaxDcDifferenceSize) {
            result_ = TScanCoding::OutOfRange;
            return;
        }
        emit_.Dc(i, size, ValueBits(difference, size));
    }

    // Run and size of each coefficient, sixteen zeros at a time, and an end
    // of block after the last (T.81 F.1.2.2).
    void Sequential(int i) {
        int last = 0;
        for (std::uint64_t rest = masks_.low; rest != 0; rest &= rest - 1) {
            const int k = std::countr_zero(rest);
            int run = k - last - 1;
            last = k;
            for (; run > 15; run -= 16) emit_.Ac(i, 0xF0, 0, 0);
            const std::int32_t value = Value(k);
            const int size = SizeOf(static_cast<std::uint32_t>(std::abs(value)));
            if (size > kMaxAcSize) {
                result_ = TScanCoding::OutOfRange;
                return;
            }
            emit_.Ac(i, (run << 4) | size, ValueBits(value, size), size);
        }
        if (last != 63) emit_.Ac(i, 0x00, 0, 0);
    }

    // The value shifted right by Al, arithmetically (T.81 G.1.2.1).
    void DcFirst(int i, const TStoredComponent& component, std::size_t block) {
        DcDifference(i, component.dc[block] >> scan_.al);
    }
    void DcRefinement(const TStoredComponent& component, std::size_t block) {
        emit_.Bits(static_cast<std::uint32_t>(component.dc[block] >> scan_.al) & 1, 1);
    }

    // A run of blocks whose band codes nothing: EOBn, n the run's highest
    // bit, then its n lower bits (T.81 G.1.2.2), then the correction bits
    // of its blocks (T.81 G.1.2.3).
    void FlushEndOfBands() {
        if (endOfBands_ == 0) return;
        const int n = SizeOf(static_cast<std::uint32_t>(endOfBands_)) - 1;
        emit_.Ac(0, n << 4, static_cast<std::uint32_t>(endOfBands_) & ((1u << n) - 1), n);
        if constexpr (TEmit::kBits) {
            for (const TCorrections& block : runCorrections_) EmitBits(block);
            runCorrections_.clear();
        }
        endOfBands_ = 0;
    }
    void EndOfBand() {
        if (++endOfBands_ == kMaxEndOfBands) FlushEndOfBands();
    }

    // T.81 G.1.2.2: each coefficient of the band as its magnitude shifted
    // right by Al and its sign.
    void AcFirst() {
        int last = scan_.ss - 1;
        for (std::uint64_t rest = masks_.low & BandMask(scan_.ss, scan_.se); rest != 0;
             rest &= rest - 1) {
            const int k = std::countr_zero(rest);
            int run = k - last - 1;
            last = k;
            FlushEndOfBands();
            for (; run > 15; run -= 16) emit_.Ac(0, 0xF0, 0, 0);
            const std::int32_t value = Value(k);
            const auto magnitude = static_cast<std::int32_t>(std::abs(value) >> scan_.al);
            const int size = SizeOf(static_cast<std::uint32_t>(magnitude));
            if (size > kMaxAcSize) {
                result_ = TScanCoding::OutOfRange;
                return;
            }
            emit_.Ac(0, (run << 4) | size, ValueBits(value < 0 ? -magnitude : magnitude, size),
                     size);
        }
        if (last < scan_.se) EndOfBand();
    }

    // Correction bits waiting for their symbol, at most one a coefficient
    // of one block: the low `count` bits of `bits`, the first the highest.
    struct TCorrections {
        std::uint64_t bits = 0;
        int count = 0;
    };
    void EmitBits(const TCorrections& corrections) {
        if (corrections.count > 32) {
            emit_.Bits(static_cast<std::uint32_t>(corrections.bits >> 32), corrections.count - 32);
            emit_.Bits(static_cast<std::uint32_t>(corrections.bits), 32);
        } else {
            emit_.Bits(static_cast<std::uint32_t>(corrections.bits), corrections.count);
        }
    }

    // T.81 G.1.2.3: a coefficient that becomes nonzero at bit Al is coded
    // with the run of still-zero coefficients before it and its sign; one
    // already nonzero sends its bit Al as a correction bit, after the next
    // symbol that the decoder meets past it (a new coefficient, sixteen
    // zeros, or the end-of-band run its block joins).
    void AcRefinement() {
        const std::uint64_t band = BandMask(scan_.ss, scan_.se);
        const std::uint64_t newer = masks_.low & ~masks_.high & band;
        const std::uint64_t history = masks_.high & band;
        const int lastNew = newer != 0 ? 63 - std::countl_zero(newer) : -1;
        int run = 0, last = scan_.ss - 1;
        TCorrections corrections;
        for (std::uint64_t rest = newer | history; rest != 0; rest &= rest - 1) {
            const int k = std::countr_zero(rest);
            run += k - last - 1;
            last = k;
            // Sixteen zeros need a symbol of their own only where a new
            // coefficient follows; else the end-of-band run takes them.
            for (; run > 15 && k <= lastNew; run -= 16) {
                FlushEndOfBands();
                emit_.Ac(0, 0xF0, 0, 0);
                EmitBits(corrections);
                corrections = {};
            }
            if ((history >> k) & 1) {
                corrections.bits = corrections.bits << 1 |
                                   static_cast<std::uint64_t>((std::abs(Value(k)) >> scan_.al) & 1);
                ++corrections.count;
                continue;
            }
            FlushEndOfBands();
            emit_.Ac(0, (run << 4) | 1, Value(k) < 0 ? 0 : 1, 1);
            EmitBits(corrections);
            corrections = {};
            run = 0;
        }
        run += scan_.se - last;
        if (run > 0 || corrections.count > 0) {
            if constexpr (TEmit::kBits)
                if (corrections.count > 0) runCorrections_.push_back(corrections);
            EndOfBand();
        }
    }

    const TStoreOutput& output_;
    const TScanHeader& scan_;
    TEmit& emit_;
    TScanCoding result_ = TScanCoding::Ok;
    std::int32_t predictor_[kSlots] = {};
    const std::int8_t* bytes_ = nullptr;
    TMagnitudeMasks masks_;
    bool wide_ = false;
    std::int32_t coefficient_[64] = {};  // the values of a block with wide ones
    std::int32_t endOfBands_ = 0;
    std::vector<TCorrections> runCorrections_;  // of the end-of-band run's blocks
};

}  // namespace

std::vector<TScanPart> SplitScan(const TStoreOutput& output, const TScanHeader& scan, int parts) {
    const std::int64_t total = output.ScanColumns(scan) * output.ScanRows(scan);
    // An AC scan's end-of-band runs join blocks across any split.
    if (output.progressive && !scan.DcBand()) parts = 1;
    const std::int64_t unit = scan.restartInterval > 0 ? scan.restartInterval : 1;
    std::vector<TScanPart> split;
    std::int64_t first = 0;
    for (int p = 1; p < parts; ++p) {
        std::int64_t at = total * p / parts;
        at -= at % unit;
        if (at <= first || at >= total) continue;
        split.push_back({first, at});
        first = at;
    }
    split.push_back({first, total});
    return split;
}

TScanCoding CountScan(const TStoreOutput& output, const TScanHeader& scan, const TScanPart& part,
                      TSymbolCounts& counts) {
    TCountEmit emit{counts, scan.dcTable, scan.acTable};
    return TScanWalk<TCountEmit>(output, scan, emit).Run(part);
}

TScanCoding CodeScan(const TStoreOutput& output, const TScanHeader& scan, const TScanPart& part,
                     const THuffmanEncodeTable (&dc)[4], const THuffmanEncodeTable (&ac)[4],
                     TCodedPart& coded) {
    // Without restart markers the parts are joined bit by bit, so their
    // bytes are not stuffed yet; with them, each part ends at a marker.
    const bool raw = scan.restartInterval == 0;
    TScanWriter writer(coded.bytes, raw);
    TCodeEmit emit{writer, {}, {}};
    for (int i = 0; i < scan.count; ++i) {
        emit.dc[i] = &dc[scan.dcTable[i]];
        emit.ac[i] = &ac[scan.acTable[i]];
    }
    const TScanCoding result = TScanWalk<TCodeEmit>(output, scan, emit).Run(part);
    FinishPart(writer, raw, coded);
    if (result != TScanCoding::Ok) return result;
    return emit.missing ? TScanCoding::MissingCode : TScanCoding::Ok;
}

}  // namespace plume
