#include "app/analysis/ExifAnalysis.h"

#include <algorithm>
#include <optional>

#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/metadata/TiffLayout.h"

namespace plume {

namespace {

constexpr std::uint16_t kSOI = 0xFFD8;
constexpr std::uint16_t kSOS = 0xFFDA;
constexpr std::uint16_t kEOI = 0xFFD9;

// The TIFF data of one EXIF segment in the file, read forward through the
// stream. Every structure is checked against the segment's declared length
// before it is read: what lies outside the segment is not EXIF data and is
// never read or changed. When the declared segment is longer than the file
// (a file cut off inside its EXIF), reading what the file lacks raises the
// stream's read error, as any read past the end of the file does.
class TTiffReader {
  public:
    TTiffReader(TMemoryStream& stream, std::size_t tiffStart, std::size_t tiffSize)
        : stream_(stream), tiffStart_(tiffStart), tiffSize_(tiffSize) {}

    // True when count bytes from TIFF offset lie in the segment; throws
    // EStreamError when they do but the file ends before them.
    bool Within(std::uint64_t offset, std::uint64_t count) const {
        if (offset > tiffSize_ || count > tiffSize_ - offset) return false;
        const std::uint64_t end = std::uint64_t{tiffStart_} + offset + count;
        if (end > stream_.Size()) throw EStreamError(kStreamReadError);
        return true;
    }
    void Seek(std::size_t offset) { stream_.SetPosition(tiffStart_ + offset); }
    std::size_t Offset() const { return stream_.Position() - tiffStart_; }

    std::uint8_t ReadTiffByte() { return stream_.ReadByte(); }
    void Skip(std::size_t count) { stream_.SetPosition(stream_.Position() + count); }
    std::uint16_t ReadTiffWord(bool littleEndian) {
        const std::uint8_t b0 = ReadTiffByte();
        const std::uint8_t b1 = ReadTiffByte();
        return littleEndian ? static_cast<std::uint16_t>(b0 | (b1 << 8))
                            : static_cast<std::uint16_t>((b0 << 8) | b1);
    }
    std::uint32_t ReadTiffLong(bool littleEndian) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t b = ReadTiffByte();
            value |= littleEndian ? b << (8 * i) : b << (24 - 8 * i);
        }
        return value;
    }
    // The segment's TIFF data as a view, for an entry that Within has
    // checked; the stream stays where it is.
    TTiffView View(bool littleEndian) const {
        const std::size_t inFile = std::min(tiffSize_, stream_.Size() - tiffStart_);
        return TTiffView(stream_.Memory() + tiffStart_, inFile, littleEndian);
    }

  private:
    TMemoryStream& stream_;
    std::size_t tiffStart_;
    std::size_t tiffSize_;
};

std::uint16_t ReadBigEndianWord(TMemoryStream& stream) {
    const std::uint8_t high = stream.ReadByte();
    return static_cast<std::uint16_t>((high << 8) | stream.ReadByte());
}

// A frame header (SOFn, T.81 Table B.1) or anything that cannot come before
// one ends the search for an EXIF segment.
bool EndsHeaderSearch(std::uint16_t marker) {
    if ((marker & 0xFF00) != 0xFF00) return true;
    const unsigned low = marker & 0xFF;
    if (low >= 0xC0 && low <= 0xCF && low != 0xC4 && low != 0xC8 && low != 0xCC) return true;
    return marker == kSOS || marker == kEOI || low < 0x02 || (low >= 0xD0 && low <= 0xD8);
}

// The stream stands after the length word of an APP1 segment. True (and the
// stream after the identifier) when the segment is long enough for an
// identifier and its identifier is "Exif\0\0" (EXIF 2.32, 4.5.4).
bool ReadExifIdentifier(TMemoryStream& stream, std::uint16_t length) {
    if (length < 2 + kExifIdentifierSize) return false;
    std::uint8_t identifier[kExifIdentifierSize];
    stream.Read(identifier, sizeof identifier);
    return std::equal(std::begin(identifier), std::end(identifier), std::begin(kExifIdentifier));
}

// The first EXIF APP1 among the segments before the frame header. The walk
// only follows length fields; a segment that does not fit in the file ends
// it quietly (the engine reports such a file itself).
bool FindExifAnywhere(TMemoryStream& stream, std::uint16_t& length) {
    for (;;) {
        if (stream.Remaining() < 4) return false;
        const std::uint16_t marker = ReadBigEndianWord(stream);
        if (EndsHeaderSearch(marker)) return false;
        const std::size_t lengthAt = stream.Position();
        const std::uint16_t declared = ReadBigEndianWord(stream);
        if (declared < 2 || stream.Size() - lengthAt < declared) return false;
        if (marker == kAPP1Marker && ReadExifIdentifier(stream, declared)) {
            length = declared;
            return true;
        }
        stream.SetPosition(lengthAt + declared);
    }
}

// Orientation 6, 8 and 3 ask for a turn; under fixMirrored, 2, 4, 5 and 7
// for the mirror that undoes theirs (each is its own inverse); any other
// value for none.
std::optional<std::uint8_t> ModeOfOrientation(std::uint32_t orientation, bool fixMirrored) {
    switch (orientation) {
        case kOrientationRotateRight:
            return kModeRotateRight;
        case kOrientationRotateLeft:
            return kModeRotateLeft;
        case kOrientationRotate180:
            return kModeRotate180;
        default:
            break;
    }
    if (!fixMirrored) return std::nullopt;
    switch (orientation) {
        case kOrientationMirrorHorizontal:
            return kModeFlipHorizontal;
        case kOrientationMirrorVertical:
            return kModeFlipVertical;
        case kOrientationTranspose:
            return kModeTranspose;
        case kOrientationTransverse:
            return kModeTransverse;
        default:
            return std::nullopt;
    }
}

