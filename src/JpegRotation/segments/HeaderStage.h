// The header stage of both passes: the marker segments from SOI up to and
// including SOS (T.81 B.2, B.3), read once per pass. The header pass only
// reads them; the rotate pass writes the output's segments as it reads:
// the frame and the quantisation tables turned, the Huffman tables
// completed, the EXIF segment rewritten, every other segment copied.
//
// The segment driver reads each marker and length field and hands the
// segment to its handler; a handler returns whether the segment is
// acceptable, and the driver refuses any segment whose bytes read differ
// from its length field. The first refusal is reported and ends the stage.
#pragma once

#include <cstddef>

#include "JpegRotation/PassEvents.h"
#include "JpegRotation/entropy/HuffmanTables.h"
#include "JpegRotation/frame/Turn.h"
#include "JpegRotation/metadata/ExifRewrite.h"
#include "JpegRotation/metadata/MetadataNotes.h"
#include "JpegRotation/segments/FrameSegments.h"
#include "JpegRotation/segments/SegmentIo.h"

namespace plume {

struct THeaderContext {
    bool validating = false;  // the header pass: APP1 is skipped, not rewritten
    TTurn turn = TTurn::None;
    TExifTurn exif;  // the rotate pass's EXIF rewrite
    // An embedded image (a thumbnail, a secondary image): the images after
    // its own EOI are not its to rewrite.
    bool nested = false;
};

// What the stage read, complete once it returns true.
struct THeader {
    TFrameRecord frame;
    THuffmanRecords tables;
    TMetadataNotes notes;
};

// Reads the stage from the first byte of the input; the input then stands at
// the first byte of the scan data. False after reporting why the file is
// refused.
[[nodiscard]] bool ReadHeaders(TSegmentIo& io, const THeaderContext& context, THeader& header,
                               TPassEvents& events);

}  // namespace plume
