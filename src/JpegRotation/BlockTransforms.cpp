// Block transforms of the six modes and the walk over the output MCUs.
// A quarter turn is a transposition plus sign changes; mirrors are sign
// changes only: the coefficients of odd frequencies change sign when their
// basis function is mirrored.
#include <exception>
#include <thread>

#include "JpegRotation/BlockCoder.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/JpegRotation.h"

namespace plume {
namespace {

void ApplyMap(TCoefBlock& block, const TBlockMap& map) {
    const TCoefBlock source = block;
    for (int k = 0; k < 64; ++k) {
        const std::int16_t value = source[map.Source[k]];
        block[k] = map.Negate[k] ? static_cast<std::int16_t>(-value) : value;
    }
}

// A source block as the output sees it; the store is left as decoded.
inline void MapBlock(const TCoefBlock& source, const TBlockMap& map, TCoefBlock& block) {
    if (map.Moves) {
        for (int k = 0; k < 64; ++k) block[k] = static_cast<std::int16_t>(source[map.Source[k]] * map.Sign[k]);
    } else {
        for (int k = 0; k < 64; ++k) block[k] = static_cast<std::int16_t>(source[k] * map.Sign[k]);
    }
}

// Below this many blocks a second thread costs more than it saves.
constexpr std::size_t kParallelBlocks = 1 << 14;

}  // namespace

void TJpegRotation::RotateBlockRight(TCoefBlock& block) { ApplyMap(block, kModeBlockMaps[kModeRotateRight]); }
void TJpegRotation::RotateBlockLeft(TCoefBlock& block) { ApplyMap(block, kModeBlockMaps[kModeRotateLeft]); }
void TJpegRotation::RotateBlock180(TCoefBlock& block) { ApplyMap(block, kModeBlockMaps[kModeRotate180]); }
void TJpegRotation::FlipBlockHorizontal(TCoefBlock& block) {
    ApplyMap(block, kModeBlockMaps[kModeFlipHorizontal]);
}
void TJpegRotation::FlipBlockVertical(TCoefBlock& block) { ApplyMap(block, kModeBlockMaps[kModeFlipVertical]); }

// The output geometry once TransformAndEncode has set it up.
struct TJpegRotation::TOutputLayout {
    std::size_t width[4];   // blocks per row of each slot
    std::size_t height[4];  // block rows of each slot
    const TBlockMap* map;

