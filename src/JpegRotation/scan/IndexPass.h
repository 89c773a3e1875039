// The index pass: the scan decoded once to note where every MCU starts,
// reporting what does not decode as it goes, then each output MCU decoded
// again from the index, turned and coded (IndexCoder.h). It takes any scan;
// the passes that decode once hand it whatever they cannot take cleanly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "JpegRotation/PassEvents.h"
#include "JpegRotation/entropy/BlockDecoder.h"
#include "JpegRotation/scan/McuPlan.h"
#include "JpegRotation/scan/ScanJob.h"

namespace plume {

struct TScanIndex {
    // One start per MCU, and last the scan's end.
    std::vector<TMcuStart> starts;
    std::size_t scanEnd = 0;          // the byte after the last one of which a bit was used
    bool codedAsCoder = true;         // with tracking: every block coded as the coder codes it
    std::int64_t speculatedMcus = 0;  // indexed by further threads
};

// Decodes the scan, reporting progress (the input's MCU rows) and what does
// not decode, as decoding into a store of every block would: false after a
// report. A marker inside the data is reported and decoding goes on; the
// caller then writes nothing. trackCoding: note blocks that the coder would
// code otherwise, for the copy. Bits past the end of the data raise the read
// error (EStreamError).
[[nodiscard]] bool IndexScan(const TScanJob& job, bool trackCoding, TPassEvents& events,
                             TScanIndex& index);

// The message of a block that does not decode.
const char* BlockStatusMessage(TBlockStatus status);

}  // namespace plume