// Type, count and a SHORT or LONG value of an entry whose tag was just read.
std::uint32_t ReadScalarBody(TTiffReader& tiff, bool littleEndian) {
    const std::uint16_t type = tiff.ReadTiffWord(littleEndian);
    tiff.Skip(4);
    if (type != kTypeShort) return tiff.ReadTiffLong(littleEndian);
    const std::uint16_t value = tiff.ReadTiffWord(littleEndian);
    tiff.Skip(2);
    return value;
}

void AnalyseTiff(TTiffReader& tiff, const TAnalysisOptions& options, TAnalysis& found,
                 TMemoryStream& stream, std::size_t tiffStart) {
    if (!tiff.Within(0, kTiffHeaderSize)) return;
    tiff.Seek(0);
    const bool littleEndian = tiff.ReadTiffWord(false) == kByteOrderLittleEndian;
    tiff.Skip(2);  // the 42
    // IFD0 lies where the header puts it (TIFF 6.0, "Image File Header"):
    // most cameras put it right after the header, some put their Exif IFD
    // there first. An offset into the header or out of the segment names none.
    const std::uint32_t ifd0 = tiff.ReadTiffLong(littleEndian);
    if (ifd0 < kTiffHeaderSize || !tiff.Within(ifd0, kIfdCountSize)) return;
    tiff.Seek(ifd0);
    const std::uint16_t count0 = tiff.ReadTiffWord(littleEndian);
    if (!tiff.Within(tiff.Offset(), std::uint64_t{kIfdEntrySize} * count0)) return;
    const TTiffView fields = tiff.View(littleEndian);
    for (unsigned i = 0; i < count0; ++i) {
        const std::size_t entry = tiff.Offset();
        const bool orientation = tiff.ReadTiffWord(littleEndian) == kTagOrientation;
        tiff.Skip(kEntryBodySize);
        if (!orientation) continue;
        // Read and written back in the entry's own type and size.
        const std::optional<std::uint32_t> value = fields.IntegerValue(entry);
        if (!value) {
            found.OrientationUnreadable = true;
            continue;
        }
        if (const auto turn = ModeOfOrientation(*value, options.FixMirrored)) {
            found.Mode = *turn;
            (void)fields.PutScalarValue(entry, kOrientationUpright);
        }
    }
    const std::size_t ifd0End = tiff.Offset() + kIfdNextSize;
    if (!tiff.Within(tiff.Offset(), kIfdNextSize)) return;
    const std::uint32_t ifd1 = tiff.ReadTiffLong(littleEndian);
    // IFD1 may lie before or after IFD0, but an offset into the header or
    // IFD0 is not one: its Orientation would be written into their bytes.
    if (ifd1 == 0 || ifd1 < kTiffHeaderSize || !tiff.Within(ifd1, kIfdCountSize)) return;
    tiff.Seek(ifd1);
    const std::uint16_t count1 = tiff.ReadTiffWord(littleEndian);
    const std::uint64_t ifd1End =
        std::uint64_t{ifd1} + kIfdCountSize + std::uint64_t{kIfdEntrySize} * count1;
    if (ifd1 < ifd0End && ifd0 < ifd1End) return;
    if (!tiff.Within(tiff.Offset(), std::uint64_t{kIfdEntrySize} * count1)) return;
    std::optional<std::uint32_t> thumbOffset;
    std::optional<std::uint32_t> thumbLength;
    for (unsigned i = 0; i < count1; ++i) {
        const std::size_t entry = tiff.Offset();
        const std::uint16_t tag = tiff.ReadTiffWord(littleEndian);
        if (tag == kTagOrientation && options.AllowBreakDCF) {
            (void)fields.PutScalarValue(entry, kOrientationUpright);
            tiff.Skip(kEntryBodySize);
        } else if (tag == kTagJpegInterchangeFormat) {
            thumbOffset = ReadScalarBody(tiff, littleEndian);
        } else if (tag == kTagJpegInterchangeFormatLength) {
            thumbLength = ReadScalarBody(tiff, littleEndian);
        } else {
            tiff.Skip(kEntryBodySize);
        }
    }
    // The thumbnail is shown only when it lies wholly inside the segment.
    if (!thumbOffset || !thumbLength || *thumbLength == 0) return;
    if (!tiff.Within(*thumbOffset, *thumbLength)) return;
    const std::uint8_t* first = stream.Memory() + tiffStart + *thumbOffset;
    tiff.Seek(*thumbOffset + std::size_t{*thumbLength});
    found.Thumbnail.assign(first, first + *thumbLength);
}

}  // namespace

TAnalysis AnalysisData(TMemoryStream& stream, const TAnalysisOptions& options) {
    TAnalysis found;
    stream.SetPosition(0);
    if (ReadBigEndianWord(stream) != kSOI) {
        found.NoSoi = true;
        return found;
    }
    std::uint16_t length = 0;
    if (options.ExifAnywhere) {
        if (!FindExifAnywhere(stream, length)) return found;
    } else {
        // Only an EXIF segment right after SOI is read; any other first
        // segment (a JFIF APP0, an XMP APP1) means no orientation.
        if (ReadBigEndianWord(stream) != kAPP1Marker) return found;
        length = ReadBigEndianWord(stream);
        if (!ReadExifIdentifier(stream, length)) return found;
    }
    const std::size_t tiffStart = stream.Position();
    TTiffReader tiff(stream, tiffStart, length - 2u - kExifIdentifierSize);
    AnalyseTiff(tiff, options, found, stream, tiffStart);
    return found;
}

}  // namespace plume
