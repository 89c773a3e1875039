// The half turn of a scan without restart markers, decoded once. The output
// MCUs are the input's in reverse order (MCU k of the output is MCU N-1-k of
// the input, its blocks turned within it), so the scan is decoded from the
// front in runs of a few MCUs, and each run is coded at once, back to front,
// into bits of its own; the output scan is those bits, the last run's first.
// The first MCU a run puts in the output takes its DC prediction (T.81
// F.1.2.1) from the MCU after the run in the input, so a run is coded as soon
// as the first MCU of the next one is decoded.
//
// With threads, each decodes from its own start, the others as lanes
// (MidScanLane.h) whose marks are their run starts. The DC differences
// within a lane's runs do not see its constants; only the runs at the joins
// and the scan's last one are decoded and coded again, once they are known.
//
// The pass reports nothing itself. Whatever does not decode cleanly (a code
// that matches nothing, a marker or the end of the data inside the scan, a
// DC value out of range, a symbol without a code) it leaves, with nothing
// written, to the index pass, which reports as it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "JpegRotation/scan/ScanJob.h"

namespace plume {

// Appends the output scan to `out` and sets scanEnd and the MCUs that
// further threads decoded; false, with nothing appended, when the scan does
// not decode cleanly that way.
[[nodiscard]] bool CodeHalfTurnOnce(const TScanJob& job, std::vector<std::uint8_t>& out,
                                    std::size_t& scanEnd, std::int64_t& speculatedMcus);

}  // namespace plume
