#include "JpegRotation/segments/App1Segment.h"

#include <algorithm>
#include <vector>

#include "JpegRotation/metadata/TiffLayout.h"
#include "JpegRotation/metadata/XmpRewrite.h"

namespace plume {

bool RewriteApp1(TSegmentIo& io, std::uint16_t length, std::int64_t lengthPosition,
                 const TExifTurn& turn, TMetadataNotes& notes) {
    if (length <= 2) return true;
    std::vector<std::uint8_t> body(length - 2u);
    io.in.ReadBytes(body.data(), static_cast<std::int32_t>(body.size()));
    const bool exif =
        body.size() >= kExifIdentifierSize &&
        std::equal(std::begin(kExifIdentifier), std::end(kExifIdentifier), body.begin());
    if (!exif) {
        // The packet is rewritten in place once the whole output exists.
        const std::size_t packet = XmpPacketStart(body.data(), body.size());
        if (packet != 0)
            notes.xmp.push_back(
                {static_cast<std::size_t>(io.out.Position()) + packet, body.size() - packet});
        io.out.WriteBytes(body.data(), static_cast<std::int32_t>(body.size()));
        return true;
    }
    std::vector<std::uint8_t> tiff(body.begin() + kExifIdentifierSize, body.end());
    TExifRewriter rewriter(tiff, turn);
    if (!rewriter.Parse()) {
        io.out.WriteBytes(body.data(), static_cast<std::int32_t>(body.size()));
        return true;
    }
    const bool replaced = rewriter.TurnThumbnail(2 + kExifIdentifierSize);
    if (rewriter.OrientationSet()) notes.orientationUpright = true;

    io.out.WriteBytes(kExifIdentifier, static_cast<std::int32_t>(kExifIdentifierSize));
    const std::int64_t tiffPosition = io.out.Position();
    if (replaced) {
        const std::vector<std::uint8_t>& thumbnail = rewriter.NewThumbnail();
        const std::size_t start = rewriter.ThumbnailStart(), end = rewriter.ThumbnailEnd();
        io.out.WriteBytes(tiff.data(), static_cast<std::int32_t>(start));
        io.out.WriteBytes(thumbnail.data(), static_cast<std::int32_t>(thumbnail.size()));
        io.out.WriteBytes(tiff.data() + end, static_cast<std::int32_t>(tiff.size() - end));
    } else {
        io.out.WriteBytes(tiff.data(), static_cast<std::int32_t>(tiff.size()));
    }

    // Everything is written; the buffer no longer moves.
    std::uint8_t* memory = io.out.Memory();
    const std::int64_t segmentLength = io.out.Position() - lengthPosition;
    memory[lengthPosition] = static_cast<std::uint8_t>(segmentLength >> 8);
    memory[lengthPosition + 1] = static_cast<std::uint8_t>(segmentLength);
    rewriter.PatchWritten(memory + tiffPosition, replaced);
    notes.exifDimensions.push_back(rewriter.PixelDimensions(tiffPosition));
    return true;
}

}  // namespace plume
