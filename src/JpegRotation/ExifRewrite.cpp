#include "JpegRotation/JpegRotation.h"

namespace plume {

// Until the EXIF rewrite exists, an APP1 segment passes unchanged.
void TJpegRotation::RewriteApp1() {
    OutBits->WriteWord(0xFFE1);
    const std::uint16_t length = InBits->ReadWord();
    OutBits->WriteWord(length);
    if (length > 2) {
        std::vector<std::uint8_t> body(length - 2u);
        InBits->ReadBytes(body.data(), static_cast<std::int32_t>(body.size()));
        OutBits->WriteBytes(body.data(), static_cast<std::int32_t>(body.size()));
    }
}

}  // namespace plume
