// What a pass keeps true beyond the frame it turns: the multi-picture index
// and the secondary images after the primary (CIPA DC-007), the XMP packets
// (tiff:Orientation, and the pixel dimensions exchanged or trimmed), and the
// item lengths of an Ultra HDR container directory, which locate the gain map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "JpegRotation/PassEvents.h"
#include "JpegRotation/frame/Frame.h"
#include "JpegRotation/metadata/ExifRewrite.h"
#include "JpegRotation/metadata/MetadataNotes.h"

namespace plume {

struct TAfterScan {
    TTurn turn = TTurn::None;
    bool allowBreakDCF = false;
    bool nested = false;  // an embedded image: what follows its EOI is not its own
    TEdgeTrim trim;
    const TMetadataNotes& notes;
    TThumbnailTurner turnImage;  // turns a secondary image by the pass's turn
};

// Appends the input's bytes after the scan data (normally EOI; the images of
// a multi-picture file, turned) to `output`, then makes the notes true in
// it. False after reporting a gain map that cannot be kept true.
// xmpPacketsLeft: the packets in which a change was left out, for want of
// padding or because the packet is not well-formed.
[[nodiscard]] bool WriteAfterScan(const TAfterScan& pass, const std::uint8_t* input,
                                  std::size_t inputSize, std::size_t scanEnd,
                                  std::vector<std::uint8_t>& output, TPassEvents& events,
                                  int& xmpPacketsLeft);

}  // namespace plume
