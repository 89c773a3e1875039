// The EXIF rewrite through whole rotations: the input is the body of an APP1
// segment, put right after SOI of a small valid JPEG. The first byte chooses
// the mode and AllowBreakDCF.
#include "FuzzSupport.h"
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
    const std::uint8_t mode = static_cast<std::uint8_t>(data[0] % 6);
    const bool allowBreakDcf = (data[0] & 0x80) != 0;
    const plume::fuzz::TBytes jpeg = plume::fuzz::WithApp1AfterSoi(BaseJpeg(), data + 1, size - 1);
    // The thumbnail is turned too: a large one is as slow as a large file.
    if (plume::fuzz::LargestDeclaredFrame(jpeg) > plume::fuzz::kMaxFuzzBlocks) return -1;
    plume::fuzz::ValidateAndRotate(jpeg, mode, allowBreakDcf, nullptr);
    return 0;
}
