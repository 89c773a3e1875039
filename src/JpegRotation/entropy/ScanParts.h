// A scan coded in parts, each on a thread of its own, and the parts joined
// into the scan. Without restart markers a part's bits go on where the
// part before ended, so its bytes are kept unstuffed until they are joined;
// with them, each part ends with a marker and is stuffed already.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "JpegRotation/entropy/HuffmanCoding.h"

namespace plume {

struct TCodedPart {
    std::vector<std::uint8_t> bytes;
    std::size_t length = 0;
    TScanWriter::TPending pending{0, 0};  // bits after the bytes, not yet a whole byte
    bool raw = false;                     // unstuffed
};

// Takes what a part's writer wrote: raw when the scan has no restart markers.
inline void FinishPart(TScanWriter& writer, bool raw, TCodedPart& part) {
    if (!raw) writer.FlushWithPadding();
    part.pending = writer.Pending();
    part.length = writer.Length();
    part.raw = raw;
    writer.Finish();
}

// Appends the scan's entropy-coded data, its parts in order, to `out`,
// padded to a whole byte at the end (T.81 F.1.2.3).
inline void JoinParts(const std::vector<TCodedPart>& parts, std::vector<std::uint8_t>& out) {
    TScanWriter writer(out);
    for (const TCodedPart& part : parts) {
        if (part.raw)
            writer.AppendRaw(part.bytes.data(), part.length, part.pending);
        else
            writer.AppendBytes(part.bytes.data(), part.length);
    }
    writer.FlushWithPadding();
    writer.Finish();
}

}  // namespace plume