    // Source block of output block (x, y) of slot s.
    std::size_t SourceIndex(std::uint8_t mode, int s, std::size_t x, std::size_t y) const {
        const std::size_t w = width[s], hb = height[s];
        switch (mode) {
            case kModeRotateRight: return (w - 1 - x) * hb + y;
            case kModeRotateLeft: return x * hb + (hb - 1 - y);
            case kModeRotate180: return w * hb - 1 - (y * w + x);
            case kModeFlipHorizontal: return y * w + (w - 1 - x);
            case kModeFlipVertical: return (hb - 1 - y) * w + x;
            default: return y * w + x;
        }
    }
};

// Codes the output MCUs [range.first, range.last) with range's predictors
// and restart state. Progress is reported only when `report` is set.
void TJpegRotation::EncodeMcus(const TOutputLayout& layout, TEncodeRange& range, TScanWriter& writer,
                               int progressBase, bool report) {
    // A quarter turn reads the store across its rows: fetch a few MCUs ahead.
    constexpr int kPrefetchMcus = 4;
    const bool prefetch = IsQuarterTurn(Mode);
    const std::int64_t total = static_cast<std::int64_t>(McusPerRow) * McuRows;
    TCoefBlock block;
    for (std::int64_t mcu = range.first; mcu < range.last; ++mcu) {
        const int row = static_cast<int>(mcu / McusPerRow), col = static_cast<int>(mcu % McusPerRow);
        if (col == 0 && report && OnProgress) OnProgress(progressBase + row);
        for (int s = 0; s < 4; ++s) {
            const THuffmanEncodeTable& dc = encodeTables_[0][DcSelector[s]];
            const THuffmanEncodeTable& ac = encodeTables_[1][AcSelector[s]];
            for (int v = 0; v < VSampling[s]; ++v) {
                const std::size_t y = static_cast<std::size_t>(row) * VSampling[s] + v;
                for (int h = 0; h < HSampling[s]; ++h) {
                    const std::size_t x = static_cast<std::size_t>(col) * HSampling[s] + h;
                    if (prefetch && col + kPrefetchMcus < McusPerRow) {
                        const std::size_t ahead = x + static_cast<std::size_t>(kPrefetchMcus) * HSampling[s];
                        const TCoefBlock* next = &Coefficients[s][layout.SourceIndex(Mode, s, ahead, y)];
                        __builtin_prefetch(next);
                        __builtin_prefetch(reinterpret_cast<const char*>(next) + 64);
                    }
                    MapBlock(Coefficients[s][layout.SourceIndex(Mode, s, x, y)], *layout.map, block);
                    if (!CodeBlock(block, range.predictor[s], dc, ac, writer)) range.failed = true;
                }
            }
        }
        if (HasRestart) {
            ++range.restartCounter;
            if (mcu != total - 1 && range.restartCounter == RestartInterval) {
                for (auto& predictor : range.predictor) predictor = 0;
                range.restartCounter = 0;
                writer.FlushWithPadding();
                writer.PutMarker(static_cast<std::uint16_t>(0xFFD0 + range.restartIndex));
                range.restartIndex = (range.restartIndex + 1) & 7;
            }
        }
    }
}

bool TJpegRotation::TransformAndEncode() {
    for (auto& predictor : DcPredictor) predictor = 0;
    RestartCounter = 0;
    int progressBase = McuRows;
    if (IsQuarterTurn(Mode)) {
        std::swap(McusPerRow, McuRows);
        for (int s = 0; s < 4; ++s) std::swap(HSampling[s], VSampling[s]);
        progressBase = McusPerRow;
    }
    TOutputLayout layout{};
    std::size_t blocks = 0;
    for (int s = 0; s < 4; ++s) {
        layout.width[s] = static_cast<std::size_t>(McusPerRow) * HSampling[s];
        layout.height[s] = static_cast<std::size_t>(McuRows) * VSampling[s];
        blocks += layout.width[s] * layout.height[s];
    }
    layout.map = &kModeBlockMaps[Mode < kModeCount ? Mode : std::uint8_t{kModeNone}];
    const std::int64_t total = static_cast<std::int64_t>(McusPerRow) * McuRows;
    const bool restarts = HasRestart && RestartInterval > 0;

    // The second half of the scan may be coded by a second thread: its start
    // state (predictors, restart count and number) follows from the store.
    std::int64_t split = total;
    if (AllowParallelCoding && blocks >= kParallelBlocks && std::thread::hardware_concurrency() > 1) {
        split = total / 2;
        if (restarts) split -= split % RestartInterval;  // start right after a marker
        if (split <= 0) split = total;
    }

    std::vector<std::uint8_t>& out = OutBits->Stream().Bytes();
    out.reserve(out.size() + InBits->Stream().Size());
    TScanWriter writer(out);
    TEncodeRange first{0, split, {0, 0, 0, 0}, 0, 0, false};
    if (split == total) {
        EncodeMcus(layout, first, writer, progressBase, true);
    } else {
        TEncodeRange second{split, total, {0, 0, 0, 0}, 0, 0, false};
        if (restarts) {
            second.restartIndex = static_cast<int>((split / RestartInterval) & 7);
        } else {
            // The last block of each slot in the MCU before the split; DC never moves or changes sign.
            const int row = static_cast<int>((split - 1) / McusPerRow), col = static_cast<int>((split - 1) % McusPerRow);
            for (int s = 0; s < 4; ++s) {
                if (HSampling[s] == 0 || VSampling[s] == 0) continue;
                const std::size_t x = static_cast<std::size_t>(col) * HSampling[s] + HSampling[s] - 1;
                const std::size_t y = static_cast<std::size_t>(row) * VSampling[s] + VSampling[s] - 1;
                second.predictor[s] = Coefficients[s][layout.SourceIndex(Mode, s, x, y)][0];
            }
        }
        std::vector<std::uint8_t> secondBytes;
        secondBytes.reserve(InBits->Stream().Size() / 2 + 4096);
        TScanWriter secondWriter(secondBytes, !restarts);
        std::exception_ptr failure;
        std::thread worker([&] {
            try {
                EncodeMcus(layout, second, secondWriter, progressBase, false);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        try {
            EncodeMcus(layout, first, writer, progressBase, true);
        } catch (...) {
            worker.join();
            throw;
        }
        worker.join();
        if (failure) std::rethrow_exception(failure);
        for (std::int64_t mcu = split; mcu < total; ++mcu)
            if (mcu % McusPerRow == 0 && OnProgress) OnProgress(progressBase + static_cast<int>(mcu / McusPerRow));
        if (restarts) {
            secondWriter.FlushWithPadding();
            writer.AppendBytes(secondBytes.data(), secondWriter.Length());
        } else {
            writer.AppendRaw(secondWriter);
        }
        first.failed = first.failed || second.failed;
    }
    // The last partial byte is padded now, even when nothing follows the scan.
    writer.FlushWithPadding();
    writer.Finish();
    OutBits->Stream().SetPosition(OutBits->Stream().Size());
    if (first.failed) {
        ReportError(kMsgSymbolWithoutCode);
        return false;
    }
    return true;
}

}  // namespace plume
