// Block transforms of the six modes and the walk over the output MCUs.
// A quarter turn is a transposition plus sign changes; mirrors are sign
// changes only: the coefficients of odd frequencies change sign when their
// basis function is mirrored.
#include <exception>
#include <thread>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/McuCoder.h"

namespace plume {
namespace {

void ApplyMap(TCoefBlock& block, const TBlockMap& map) {
    const TCoefBlock source = block;
    for (int k = 0; k < 64; ++k) {
        const std::int16_t value = source[map.Source[k]];
        block[k] = map.Negate[k] ? static_cast<std::int16_t>(-value) : value;
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

// The decoded store, already in output order, as the source of the output blocks.
struct TJpegRotation::TStoreSource : TOutputLayout {
    TCoefRaster* store;

    const TCoefBlock& At(int s, std::size_t x, std::size_t y) const { return store[s][y * width[s] + x]; }
    void Prefetch(int, std::size_t, std::size_t) const {}
};

bool TJpegRotation::TransformAndEncode() {
    for (auto& predictor : DcPredictor) predictor = 0;
    RestartCounter = 0;
    int progressBase = McuRows;
    if (IsQuarterTurn(Mode)) {
        std::swap(McusPerRow, McuRows);
        for (int s = 0; s < 4; ++s) std::swap(HSampling[s], VSampling[s]);
        progressBase = McusPerRow;
    }
    TStoreSource layout{};
    layout.store = Coefficients;
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
                second.predictor[s] = layout.At(s, x, y)[0];
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
