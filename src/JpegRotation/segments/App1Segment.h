// APP1 in the rotate pass: an EXIF segment is rewritten (ExifRewrite.h), an
// XMP packet is noted to be rewritten once the pass knows what it changed,
// and any other APP1 passes byte for byte.
#pragma once

#include <cstdint>

#include "JpegRotation/metadata/ExifRewrite.h"
#include "JpegRotation/metadata/MetadataNotes.h"
#include "JpegRotation/segments/SegmentIo.h"

namespace plume {

// lengthPosition: where the driver wrote the length field, which takes the
// segment's new length.
[[nodiscard]] bool RewriteApp1(TSegmentIo& io, std::uint16_t length, std::int64_t lengthPosition,
                               const TExifTurn& turn, TMetadataNotes& notes);

}  // namespace plume
