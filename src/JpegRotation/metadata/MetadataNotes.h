// What the header stage notes of the metadata as it copies the segments,
// for the stages after the scan: where the multi-picture index, the XMP
// packets and the EXIF pixel dimensions lie in the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "JpegRotation/metadata/MultiPicture.h"

namespace plume {

struct TXmpPlace {
    std::size_t start, size;  // of the packet in the output
};

// Output positions of the entries PixelXDimension and PixelYDimension (-1:
// none) of one EXIF segment written, and its byte order.
struct TExifDimensions {
    std::int64_t width = -1, height = -1;
    bool littleEndian = false;
};

struct TMetadataNotes {
    std::optional<TMultiPicturePlace> multiPicture;  // the first APP2 "MPF\0"
    std::vector<TXmpPlace> xmp;
    bool orientationUpright = false;  // an EXIF rewrite set IFD0's Orientation to 1
    std::vector<TExifDimensions> exifDimensions;
};

}  // namespace plume
