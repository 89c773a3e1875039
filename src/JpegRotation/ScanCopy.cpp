// Mode 0 without coding: when the scan data are already exactly what the
// coder would write, they are copied as they are.
#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/StandardTables.h"

namespace plume {

bool TJpegRotation::ScanMayBeCopied() const {
    return !(HasRestart && RestartInterval > 0) && UsedTablesComplete();
}

bool TJpegRotation::UsedTablesComplete() const {
    for (int s = 0; s < 4; ++s) {
        if (HSampling[s] == 0 || VSampling[s] == 0) continue;
        const int tables[2] = {DcSelector[s], AcSelector[s]};
        // A complete table codes each symbol once, so decoding and coding agree.
        for (int c = 0; c < 2; ++c)
            if (!IsCompleteTable(c, HuffSymbols[c][tables[c]].data(), HuffCount[c][tables[c]]))
                return false;
    }
    return true;
}

bool TJpegRotation::ScanEndsWithOnes() const {
    const std::int64_t total = static_cast<std::int64_t>(McusPerRow) * McuRows;
    const std::uint64_t endBit = scanIndex_[total].bit;
    const int used = static_cast<int>(endBit & 7);
    if (used == 0) return true;
    const auto padding = static_cast<std::uint8_t>((1u << (8 - used)) - 1);
    return (InBits->Stream().Memory()[endBit >> 3] & padding) == padding;
}

void TJpegRotation::CopyScan() {
    const TMemoryStream& in = InBits->Stream();
    std::vector<std::uint8_t>& out = OutBits->Stream().Bytes();
    out.insert(out.end(), in.Memory() + scanStart_, in.Memory() + in.Position());
    OutBits->Stream().SetPosition(out.size());
    for (int row = 0; row < McuRows; ++row)
        if (OnProgress) OnProgress(McuRows + row);
}

}  // namespace plume
