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
    // Extended and progressive frames, four components, any identifiers,
    // four tables a class, several scans (TEngineOptions::AnyJpeg); the
    // kinds still refused are named.
    bool anyJpeg = false;
    // The output's Huffman tables are made for its scans: DHT segments are
    // read, not written.
    bool tablesFromCounts = false;
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
    // Where the copy of the last scan header read begins in io.out, for a
    // pass that writes scan headers of its own.
    std::int64_t scanHeaderAt = -1;
    // What libjpeg takes the colour space of three components from, with the
    // identifiers (T.871 JFIF APP0; Adobe APP14's transform byte, -1 when
    // there is none): the standard scan script depends on it.
    bool jfif = false;
    int adobeTransform = -1;
};

// Reads the stage from the first byte of the input; the input then stands at
// the first byte of the scan data. False after reporting why the file is
// refused.
[[nodiscard]] bool ReadHeaders(TSegmentIo& io, const THeaderContext& context, THeader& header,
                               TPassEvents& events);

// Reads the segments after a scan's data (T.81 B.2.1: tables and
// miscellaneous segments, B.1.1.2: fill bytes before a marker) up to and
// including the next scan header, whose data the input then stands at, or up
// to EOI, which is left unread (`ended`). io.out takes what the output keeps
// of them: tables completed, every other segment copied. A frame header or a
// quantisation table is refused here.
[[nodiscard]] bool ReadBetweenScans(TSegmentIo& io, const THeaderContext& context, THeader& header,
                                    TPassEvents& events, bool& ended);

// The frame marker that the segments from SOI name first (SOF0 to SOF15),
// or 0 when none is found before a scan header or the end: a look ahead, so
// that the header stage knows, before it writes the tables, whether the
// output makes its own.
std::uint16_t PeekFrameMarker(const std::uint8_t* data, std::size_t size);

}  // namespace plume
