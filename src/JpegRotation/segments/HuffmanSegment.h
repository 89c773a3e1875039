// The DHT segment (T.81 B.2.4.2): its tables are read into the pass's table
// records, and the output takes each table that is complete as it is and
// the Annex K table in place of any other, in a segment of its own length.
#pragma once

#include <cstdint>

#include "JpegRotation/entropy/HuffmanTables.h"
#include "JpegRotation/segments/SegmentIo.h"

namespace plume {

struct TDhtRules {
    bool anyJpeg = false;  // table indexes 0 to 3, else 0 and 1
    // The output keeps the input's tables, completed: a segment that would
    // grow past 65535 bytes is refused. Else the output makes its tables
    // from its own symbol counts.
    bool kept = true;
    bool write = true;  // the rotate pass writes the kept tables
};

// complete: cleared when a table of the segment is not complete, so that
// the output replaces it.
[[nodiscard]] bool RewriteDht(TSegmentIo& io, std::uint16_t length, const TDhtRules& rules,
                              THuffmanRecords& tables, bool& complete);

}  // namespace plume
