// The size of an output that lost a partial MCU column or row (Frame.h,
// EdgeTrimOf): written into its frame header and into the pixel dimensions
// of its EXIF segments, once the header stage has written them all, since an
// EXIF segment may come before the frame.
#pragma once

#include <cstdint>
#include <vector>

#include "JpegRotation/frame/Frame.h"
#include "JpegRotation/metadata/MetadataNotes.h"

namespace plume {

// frameSizePosition: the output position of the frame's Y field (-1: none).
// An EXIF entry of a type that holds no number is left as it is.
void WriteTrimmedSize(const TEdgeTrim& trim, std::int64_t frameSizePosition,
                      const std::vector<TExifDimensions>& exifDimensions,
                      std::vector<std::uint8_t>& output);

}  // namespace plume
