// The walk over the output MCUs shared by the whole-image and the
// row-by-row coders: block mapping, Huffman coding and restart markers.
#pragma once

#include "JpegRotation/BlockCoder.h"
#include "JpegRotation/JpegRotation.h"

namespace plume {

// A source block as the output sees it; the store is left as decoded.
inline void MapBlock(const TCoefBlock& source, const TBlockMap& map, TCoefBlock& block) {
    if (map.Moves) {
        for (int k = 0; k < 64; ++k) block[k] = static_cast<std::int16_t>(source[map.Source[k]] * map.Sign[k]);
    } else {
        for (int k = 0; k < 64; ++k) block[k] = static_cast<std::int16_t>(source[k] * map.Sign[k]);
    }
}

// The output geometry once TransformAndEncode has set it up.
struct TJpegRotation::TOutputLayout {
    std::size_t width[4];   // output blocks per row of each slot
    std::size_t height[4];  // output block rows of each slot
    const TBlockMap* map;
};

// Codes the output MCUs [range.first, range.last) with range's predictors
// and restart state, taking each output block (x, y) of slot s from
// source.At(s, x, y). Progress is reported only when `report` is set.
template <class TBlockSource>
void TJpegRotation::EncodeMcus(const TBlockSource& source, TEncodeRange& range, TScanWriter& writer,
                               int progressBase, bool report) {
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
                    source.Prefetch(s, x, y);
                    MapBlock(source.At(s, x, y), *source.map, block);
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

}  // namespace plume
