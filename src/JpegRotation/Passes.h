// The engine's two passes over one file. The header pass reads the marker
// segments and tells whether the file can be turned. The rotate pass reads
// them again and writes the output: the header stage (segments/), the edge
// trim and the output geometry (frame/), the scan stage (scan/), and what
// lies after the scan (metadata/). Embedded images (an EXIF thumbnail, the
// secondary images of a multi-picture file) go through nested rotate passes.
#pragma once

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/EngineOptions.h"
#include "JpegRotation/PassEvents.h"
#include "JpegRotation/frame/Frame.h"

namespace plume {

struct TPassContext {
    const TEngineOptions& options;
    TPassEvents& events;
    // Thumbnails nest when a thumbnail holds an EXIF segment with its own;
    // the depth bounds the nesting of a crafted file.
    int thumbnailDepth = 0;
    bool nested = false;  // an embedded image
};

// The header pass. frame: as far as the segments read describe it, even when
// the file is refused.
[[nodiscard]] bool ValidatePass(TMemoryStream& input, const TPassContext& context, TFrame& frame);

// The rotate pass; on success `output` holds the new JPEG, position 0.
struct TRotation {
    TFrame frame;
    TEdgeTrim trim;
    TPassReport report;
};
[[nodiscard]] bool RotatePass(TMemoryStream& input, TMemoryStream& output, TTurn turn,
                              const TPassContext& context, TRotation& rotation);

}  // namespace plume
