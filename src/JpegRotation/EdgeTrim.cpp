// Partial edges. The blocks are moved in whole MCUs (T.81 A.2.4: an encoder
// pads the picture to whole MCUs), so a picture whose width or height is not
// a whole number of MCUs has padding beyond its right or bottom edge. A mode
// that carries such an edge to the output's top or left side shows the
// padding there; TrimPartialEdges drops that MCU column or row instead, as
// `jpegtran -trim` does, and the frame and the EXIF pixel dimensions give the
// smaller size.
#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/TiffLayout.h"

namespace plume {

TJpegRotation::TFrontEdges TJpegRotation::PartialFrontEdges(std::uint8_t mode) const {
    // The input's right edge reaches the top or left side in a turn of 90
    // degrees left or 180, a mirror left to right and the transverse mirror;
    // its bottom edge in a turn of 90 degrees right or 180, a mirror top to
    // bottom and the transverse mirror.
    const bool carriesRight = mode == kModeRotateLeft || mode == kModeRotate180 ||
                              mode == kModeFlipHorizontal || mode == kModeTransverse;
    const bool carriesBottom = mode == kModeRotateRight || mode == kModeRotate180 ||
                               mode == kModeFlipVertical || mode == kModeTransverse;
    TFrontEdges edges;
    edges.right = carriesRight && ImageWidth % (8 * MaxHSampling) != 0;
    edges.bottom = carriesBottom && ImageHeight % (8 * MaxVSampling) != 0;
    return edges;
}

bool TJpegRotation::MovesPartialEdge(std::uint8_t mode) const {
    const TFrontEdges edges = PartialFrontEdges(mode);
    return edges.right || edges.bottom;
}

bool TJpegRotation::ShowsPadding(std::uint8_t mode) const {
    const TFrontEdges edges = PartialFrontEdges(mode);
    if (!TrimPartialEdges) return edges.right || edges.bottom;
    // As jpegtran, an edge is dropped only where a whole MCU is left.
    return (edges.right && ImageWidth < 8 * MaxHSampling) ||
           (edges.bottom && ImageHeight < 8 * MaxVSampling);
}

void TJpegRotation::TrimEdges() {
    const std::int32_t mcuWidth = 8 * MaxHSampling, mcuHeight = 8 * MaxVSampling;
    const TFrontEdges edges = TrimPartialEdges ? PartialFrontEdges(Mode) : TFrontEdges{};
    // As jpegtran, an edge is dropped only where a whole MCU is left.
    const bool right = edges.right && ImageWidth >= mcuWidth;
    const bool bottom = edges.bottom && ImageHeight >= mcuHeight;
    const std::int32_t width = right ? ImageWidth - ImageWidth % mcuWidth : ImageWidth;
    const std::int32_t height = bottom ? ImageHeight - ImageHeight % mcuHeight : ImageHeight;
    const bool exchanged = ExchangesDimensions(Mode);
    trim_.firstColumn = (exchanged ? bottom : right) ? 1 : 0;
    trim_.firstRow = (exchanged ? right : bottom) ? 1 : 0;
    trim_.width = exchanged ? height : width;
    trim_.height = exchanged ? width : height;
    if (!right && !bottom) return;

    TMemoryStream& out = OutBits->Stream();
    std::uint8_t* memory = out.Memory();
    if (frameSizePosition_ >= 0 &&
        static_cast<std::uint64_t>(frameSizePosition_) + 4 <= out.Size()) {
        std::uint8_t* field = memory + frameSizePosition_;
        field[0] = static_cast<std::uint8_t>(trim_.height >> 8);
        field[1] = static_cast<std::uint8_t>(trim_.height);
        field[2] = static_cast<std::uint8_t>(trim_.width >> 8);
        field[3] = static_cast<std::uint8_t>(trim_.width);
    }
    // An EXIF segment may come before the frame: its pixel dimensions are
    // written now that the frame is known.
    for (const TExifDimensions& entries : exifDimensions_) {
        const TTiffView view(memory, out.Size(), entries.littleEndian);
        if (trim_.firstColumn != 0 && entries.width >= 0)
            view.PutScalarValue(static_cast<std::size_t>(entries.width),
                                static_cast<std::uint32_t>(trim_.width));
        if (trim_.firstRow != 0 && entries.height >= 0)
            view.PutScalarValue(static_cast<std::size_t>(entries.height),
                                static_cast<std::uint32_t>(trim_.height));
    }
}

}  // namespace plume
