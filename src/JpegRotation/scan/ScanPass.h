// The scan stage: which pass writes the output scan, and the pass run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "JpegRotation/PassEvents.h"
#include "JpegRotation/scan/ScanJob.h"

namespace plume {

enum class TScanPass : std::uint8_t {
    Index,            // the scan indexed, then each output MCU decoded again (IndexPass.h)
    Copy,             // the index pass's decoding, then the scan data as they are (CopyPass.h)
    IntervalsHeld,    // each restart interval decoded once, whole (IntervalPass.h)
    IntervalsWalked,  // each restart interval decoded once, on from where it stopped
    HalfTurnOnce,     // a half turn decoded once, from the front (ReversePass.h)
    Counted,          // the index pass's decoding, symbols counted for made tables (CountedPass.h)
    Store,            // every scan read into the coefficient store (store/StorePass.h)
};
const char* ScanPassName(TScanPass pass);

// The one place that decides which pass takes a scan.
TScanPass ChooseScanPass(const TScanJob& job);

struct TScanResult {
    TScanPass pass = TScanPass::Index;  // the pass that wrote the scan
    std::size_t scanEnd = 0;            // the input's byte after the scan data
    std::int64_t speculatedMcus = 0;    // MCUs that further threads decoded
};

// Appends the output scan to `out` by the chosen pass: the index pass takes
// over, from the start, a scan that a pass decoding once cannot take
// cleanly, so that the bytes, messages and progress are always the index
// pass's. False after a report (or any error report during the pass: a scan
// that did not decode as coded writes nothing). Bits past the end of the
// data raise the read error (EStreamError).
[[nodiscard]] bool WriteScan(const TScanJob& job, TPassEvents& events,
                             std::vector<std::uint8_t>& out, TScanResult& result);

}  // namespace plume
