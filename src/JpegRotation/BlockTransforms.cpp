// Block transforms of the modes and the walk over the output MCUs. A
// quarter turn or a diagonal mirror is a transposition plus sign changes; the
// other mirrors are sign changes only: the coefficients of odd frequencies
// change sign when their basis function is mirrored.
#include "JpegRotation/BlockCoder.h"
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

}  // namespace

void TJpegRotation::RotateBlockRight(TCoefBlock& block) {
    ApplyMap(block, kModeBlockMaps[kModeRotateRight]);
}
void TJpegRotation::RotateBlockLeft(TCoefBlock& block) {
    ApplyMap(block, kModeBlockMaps[kModeRotateLeft]);
}
void TJpegRotation::RotateBlock180(TCoefBlock& block) {
    ApplyMap(block, kModeBlockMaps[kModeRotate180]);
}
void TJpegRotation::FlipBlockHorizontal(TCoefBlock& block) {
    ApplyMap(block, kModeBlockMaps[kModeFlipHorizontal]);
}
void TJpegRotation::FlipBlockVertical(TCoefBlock& block) {
    ApplyMap(block, kModeBlockMaps[kModeFlipVertical]);
}

// The decoded store, already in output order, as the source of the output blocks.
struct TJpegRotation::TStoreSource : TOutputLayout {
    TCoefRaster* store;
    TCodedBlock coded;

    void Load(int, int) {}
    std::int32_t Dc(int s, std::size_t x, std::size_t y) const {
        return store[s][y * width[s] + x][0];
    }
    bool Code(int s, std::size_t x, std::size_t y, std::int32_t& predictor,
              const THuffmanEncodeTable& dc, const THuffmanEncodeTable& ac,
              TScanWriter::TBits& out) {
        PackBlock(store[s][y * width[s] + x], *map, coded);
        return CodeBlock(coded, predictor, dc, ac, out);
    }
};

int TJpegRotation::BeginOutput(TOutputLayout& layout) {
    for (auto& predictor : DcPredictor) predictor = 0;
    RestartCounter = 0;
    int progressBase = McuRows;
    if (ExchangesDimensions(Mode)) {
        std::swap(McusPerRow, McuRows);
        for (int s = 0; s < 4; ++s) std::swap(HSampling[s], VSampling[s]);
        progressBase = McusPerRow;
    }
    for (int s = 0; s < 4; ++s) {
        layout.width[s] = static_cast<std::size_t>(McusPerRow) * HSampling[s];
        layout.height[s] = static_cast<std::size_t>(McuRows) * VSampling[s];
    }
    layout.map = &kModeBlockMaps[Mode < kModeCount ? Mode : std::uint8_t{kModeNone}];
    layout.firstColumn = trim_.firstColumn;
    layout.firstRow = trim_.firstRow;
    layout.mcusPerRow = McusPerRow - trim_.firstColumn;
    layout.mcuRows = McuRows - trim_.firstRow;
    return progressBase;
}

bool TJpegRotation::EndOutputScan(TScanWriter& writer, bool failed) {
    // The last partial byte is padded now, even when nothing follows the scan.
    writer.FlushWithPadding();
    writer.Finish();
    OutBits->Stream().SetPosition(OutBits->Stream().Size());
    if (failed) {
        if (!quietOutputFailure_) ReportError(kMsgSymbolWithoutCode);
        return false;
    }
    return true;
}

bool TJpegRotation::TransformAndEncode() {
    TStoreSource source{};
    const int progressBase = BeginOutput(source);
    source.store = Coefficients;
    return EncodeOutput(source, progressBase);
}

}  // namespace plume
