#include "JpegRotation/metadata/ExifRewrite.h"

#include <algorithm>
#include <array>

namespace plume {

namespace {

// A segment length counts itself and at most 65533 bytes after it.
constexpr std::uint64_t kMaxSegmentLength = 0xFFFF;

// Bytes per value of each TIFF 6.0 field type (0 for unknown types).
std::uint64_t TypeSize(std::uint16_t type) {
    static constexpr std::uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    return type < std::size(kSizes) ? kSizes[type] : 0;
}

}  // namespace

using namespace exif;

TExifRewriter::TExifRewriter(std::vector<std::uint8_t>& tiff, const TExifTurn& turn)
    : tiff_(tiff),
      view_(tiff.data(), tiff.size(), tiff.size() >= 2 && tiff[0] == 0x49 && tiff[1] == 0x49),
      turn_(turn) {}

std::optional<TRegion> TExifRewriter::TakeIfd(std::uint64_t offset) {
    const auto size = view_.IfdSize(offset);
    if (!size) return std::nullopt;
    const TRegion region{offset, offset + *size};
    if (region.Overlaps({0, kTiffHeaderSize})) return std::nullopt;
    for (const TRegion& other : ifds_)
        if (region.Overlaps(other)) return std::nullopt;
    ifds_.push_back(region);
    referenced_.push_back(region);
    return region;
}

void TExifRewriter::NoteValueAreas(const TRegion& ifd) {
    ForEachEntry(ifd, [this](std::uint16_t, std::size_t entry) {
        const std::uint64_t bytes =
            TypeSize(view_.Word(entry + kEntryTypeOffset)) * view_.Long(entry + kEntryCountOffset);
        if (bytes <= 4) return;
        const std::uint64_t start = view_.Long(entry + kEntryValueOffset);
        // A value area outside the segment is broken already; nothing moves it.
        if (view_.Fits(start, bytes)) referenced_.push_back({start, start + bytes});
    });
}

bool TExifRewriter::Parse() {
    if (!view_.Fits(0, kTiffHeaderSize)) return false;
    const auto ifd0 = TakeIfd(view_.Long(4));
    if (!ifd0) return false;
    ParseIfd0(*ifd0);
    // Other IFDs are read only where they do not overlap those taken before.
    if (exifIfd_) {
        if (const auto exif = TakeIfd(*exifIfd_)) ParseExifIfd(*exif);
    }
    for (const auto& pointer : {gpsIfd_, interopIfd_}) {
        if (!pointer) continue;
        if (const auto size = view_.IfdSize(*pointer)) {
            const TRegion region{*pointer, *pointer + *size};
            referenced_.push_back(region);
            NoteValueAreas(region);
        }
    }
    if (ifd1_ && *ifd1_ != 0) {
        if (const auto ifd1 = TakeIfd(*ifd1_)) ParseIfd1(*ifd1);
    }
    return true;
}

void TExifRewriter::ParseIfd0(const TRegion& ifd0) {
    NoteValueAreas(ifd0);
    ForEachEntry(ifd0, [this](std::uint16_t tag, std::size_t entry) {
        switch (tag) {
            case kTagExifIfdPointer:
                exifIfd_ = view_.Long(entry + kEntryValueOffset);
                break;
            case kTagGpsIfdPointer:
                gpsIfd_ = view_.Long(entry + kEntryValueOffset);
                break;
            // Upright whatever the value and the mode (EXIF 2.32, 4.6.4 A),
            // in the entry's own type; one of a type that holds no number
            // (ASCII, say) is no orientation and stays as it is.
            case kTagOrientation:
                if (view_.PutScalarValue(entry, kOrientationUpright)) orientationSet_ = true;
                break;
            case kTagXResolution:
                Record(kResolution, 0, entry);
                break;
            case kTagYResolution:
                Record(kResolution, 1, entry);
                break;
            default:
                break;
        }
    });
    const std::size_t next = static_cast<std::size_t>(ifd0.end) - kIfdNextSize;
    ifd1_ = view_.Long(next);
}

void TExifRewriter::ParseExifIfd(const TRegion& exif) {
    NoteValueAreas(exif);
    ForEachEntry(exif, [this](std::uint16_t tag, std::size_t entry) {
        switch (tag) {
            case kTagPixelXDimension:
                Record(kPixelDimensions, 0, entry);
                break;
            case kTagPixelYDimension:
                Record(kPixelDimensions, 1, entry);
                break;
            case kTagFocalPlaneXResolution:
                Record(kFocalPlane, 0, entry);
                break;
            case kTagFocalPlaneYResolution:
                Record(kFocalPlane, 1, entry);
                break;
            case kTagInteroperabilityIfdPointer:
                interopIfd_ = view_.Long(entry + kEntryValueOffset);
                break;
            default:
                break;
        }
    });
}

void TExifRewriter::ParseIfd1(const TRegion& ifd1) {
    NoteValueAreas(ifd1);
    ForEachEntry(ifd1, [this](std::uint16_t tag, std::size_t entry) {
        switch (tag) {
            case kTagJpegInterchangeFormat:
                thumbnailOffset_ = view_.ScalarValue(entry);
                break;
            case kTagJpegInterchangeFormatLength:
                thumbnailLength_ = view_.ScalarValue(entry);
                thumbnailLengthEntry_ = entry;
                break;
            case kTagCompression:
                compression_ = view_.Word(entry + kEntryValueOffset);
                break;
            case kTagImageWidth:
                Record(kThumbnailSize, 0, entry);
                break;
            case kTagImageLength:
                Record(kThumbnailSize, 1, entry);
                break;
            case kTagXResolution:
                Record(kThumbnailResolution, 0, entry);
                break;
            case kTagYResolution:
                Record(kThumbnailResolution, 1, entry);
                break;
            default:
                break;
        }
    });
    // A further IFD after IFD1 lies somewhere too.
    const std::uint64_t next = view_.Long(static_cast<std::size_t>(ifd1.end) - kIfdNextSize);
    if (next != 0) referenced_.push_back({next, next + 1});
}

// A turned thumbnail changes size, which moves whatever follows it; so it is
// turned only when nothing that an offset names lies after its start.
bool TExifRewriter::ThumbnailIsLastItem() const {
    return std::all_of(referenced_.begin(), referenced_.end(),
                       [this](const TRegion& region) { return region.end <= thumbnail_.start; });
}

bool TExifRewriter::TurnThumbnail(std::uint64_t bytesAroundTiff) {
    if (compression_ != kCompressionJpeg) return false;
    if (ExchangesDimensions(turn_.turn) && !turn_.allowBreakDCF) return false;
    // Without both tags, or with nothing inside the segment, there is no
    // thumbnail to turn; it is left as it stands.
    if (!thumbnailOffset_ || !thumbnailLength_ || *thumbnailLength_ == 0) return false;
    if (*thumbnailOffset_ >= tiff_.size()) return false;
    // A length beyond the segment takes what is left of it.
    const std::uint64_t available = tiff_.size() - *thumbnailOffset_;
    thumbnail_ = {*thumbnailOffset_,
                  *thumbnailOffset_ + std::min<std::uint64_t>(*thumbnailLength_, available)};
    // Thumbnails nest when a thumbnail holds an EXIF segment with its own;
    // past the depth the pass allows, they are kept as they are.
    if (!ThumbnailIsLastItem() || !turn_.turnThumbnail) return false;

    const std::optional<TTurnedImage> turned =
        turn_.turnThumbnail(tiff_.data() + ThumbnailStart(), ThumbnailEnd() - ThumbnailStart());
    // A thumbnail that cannot be turned is dropped: no bytes, length 0.
    if (turned) {
        newThumbnail_ = turned->bytes;
        thumbnailTrim_ = turned->trim;
    }
    const std::uint64_t newLength =
        bytesAroundTiff + tiff_.size() - (thumbnail_.end - thumbnail_.start) + newThumbnail_.size();
    if (newLength > kMaxSegmentLength) {
        // The segment could not describe its length; the old thumbnail stays.
        newThumbnail_.clear();
        return false;
    }
    thumbnailTurned_ = true;
    return true;
}

void TExifRewriter::PatchWritten(std::uint8_t* tiffOut, bool thumbnailReplaced) const {
    const TTiffView out(tiffOut, tiff_.size(), view_.LittleEndian());
    if (thumbnailReplaced && thumbnailLengthEntry_) {
        const std::size_t field = *thumbnailLengthEntry_ + kEntryValueOffset;
        const auto size = static_cast<std::uint32_t>(newThumbnail_.size());
        if (out.Word(*thumbnailLengthEntry_ + kEntryTypeOffset) == kTypeShort)
            out.PutWord(field, static_cast<std::uint16_t>(size));
        else
            out.PutLong(field, size);
    }
    if (ExchangesDimensions(turn_.turn)) {
        for (int pair = 0; pair < kPairCount; ++pair) {
            const bool thumbnailPair = pair != kResolution && pair != kPixelDimensions;
            if (thumbnailPair && !ExchangesThumbnailPairs()) continue;
            if (!first_[pair] || !second_[pair]) continue;
            std::array<std::uint8_t, kEntryBodySize> a, b;
            std::copy_n(tiffOut + *first_[pair], kEntryBodySize, a.begin());
            std::copy_n(tiffOut + *second_[pair], kEntryBodySize, b.begin());
            std::copy(b.begin(), b.end(), tiffOut + *first_[pair]);
            std::copy(a.begin(), a.end(), tiffOut + *second_[pair]);
        }
    }
    if (!thumbnailReplaced) return;
    const auto& size = first_[kThumbnailSize];
    const auto& length = second_[kThumbnailSize];
    if (thumbnailTrim_.firstColumn != 0 && size)
        out.PutScalarValue(*size - kEntryBodyOffset,
                           static_cast<std::uint32_t>(thumbnailTrim_.width));
    if (thumbnailTrim_.firstRow != 0 && length)
        out.PutScalarValue(*length - kEntryBodyOffset,
                           static_cast<std::uint32_t>(thumbnailTrim_.height));
}

TExifDimensions TExifRewriter::PixelDimensions(std::int64_t tiffPosition) const {
    TExifDimensions entries;
    entries.littleEndian = view_.LittleEndian();
    const auto& width = first_[kPixelDimensions];
    const auto& height = second_[kPixelDimensions];
    if (width) entries.width = tiffPosition + static_cast<std::int64_t>(*width - kEntryBodyOffset);
    if (height)
        entries.height = tiffPosition + static_cast<std::int64_t>(*height - kEntryBodyOffset);
    return entries;
}

}  // namespace plume
