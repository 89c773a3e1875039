// The index pass's coding: each output MCU decoded again from the scan
// index, turned and coded straight away, the parts of the output on threads
// of their own (OutputCoder.h). The bytes are those of decoding every block
// into a store and coding from it.
#pragma once

#include <cstdint>
#include <vector>

#include "JpegRotation/PassEvents.h"
#include "JpegRotation/scan/IndexPass.h"
#include "JpegRotation/scan/ScanJob.h"

namespace plume {

// Appends the output scan to `out`; false after a report.
[[nodiscard]] bool CodeFromIndex(const TScanJob& job, const TScanIndex& index, TPassEvents& events,
                                 std::vector<std::uint8_t>& out);

}  // namespace plume
