// The copy: a scan that is not turned is written as it is when coding it
// again would give the same bytes: every table complete and used as is, no
// restart markers, every block coded as the coder codes it (the index pass
// notes any that is not), and 1-bits as padding after the last.
#pragma once

#include <cstdint>
#include <vector>

#include "JpegRotation/scan/IndexPass.h"
#include "JpegRotation/scan/ScanJob.h"

namespace plume {

// After the index pass with tracking: whether the scan may be copied.
bool ScanCopyable(const TScanJob& job, const TScanIndex& index);
// Appends the scan data as they are.
void CopyScan(const TScanJob& job, const TScanIndex& index, std::vector<std::uint8_t>& out);

}  // namespace plume
