// RewriteApp1: the EXIF segment of a file being turned. IFD0's Orientation
// becomes 1; for a quarter turn the entries that describe a horizontal and a
// vertical quantity exchange their bodies; the JPEG thumbnail is turned by a
// nested engine and takes the old one's place. Layout: EXIF 2.32, 4.5 and
// 4.6; TIFF 6.0, section 2.
//
// The segment body is read whole (bounded by its length field), parsed and
// patched in memory, and written out; every offset and count taken from it
// is checked against the segment first. What the TIFF structure does not
// describe soundly is left as it stands: an IFD that leaves the segment or
// overlaps another one is not read, and a thumbnail that is not the last
// item of the data, or whose turned form would not fit in a segment, is kept.
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/TiffLayout.h"

namespace plume {

namespace {

// A segment length counts itself and at most 65533 bytes after it.
constexpr std::uint64_t kMaxSegmentLength = 0xFFFF;

// Thumbnail engines nest when a thumbnail holds an EXIF segment with its own
// thumbnail; one level of that is turned, deeper ones are kept as they are,
// so that a crafted file cannot nest engines without end.
constexpr int kMaxThumbnailDepth = 2;
thread_local int tThumbnailDepth = 0;

struct TDepthGuard {
    TDepthGuard() { ++tThumbnailDepth; }
    ~TDepthGuard() { --tThumbnailDepth; }
    TDepthGuard(const TDepthGuard&) = delete;
    TDepthGuard& operator=(const TDepthGuard&) = delete;
};

// A byte range [start, end) of the TIFF data.
struct TRegion {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    bool Overlaps(const TRegion& other) const { return start < other.end && other.start < end; }
};

// Bytes per value of each TIFF 6.0 field type (0 for unknown types).
std::uint64_t TypeSize(std::uint16_t type) {
    static constexpr std::uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    return type < std::size(kSizes) ? kSizes[type] : 0;
}

// The five pairs whose two entries exchange their bodies.
enum TPair { kResolution, kPixelDimensions, kThumbnailSize, kThumbnailResolution, kFocalPlane };
constexpr int kPairCount = 5;

}  // namespace

// Parses and patches one EXIF segment's TIFF data in memory.
class TExifRewriter {
  public:
    // Takes the engine's mode and options.
    TExifRewriter(std::vector<std::uint8_t>& tiff, const TJpegRotation& engine)
        : tiff_(tiff),
          view_(tiff.data(), tiff.size(), IsLittleEndian(tiff)),
          mode_(engine.Mode),
          allowBreakDCF_(engine.AllowBreakDCF),
          trimPartialEdges_(engine.TrimPartialEdges) {}

    // Reads the IFDs and sets IFD0's Orientation to 1. False when there is
    // no IFD0 inside the segment: the segment then passes unchanged.
    bool Parse();
    // The turned thumbnail replaces bytes [ThumbnailStart, ThumbnailEnd)
    // when TurnThumbnail returns true.
    bool TurnThumbnail(std::uint64_t bytesAroundTiff);
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
    TJpegRotation::TExifDimensions PixelDimensions(std::int64_t tiffPosition) const;

  private:
    static bool IsLittleEndian(const std::vector<std::uint8_t>& tiff) {
        return tiff.size() >= 2 && tiff[0] == 0x49 && tiff[1] == 0x49;
    }
    // The region of an IFD at offset, or nothing when it leaves the segment,
    // lies in the header or overlaps an IFD already taken.
    std::optional<TRegion> TakeIfd(std::uint64_t offset);
    // Notes the IFD's entries' value areas among the referenced regions.
    void NoteValueAreas(const TRegion& ifd);
    void Record(TPair pair, int which, std::size_t entry) {
        (which == 0 ? first_ : second_)[pair] = entry + kEntryBodyOffset;
    }
    template <class Handler>
    void ForEachEntry(const TRegion& ifd, Handler handler) const {
        const std::size_t count = view_.Word(static_cast<std::size_t>(ifd.start));
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t entry =
                static_cast<std::size_t>(ifd.start) + kIfdCountSize + i * kIfdEntrySize;
            handler(view_.Word(entry), entry);
        }
    }
    void ParseIfd0(const TRegion& ifd0);
    void ParseExifIfd(const TRegion& exif);
    void ParseIfd1(const TRegion& ifd1);
    bool ThumbnailIsLastItem() const;
    bool ExchangesThumbnailPairs() const {
        return ExchangesDimensions(mode_) && allowBreakDCF_ && compression_ == kCompressionJpeg &&
               thumbnailTurned_;
    }

    std::vector<std::uint8_t>& tiff_;
    TTiffView view_;
    std::uint8_t mode_;
    bool allowBreakDCF_;
    bool trimPartialEdges_;

    std::vector<TRegion> ifds_;        // IFD0, Exif IFD, IFD1 as taken
    std::vector<TRegion> referenced_;  // every IFD and value area the entries name
    std::optional<std::uint32_t> exifIfd_, gpsIfd_, interopIfd_, ifd1_;
    std::optional<std::uint32_t> thumbnailOffset_, thumbnailLength_;
    std::optional<std::size_t> thumbnailLengthEntry_;
    std::int32_t compression_ = -1;
    std::optional<std::size_t> first_[kPairCount], second_[kPairCount];  // entry body offsets

