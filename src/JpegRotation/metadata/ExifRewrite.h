// The EXIF data of a file being turned (EXIF 2.32, 4.5 and 4.6; TIFF 6.0,
// section 2). IFD0's Orientation becomes 1; for a quarter turn the entries
// that describe a horizontal and a vertical quantity exchange their bodies;
// the JPEG thumbnail is turned like the picture and takes the old one's place.
//
// The TIFF data is parsed and patched in memory; every offset and count
// taken from it is checked against the segment first. What the TIFF
// structure does not describe soundly is left as it stands: an IFD that
// leaves the segment or overlaps another one is not read, and a thumbnail
// that is not the last item of the data, or whose turned form would not fit
// in a segment, is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "JpegRotation/frame/Frame.h"
#include "JpegRotation/frame/Turn.h"
#include "JpegRotation/metadata/MetadataNotes.h"
#include "JpegRotation/metadata/TiffLayout.h"

namespace plume {

// A JPEG turned by a nested pass: its bytes, and what it trimmed.
struct TTurnedImage {
    std::vector<std::uint8_t> bytes;
    TEdgeTrim trim;
};
// Turns an embedded JPEG by the pass's turn; nothing when it cannot be turned.
using TThumbnailTurner =
    std::function<std::optional<TTurnedImage>(const std::uint8_t* image, std::size_t size)>;

struct TExifTurn {
    TTurn turn = TTurn::None;
    bool allowBreakDCF = false;  // a thumbnail may turn sideways, leaving DCF
    // Empty where thumbnails nest too deep to be turned: each is kept.
    TThumbnailTurner turnThumbnail;
};

namespace exif {
// A byte range [start, end) of the TIFF data.
struct TRegion {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    bool Overlaps(const TRegion& other) const { return start < other.end && other.start < end; }
};
// The five pairs whose two entries exchange their bodies.
enum TPair { kResolution, kPixelDimensions, kThumbnailSize, kThumbnailResolution, kFocalPlane };
inline constexpr int kPairCount = 5;
}  // namespace exif

// Parses and patches one EXIF segment's TIFF data in memory.
class TExifRewriter {
  public:
    TExifRewriter(std::vector<std::uint8_t>& tiff, const TExifTurn& turn);

    // Reads the IFDs and sets IFD0's Orientation to 1. False when there is
    // no IFD0 inside the segment: the segment then passes unchanged.
    [[nodiscard]] bool Parse();
    // Whether the turned thumbnail replaces bytes [ThumbnailStart,
    // ThumbnailEnd); bytesAroundTiff: the segment's length field and
    // identifier, for the 16-bit length limit.
    [[nodiscard]] bool TurnThumbnail(std::uint64_t bytesAroundTiff);
    const std::vector<std::uint8_t>& NewThumbnail() const { return newThumbnail_; }
    bool OrientationSet() const { return orientationSet_; }
    std::size_t ThumbnailStart() const { return static_cast<std::size_t>(thumbnail_.start); }
    std::size_t ThumbnailEnd() const { return static_cast<std::size_t>(thumbnail_.end); }
    // After the segment is written (tiffOut: its TIFF data in the output's
    // memory): the thumbnail length, the exchanges and the size of a thumbnail
    // that lost a partial edge.
    void PatchWritten(std::uint8_t* tiffOut, bool thumbnailReplaced) const;
    // Output positions of the entries PixelXDimension and PixelYDimension,
    // for the size of a main image that loses a partial edge.
    TExifDimensions PixelDimensions(std::int64_t tiffPosition) const;

  private:
    // The region of an IFD at offset, or nothing when it leaves the segment,
    // lies in the header or overlaps an IFD already taken.
    std::optional<exif::TRegion> TakeIfd(std::uint64_t offset);
    // Notes the IFD's entries' value areas among the referenced regions.
    void NoteValueAreas(const exif::TRegion& ifd);
    void Record(exif::TPair pair, int which, std::size_t entry) {
        (which == 0 ? first_ : second_)[pair] = entry + kEntryBodyOffset;
    }
    template <class Handler>
    void ForEachEntry(const exif::TRegion& ifd, Handler handler) const {
        const std::size_t count = view_.Word(static_cast<std::size_t>(ifd.start));
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t entry =
                static_cast<std::size_t>(ifd.start) + kIfdCountSize + i * kIfdEntrySize;
            handler(view_.Word(entry), entry);
        }
    }
    void ParseIfd0(const exif::TRegion& ifd0);
    void ParseExifIfd(const exif::TRegion& exif);
    void ParseIfd1(const exif::TRegion& ifd1);
    bool ThumbnailIsLastItem() const;
    bool ExchangesThumbnailPairs() const {
        return ExchangesDimensions(turn_.turn) && turn_.allowBreakDCF &&
               compression_ == kCompressionJpeg && thumbnailTurned_;
    }

    std::vector<std::uint8_t>& tiff_;
    TTiffView view_;
    const TExifTurn& turn_;

    std::vector<exif::TRegion> ifds_;        // IFD0, Exif IFD, IFD1 as taken
    std::vector<exif::TRegion> referenced_;  // every IFD and value area the entries name
    std::optional<std::uint32_t> exifIfd_, gpsIfd_, interopIfd_, ifd1_;
    std::optional<std::uint32_t> thumbnailOffset_, thumbnailLength_;
    std::optional<std::size_t> thumbnailLengthEntry_;
    std::int32_t compression_ = -1;
    std::optional<std::size_t> first_[exif::kPairCount], second_[exif::kPairCount];

    exif::TRegion thumbnail_;
    bool thumbnailTurned_ = false;
    bool orientationSet_ = false;
    std::vector<std::uint8_t> newThumbnail_;
    TEdgeTrim thumbnailTrim_;
};

}  // namespace plume
