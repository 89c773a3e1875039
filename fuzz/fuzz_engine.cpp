// The engine on arbitrary bytes: ValidateJpeg, then RotateJpeg, with two
// threads, with one, and with one that always indexes the scan, which must
// all do exactly the same. Any file is an input as it is: its size chooses
// the mode ((size / 2) % 8, bits 1 to 3), AllowBreakDCF (bit 0),
// TrimPartialEdges (bit 4), AnyJpeg (on unless bits 5 and 6 are both 0, so
// for three sizes in four: progressive files, several scans, SOF1, four
// components) and OptimizeTables (bit 7).
#include "FuzzSupport.h"
#include "JpegRotation/JpegRotation.h"

static_assert(plume::kModeCount == 8, "the mode takes bits 1 to 3 of the size");

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const plume::fuzz::TBytes jpeg(data, data + size);
    if (plume::fuzz::LargestDeclaredFrame(jpeg) > plume::fuzz::kMaxFuzzBlocks) return -1;
    const auto mode = static_cast<std::uint8_t>(size / 2 % plume::kModeCount);
    plume::fuzz::TFuzzOptions options;
    options.allowBreakDcf = (size & 1) != 0;
    options.trimPartialEdges = (size & 16) != 0;
    options.anyJpeg = (size & 0x60) != 0;
    options.optimizeTables = (size & 0x80) != 0;
    plume::fuzz::RotateEveryWay(jpeg, mode, options);
    return 0;
}