    TRegion thumbnail_;
    bool thumbnailTurned_ = false;
    bool orientationSet_ = false;
    std::vector<std::uint8_t> newThumbnail_;
    TJpegRotation::TEdgeTrim thumbnailTrim_;
};

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
    if (ExchangesDimensions(mode_) && !allowBreakDCF_) return false;
    // Without both tags, or with nothing inside the segment, there is no
    // thumbnail to turn; it is left as it stands.
    if (!thumbnailOffset_ || !thumbnailLength_ || *thumbnailLength_ == 0) return false;
    if (*thumbnailOffset_ >= tiff_.size()) return false;
    // A length beyond the segment takes what is left of it.
    const std::uint64_t available = tiff_.size() - *thumbnailOffset_;
    thumbnail_ = {*thumbnailOffset_,
                  *thumbnailOffset_ + std::min<std::uint64_t>(*thumbnailLength_, available)};
    if (!ThumbnailIsLastItem() || tThumbnailDepth >= kMaxThumbnailDepth) return false;

    TMemoryStream input(std::vector<std::uint8_t>(tiff_.begin() + ThumbnailStart(),
                                                  tiff_.begin() + ThumbnailEnd()));
    TMemoryStream output;
    bool turned = false;
    {
        const TDepthGuard depth;
        TJpegRotation engine;  // defaults: its messages and progress go nowhere
        engine.TrimPartialEdges = trimPartialEdges_;
        engine.nested_ = true;
        try {
            turned = engine.ValidateJpeg(input) && engine.RotateJpeg(input, output, mode_);
            if (turned) thumbnailTrim_ = engine.trim_;
        } catch (const EStreamError&) {
            // A thumbnail cut short inside a complete segment: refused like
            // any other that cannot be turned, and the photo goes on.
            turned = false;
        }
    }
    // A thumbnail that cannot be turned is dropped: no bytes, length 0.
    if (turned) newThumbnail_ = output.Bytes();
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
    if (ExchangesDimensions(mode_)) {
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

TJpegRotation::TExifDimensions TExifRewriter::PixelDimensions(std::int64_t tiffPosition) const {
    TJpegRotation::TExifDimensions entries;
    entries.littleEndian = view_.LittleEndian();
    const auto& width = first_[kPixelDimensions];
    const auto& height = second_[kPixelDimensions];
    if (width) entries.width = tiffPosition + static_cast<std::int64_t>(*width - kEntryBodyOffset);
    if (height)
        entries.height = tiffPosition + static_cast<std::int64_t>(*height - kEntryBodyOffset);
    return entries;
}

void TJpegRotation::RewriteApp1() {
    OutBits->WriteWord(kAPP1Marker);
    const std::int64_t lengthPosition = OutBits->Position();
    std::uint16_t length = 0;
    ReadSegmentLength(length);
    OutBits->WriteWord(length);
    if (Refused() || length <= 2) return;

    std::vector<std::uint8_t> body(length - 2u);
    InBits->ReadBytes(body.data(), static_cast<std::int32_t>(body.size()));
    const bool exif =
        body.size() >= kExifIdentifierSize &&
        std::equal(std::begin(kExifIdentifier), std::end(kExifIdentifier), body.begin());
    if (!exif) {
        // Any other APP1 passes byte for byte; an XMP packet is noted, to be
        // rewritten in place once the pass knows what it changed.
        NoteXmp(static_cast<std::size_t>(OutBits->Position()), body);
        OutBits->WriteBytes(body.data(), static_cast<std::int32_t>(body.size()));
        return;
    }
    std::vector<std::uint8_t> tiff(body.begin() + kExifIdentifierSize, body.end());
    TExifRewriter rewriter(tiff, *this);
    if (!rewriter.Parse()) {
        OutBits->WriteBytes(body.data(), static_cast<std::int32_t>(body.size()));
        return;
    }
    const bool replaced = rewriter.TurnThumbnail(2 + kExifIdentifierSize);
    if (rewriter.OrientationSet()) metadata_.orientationUpright = true;

    OutBits->WriteBytes(kExifIdentifier, static_cast<std::int32_t>(kExifIdentifierSize));
    const std::int64_t tiffPosition = OutBits->Position();
    if (replaced) {
        const std::vector<std::uint8_t>& thumbnail = rewriter.NewThumbnail();
        const std::size_t start = rewriter.ThumbnailStart(), end = rewriter.ThumbnailEnd();
        OutBits->WriteBytes(tiff.data(), static_cast<std::int32_t>(start));
        OutBits->WriteBytes(thumbnail.data(), static_cast<std::int32_t>(thumbnail.size()));
        OutBits->WriteBytes(tiff.data() + end, static_cast<std::int32_t>(tiff.size() - end));
    } else {
        OutBits->WriteBytes(tiff.data(), static_cast<std::int32_t>(tiff.size()));
    }

    // Everything is written; the buffer no longer moves.
    std::uint8_t* memory = OutBits->Memory();
    const std::int64_t segmentLength = OutBits->Position() - lengthPosition;
    memory[lengthPosition] = static_cast<std::uint8_t>(segmentLength >> 8);
    memory[lengthPosition + 1] = static_cast<std::uint8_t>(segmentLength);
    rewriter.PatchWritten(memory + tiffPosition, replaced);
    exifDimensions_.push_back(rewriter.PixelDimensions(tiffPosition));
}

}  // namespace plume
