// The EXIF rewrite through whole rotations: the input is the body of an APP1
// segment, put right after SOI of a small valid JPEG (24 by 16 at 4:2:0: a
// partial MCU column). The first byte chooses the mode (bits 0 to 2),
// TrimPartialEdges (bit 6) and AllowBreakDCF (bit 7).
#include "FuzzSupport.h"
#include "JpegRotation/JpegRotation.h"
#include "fixtures/JpegEncoder.h"

namespace {

const plume::fuzz::TBytes& BaseJpeg() {
    static const plume::fuzz::TBytes jpeg = [] {
        plume::fixtures::TEncodeOptions options;
        options.Size(24, 16).Sampling(plume::fixtures::TSampling::k420);
        options.writeJfif = false;
        options.restartInterval = 2;
        return plume::fixtures::EncodeJpeg(options);
    }();
    return jpeg;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static_assert(plume::kModeCount == 8, "the mode takes bits 0 to 2 of the first byte");
    const auto mode = static_cast<std::uint8_t>(data[0] % plume::kModeCount);
    const plume::fuzz::TFuzzOptions options{(data[0] & 0x80) != 0, (data[0] & 0x40) != 0};
    const plume::fuzz::TBytes jpeg = plume::fuzz::WithApp1AfterSoi(BaseJpeg(), data + 1, size - 1);
    // The thumbnail is turned too: a large one is as slow as a large file.
    if (plume::fuzz::LargestDeclaredFrame(jpeg) > plume::fuzz::kMaxFuzzBlocks) return -1;
    plume::fuzz::ValidateAndRotate(jpeg, mode, options, nullptr);
    return 0;
}
