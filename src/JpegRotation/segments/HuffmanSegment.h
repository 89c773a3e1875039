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
    // The output makes its tables from its own symbol counts: the segment is
    // read, not written.
    bool write = true;
};

// complete: cleared when a table of the segment is not complete, so that
// the output replaces it.
[[nodiscard]] bool RewriteDht(TSegmentIo& io, std::uint16_t length, const TDhtRules& rules,
                              THuffmanRecords& tables, bool& complete);

}  // namespace plume
