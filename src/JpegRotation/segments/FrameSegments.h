// Handlers of the segments that describe the frame and its scan: SOF0, DQT,
// SOS and DRI (T.81 B.2.2 to B.2.4). Each refuses what the engine cannot
// handle before any value read is used, and reads on to the end of what its
// segment holds, so that the driver can compare that with the length field.
#pragma once

#include <cstdint>

#include "JpegRotation/frame/Frame.h"
#include "JpegRotation/frame/Turn.h"
#include "JpegRotation/segments/SegmentIo.h"

namespace plume {

// The frame as far as the segments read so far describe it.
struct TFrameRecord {
    TFrame frame;
    bool frameSeen = false;
    int declaredComponents = 0;         // the count field of the last SOF0 read
    std::uint8_t componentIds[4] = {};  // of frame.componentCount components, in frame order
    std::int64_t sizePosition = -1;     // output position of the frame's Y field
};

// The frame header; the output takes it with its size and sampling factors
// exchanged when the turn exchanges the dimensions.
[[nodiscard]] bool RewriteSof0(TSegmentIo& io, TTurn turn, TFrameRecord& record);
// Quantisation tables, transposed for a turn that transposes the blocks.
[[nodiscard]] bool RewriteDqt(TSegmentIo& io, std::uint16_t length, TTurn turn);
// The scan header: one interleaved scan of every component, in identifier order.
[[nodiscard]] bool ReadSos(TSegmentIo& io, TFrameRecord& record);
[[nodiscard]] bool ReadDri(TSegmentIo& io, TFrameRecord& record);

}  // namespace plume
