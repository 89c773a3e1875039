// Handlers of the segments that describe the frame and its scan: SOF0, DQT,
// SOS and DRI (T.81 B.2.2 to B.2.4). Each refuses what the engine cannot
// handle before any value read is used, and reads on to the end of what its
// segment holds, so that the driver can compare that with the length field.
#pragma once

#include <cstdint>

#include "JpegRotation/frame/Frame.h"
#include "JpegRotation/frame/ScanHeader.h"
#include "JpegRotation/frame/Turn.h"
#include "JpegRotation/segments/SegmentIo.h"

namespace plume {

// The frame as far as the segments read so far describe it.
struct TFrameRecord {
    TFrame frame;
    bool frameSeen = false;
    int declaredComponents = 0;         // the count field of the last frame header read
    std::uint8_t componentIds[4] = {};  // of frame.componentCount components, in frame order
    std::uint8_t slotIds[kSlots] = {};  // the identifier of each slot's component
    std::int64_t sizePosition = -1;     // output position of the frame's Y field
    // The scan header read last, and whether it is the one scan of every
    // component, in slot order, with table selectors 0 and 1 (the only one
    // that a frame may have with AnyJpeg off).
    TScanHeader scan;
    bool oneScan = false;
    TProgression progression;
};

// What the frame and scan handlers accept: with AnyJpeg, extended and
// progressive frames, four components, any identifiers, four tables a class.
struct TFrameRules {
    TTurn turn = TTurn::None;
    bool anyJpeg = false;
};

// The frame header (SOF0, and with AnyJpeg SOF1 and SOF2); the output takes
// it with its size and sampling factors exchanged when the turn exchanges
// the dimensions. Components take the slots of their identifiers (0 to 3),
// or, when an identifier is larger, of their places in the frame.
[[nodiscard]] bool RewriteSof(TSegmentIo& io, std::uint16_t marker, const TFrameRules& rules,
                              TFrameRecord& record);
// Quantisation tables, transposed for a turn that transposes the blocks.
[[nodiscard]] bool RewriteDqt(TSegmentIo& io, std::uint16_t length, TTurn turn);
// The scan header. Without AnyJpeg only one interleaved scan of every
// component, in identifier order; with it any scan that the frame's coding
// process allows after the scans before it (TProgression).
[[nodiscard]] bool ReadSos(TSegmentIo& io, const TFrameRules& rules, TFrameRecord& record);
[[nodiscard]] bool ReadDri(TSegmentIo& io, TFrameRecord& record);

}  // namespace plume
