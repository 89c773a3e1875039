// Block transforms of the six modes and the walk over the output MCUs.
// A quarter turn is a transposition plus sign changes; mirrors are sign
// changes only: the coefficients of odd frequencies change sign when their
// basis function is mirrored.
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

}  // namespace

void TJpegRotation::RotateBlockRight(TCoefBlock& block) { ApplyMap(block, kModeBlockMaps[kModeRotateRight]); }
void TJpegRotation::RotateBlockLeft(TCoefBlock& block) { ApplyMap(block, kModeBlockMaps[kModeRotateLeft]); }
void TJpegRotation::RotateBlock180(TCoefBlock& block) { ApplyMap(block, kModeBlockMaps[kModeRotate180]); }
void TJpegRotation::FlipBlockHorizontal(TCoefBlock& block) {
    ApplyMap(block, kModeBlockMaps[kModeFlipHorizontal]);
}
void TJpegRotation::FlipBlockVertical(TCoefBlock& block) { ApplyMap(block, kModeBlockMaps[kModeFlipVertical]); }

// Transforms a source block on its way to the encoder; the store is left as decoded.
void TJpegRotation::EncodeMapped(int component, const TCoefBlock& source, const TBlockMap& map) {
    TCoefBlock block;
    for (int k = 0; k < 64; ++k) {
        const std::int16_t value = source[map.Source[k]];
        block[k] = map.Negate[k] ? static_cast<std::int16_t>(-value) : value;
    }
    EncodeBlock(component, block);
}

bool TJpegRotation::TransformAndEncode() {
    for (auto& predictor : DcPredictor) predictor = 0;
    RestartCounter = 0;
    int restartIndex = 0;
    int progressBase = McuRows;
    if (IsQuarterTurn(Mode)) {
        std::swap(McusPerRow, McuRows);
        for (int s = 0; s < 4; ++s) std::swap(HSampling[s], VSampling[s]);
        progressBase = McusPerRow;
    }
    std::size_t width[4], height[4];
    for (int s = 0; s < 4; ++s) {
        width[s] = static_cast<std::size_t>(McusPerRow) * HSampling[s];
        height[s] = static_cast<std::size_t>(McuRows) * VSampling[s];
    }
    const TBlockMap& map = kModeBlockMaps[Mode < kModeCount ? Mode : std::uint8_t{kModeNone}];
    scanWriter_.reset();
    TScanWriter& writer = ScanWriter();

    // Source block of output block (x, y) of slot s (see the table of modes).
    const auto sourceIndex = [&](int s, std::size_t x, std::size_t y) -> std::size_t {
        const std::size_t w = width[s], hb = height[s];
        switch (Mode) {
            case kModeRotateRight: return (w - 1 - x) * hb + y;
            case kModeRotateLeft: return x * hb + (hb - 1 - y);
            case kModeRotate180: return w * hb - 1 - (y * w + x);
            case kModeFlipHorizontal: return y * w + (w - 1 - x);
            case kModeFlipVertical: return (hb - 1 - y) * w + x;
            default: return y * w + x;
        }
    };
    // A quarter turn reads the store across its rows: fetch a few MCUs ahead.
    constexpr int kPrefetchMcus = 4;
    const bool prefetch = IsQuarterTurn(Mode);

    for (int row = 0; row < McuRows; ++row) {
        if (OnProgress) OnProgress(progressBase + row);
        for (int col = 0; col < McusPerRow; ++col) {
            for (int s = 0; s < 4; ++s) {
                for (int v = 0; v < VSampling[s]; ++v) {
                    const std::size_t y = static_cast<std::size_t>(row) * VSampling[s] + v;
                    for (int h = 0; h < HSampling[s]; ++h) {
                        const std::size_t x = static_cast<std::size_t>(col) * HSampling[s] + h;
                        if (prefetch && col + kPrefetchMcus < McusPerRow) {
                            const std::size_t ahead = x + static_cast<std::size_t>(kPrefetchMcus) * HSampling[s];
                            const TCoefBlock* next = &Coefficients[s][sourceIndex(s, ahead, y)];
                            __builtin_prefetch(next);
                            __builtin_prefetch(reinterpret_cast<const char*>(next) + 64);
                        }
                        EncodeMapped(s, Coefficients[s][sourceIndex(s, x, y)], map);
                    }
                }
            }
            if (HasRestart) {
                ++RestartCounter;
                const bool last = row == McuRows - 1 && col == McusPerRow - 1;
                if (!last && RestartCounter == RestartInterval) {
                    for (auto& predictor : DcPredictor) predictor = 0;
                    RestartCounter = 0;
                    writer.FlushWithPadding();
                    writer.PutMarker(static_cast<std::uint16_t>(0xFFD0 + restartIndex));
                    restartIndex = (restartIndex + 1) & 7;
                }
            }
        }
    }
    // The last partial byte is padded now, even when nothing follows the scan.
    writer.FlushWithPadding();
    writer.Finish();
    scanWriter_.reset();
    OutBits->Stream().SetPosition(OutBits->Stream().Size());
    if (encodeFailed_) {
        ReportError(kMsgSymbolWithoutCode);
        return false;
    }
    return true;
}

}  // namespace plume
