#include "JpegRotation/scan/CopyPass.h"

namespace plume {

bool ScanCopyable(const TScanJob& job, const TScanIndex& index) {
    if (!index.codedAsCoder) return false;
    const std::uint64_t endBit = index.starts[static_cast<std::size_t>(job.frame.McuCount())].bit;
    const int used = static_cast<int>(endBit & 7);
    if (used == 0) return true;
    const auto padding = static_cast<std::uint8_t>((1u << (8 - used)) - 1);
    return (job.data[endBit >> 3] & padding) == padding;
}

void CopyScan(const TScanJob& job, const TScanIndex& index, std::vector<std::uint8_t>& out) {
    out.insert(out.end(), job.data + job.scanStart, job.data + index.scanEnd);
}

}  // namespace plume
