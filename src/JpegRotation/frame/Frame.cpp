// Partial edges and the output geometry. The blocks are moved in whole MCUs
// (T.81 A.2.4: an encoder pads the picture to whole MCUs), so a picture whose
// width or height is not a whole number of MCUs has padding beyond its right
// or bottom edge. A turn that carries such an edge to the output's top or
// left side shows the padding there; trimming drops that MCU column or row
// instead, as `jpegtran -trim` does.
#include "JpegRotation/frame/Frame.h"

#include <utility>

namespace plume {

TFrontEdges PartialFrontEdges(const TFrame& frame, TTurn turn) {
    // The input's right edge reaches the top or left side in a turn of 90
    // degrees left or 180, a mirror left to right and the transverse mirror;
    // its bottom edge in a turn of 90 degrees right or 180, a mirror top to
    // bottom and the transverse mirror.
    const bool carriesRight = turn == TTurn::RotateLeft || turn == TTurn::Rotate180 ||
                              turn == TTurn::FlipHorizontal || turn == TTurn::Transverse;
    const bool carriesBottom = turn == TTurn::RotateRight || turn == TTurn::Rotate180 ||
                               turn == TTurn::FlipVertical || turn == TTurn::Transverse;
    TFrontEdges edges;
    edges.right = carriesRight && frame.width % (8 * frame.maxH) != 0;
    edges.bottom = carriesBottom && frame.height % (8 * frame.maxV) != 0;
    return edges;
}

TEdgeTrim EdgeTrimOf(const TFrame& frame, TTurn turn, bool trim) {
    const std::int32_t mcuWidth = 8 * frame.maxH, mcuHeight = 8 * frame.maxV;
    const TFrontEdges edges = trim ? PartialFrontEdges(frame, turn) : TFrontEdges{};
    const bool right = edges.right && frame.width >= mcuWidth;
    const bool bottom = edges.bottom && frame.height >= mcuHeight;
    const std::int32_t width = right ? frame.width - frame.width % mcuWidth : frame.width;
    const std::int32_t height = bottom ? frame.height - frame.height % mcuHeight : frame.height;
    const bool exchanged = ExchangesDimensions(turn);
    TEdgeTrim result;
    result.firstColumn = (exchanged ? bottom : right) ? 1 : 0;
    result.firstRow = (exchanged ? right : bottom) ? 1 : 0;
    result.width = exchanged ? height : width;
    result.height = exchanged ? width : height;
    return result;
}

bool ShowsPadding(const TFrame& frame, TTurn turn, bool trim) {
    const TFrontEdges edges = PartialFrontEdges(frame, turn);
    if (!trim) return edges.Any();
    return (edges.right && frame.width < 8 * frame.maxH) ||
           (edges.bottom && frame.height < 8 * frame.maxV);
}

TOutputGeometry OutputGeometryOf(const TFrame& frame, TTurn turn, const TEdgeTrim& trim) {
    TOutputGeometry output;
    const bool exchanged = ExchangesDimensions(turn);
    output.gridPerRow = exchanged ? frame.McuRows() : frame.McusPerRow();
    output.gridRows = exchanged ? frame.McusPerRow() : frame.McuRows();
    for (int s = 0; s < kSlots; ++s) {
        output.h[s] = exchanged ? frame.slot[s].v : frame.slot[s].h;
        output.v[s] = exchanged ? frame.slot[s].h : frame.slot[s].v;
        output.width[s] = static_cast<std::size_t>(output.gridPerRow) * output.h[s];
        output.height[s] = static_cast<std::size_t>(output.gridRows) * output.v[s];
    }
    output.firstColumn = trim.firstColumn;
    output.firstRow = trim.firstRow;
    output.mcusPerRow = output.gridPerRow - trim.firstColumn;
    output.mcuRows = output.gridRows - trim.firstRow;
    output.progressBase = static_cast<int>(frame.McuRows());
    return output;
}

}  // namespace plume
