// Shared pieces of the fuzz targets and the seed maker: the engine driven as
// a host drives it, and EXIF segments put together from parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plume::fuzz {

using TBytes = std::vector<std::uint8_t>;

// ValidateJpeg, then RotateJpeg when it accepted the file, in every mode 0 to
// 5 on one engine (which keeps its tables between files, as the
// application's does), once with two threads and once with one; any
// difference in what the two report or write traps. A read past the end of
// the input is the only exception a pass may raise; anything else escapes to
// the fuzzer.
void RotateInEveryMode(const TBytes& jpeg, bool allowBreakDcf);
// The same for one mode; true when both passes accepted the file.
bool ValidateAndRotate(const TBytes& jpeg, std::uint8_t mode, bool allowBreakDcf, TBytes* output);

// The parts of an EXIF segment: IFD0 (Orientation, X/YResolution, the Exif
// IFD pointer), the Exif IFD (pixel and focal-plane dimensions), IFD1
// (compression, size, resolution, thumbnail offset and length) and the
// thumbnail, in that order.
struct TExifParts {
    bool littleEndian = true;
    int orientation = 6;
    int ifd1Orientation = 0;  // 0: IFD1 has no Orientation entry
    std::uint32_t pixelWidth = 640;
    std::uint32_t pixelHeight = 480;
    int thumbnailCompression = 6;
    TBytes thumbnail;  // none when empty (then IFD1 is left out)
};
// "Exif\0\0" and the TIFF data: the body of an APP1 segment.
TBytes MakeExifBody(const TExifParts& parts);

// jpeg with its APP0 segments dropped and an APP1 holding body put right
// after SOI (body is cut to what a segment can hold).
TBytes WithApp1AfterSoi(const TBytes& jpeg, const std::uint8_t* body, std::size_t size);

}  // namespace plume::fuzz
