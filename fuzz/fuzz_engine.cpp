// The engine on arbitrary bytes: ValidateJpeg, then RotateJpeg in every mode.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const plume::fuzz::TBytes jpeg(data, data + size);
    plume::fuzz::RotateInEveryMode(jpeg, size % 2 == 1);
    return 0;
}
