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

    for (int row = 0; row < McuRows; ++row) {
        if (OnProgress) OnProgress(progressBase + row);
        for (int col = 0; col < McusPerRow; ++col) {
            for (int s = 0; s < 4; ++s) {
                const std::size_t w = width[s], hb = height[s];
                for (int v = 0; v < VSampling[s]; ++v) {
                    const std::size_t y = static_cast<std::size_t>(row) * VSampling[s] + v;
                    for (int h = 0; h < HSampling[s]; ++h) {
                        const std::size_t x = static_cast<std::size_t>(col) * HSampling[s] + h;
                        std::size_t i = 0;
                        switch (Mode) {
                            case kModeRotateRight: i = (w - 1 - x) * hb + y; break;
                            case kModeRotateLeft: i = x * hb + (hb - 1 - y); break;
                            case kModeRotate180: i = w * hb - 1 - (y * w + x); break;
                            case kModeFlipHorizontal: i = y * w + (w - 1 - x); break;
                            case kModeFlipVertical: i = (hb - 1 - y) * w + x; break;
                            default: i = y * w + x; break;
                        }
                        EncodeMapped(s, Coefficients[s][i], map);
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
