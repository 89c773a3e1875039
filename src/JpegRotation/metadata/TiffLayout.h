// The EXIF APP1 segment and the TIFF structure inside it, as the EXIF
// analysis and the EXIF rewrite read them: identifier, TIFF header, IFDs of
// 12-byte entries, the byte-order rule and the tags this program uses.
// EXIF 2.32, 4.5 and 4.6; TIFF 6.0, section 2 ("Image File Header", "IFD").
//
// TTiffView reads numbers from a block of TIFF bytes held in memory; every
// read is checked against the block first, with 64-bit arithmetic, so no
// offset or count taken from a file can reach outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace plume {

// "Exif" and two zero bytes open the APP1 body (EXIF 2.32, 4.5.4).
inline constexpr std::uint8_t kExifIdentifier[6] = {0x45, 0x78, 0x69, 0x66, 0x00, 0x00};
inline constexpr std::size_t kExifIdentifierSize = sizeof kExifIdentifier;
inline constexpr std::uint16_t kAPP1Marker = 0xFFE1;

// TIFF header: byte order, 42, IFD0 offset (TIFF 6.0, "Image File Header").
inline constexpr std::size_t kTiffHeaderSize = 8;
inline constexpr std::uint16_t kByteOrderLittleEndian = 0x4949;  // "II"

// IFD: entry count, 12-byte entries, next-IFD offset (TIFF 6.0, "IFD").
inline constexpr std::size_t kIfdCountSize = 2;
inline constexpr std::size_t kIfdEntrySize = 12;
inline constexpr std::size_t kIfdNextSize = 4;
// An entry's tag, then its body: type (2), count (4), value field (4).
inline constexpr std::size_t kEntryBodyOffset = 2;
inline constexpr std::size_t kEntryBodySize = 10;
inline constexpr std::size_t kEntryTypeOffset = 2;
inline constexpr std::size_t kEntryCountOffset = 4;
inline constexpr std::size_t kEntryValueOffset = 8;

// Field types (TIFF 6.0, section 2, "Types").
inline constexpr std::uint16_t kTypeByte = 1;
inline constexpr std::uint16_t kTypeShort = 3;
inline constexpr std::uint16_t kTypeLong = 4;

// Tags (TIFF 6.0 and EXIF 2.32, 4.6.4 to 4.6.6).
inline constexpr std::uint16_t kTagImageWidth = 0x0100;
inline constexpr std::uint16_t kTagImageLength = 0x0101;
inline constexpr std::uint16_t kTagCompression = 0x0103;
inline constexpr std::uint16_t kTagOrientation = 0x0112;
inline constexpr std::uint16_t kTagXResolution = 0x011A;
inline constexpr std::uint16_t kTagYResolution = 0x011B;
inline constexpr std::uint16_t kTagJpegInterchangeFormat = 0x0201;
inline constexpr std::uint16_t kTagJpegInterchangeFormatLength = 0x0202;
inline constexpr std::uint16_t kTagExifIfdPointer = 0x8769;
inline constexpr std::uint16_t kTagGpsIfdPointer = 0x8825;
inline constexpr std::uint16_t kTagInteroperabilityIfdPointer = 0xA005;
inline constexpr std::uint16_t kTagPixelXDimension = 0xA002;
inline constexpr std::uint16_t kTagPixelYDimension = 0xA003;
inline constexpr std::uint16_t kTagFocalPlaneXResolution = 0xA20E;
inline constexpr std::uint16_t kTagFocalPlaneYResolution = 0xA20F;

// Compression 6: the IFD1 thumbnail is a JPEG stream (EXIF 2.32, 4.5.5).
inline constexpr std::uint16_t kCompressionJpeg = 6;

// Orientation values (EXIF 2.32, 4.6.4 A): 1 upright; 3 upside down; 6 and
// 8 must be turned 90 degrees clockwise / counter-clockwise to stand upright.
inline constexpr std::uint16_t kOrientationUpright = 1;
inline constexpr std::uint16_t kOrientationRotate180 = 3;
inline constexpr std::uint16_t kOrientationRotateRight = 6;
inline constexpr std::uint16_t kOrientationRotateLeft = 8;
// The mirrored ones: 2 and 4 are mirrored left to right / top to bottom; in
// 5 the 0th row is the visual left side and the 0th column the top (mirrored
// across the top-left to bottom-right diagonal), in 7 they are the right
// side and the bottom (across the other diagonal).
inline constexpr std::uint16_t kOrientationMirrorHorizontal = 2;
inline constexpr std::uint16_t kOrientationMirrorVertical = 4;
inline constexpr std::uint16_t kOrientationTranspose = 5;
inline constexpr std::uint16_t kOrientationTransverse = 7;

// A number read big-endian, given in the TIFF byte order: its bytes in
// reverse order for a little-endian ("II") TIFF, else unchanged. Applying it
// again gives the big-endian form to write.
inline std::uint16_t SwapWord(std::uint16_t value, bool littleEndian) {
    return littleEndian ? static_cast<std::uint16_t>((value >> 8) | (value << 8)) : value;
}
inline std::uint32_t SwapLong(std::uint32_t value, bool littleEndian) {
    if (!littleEndian) return value;
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

// Checked reads and writes of TIFF numbers in a block of bytes.
class TTiffView {
  public:
    TTiffView(std::uint8_t* data, std::size_t size, bool littleEndian)
        : data_(data), size_(size), littleEndian_(littleEndian) {}

    std::size_t Size() const { return size_; }
    bool LittleEndian() const { return littleEndian_; }
    std::uint8_t* Data() const { return data_; }

    // True when count bytes from offset lie inside the block.
    bool Fits(std::uint64_t offset, std::uint64_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }

    // Callers check Fits first; these do not.
    std::uint16_t Word(std::size_t offset) const {
        const auto raw = static_cast<std::uint16_t>((data_[offset] << 8) | data_[offset + 1]);
        return SwapWord(raw, littleEndian_);
    }
    std::uint32_t Long(std::size_t offset) const {
        const std::uint32_t raw = (std::uint32_t{data_[offset]} << 24) |
                                  (std::uint32_t{data_[offset + 1]} << 16) |
                                  (std::uint32_t{data_[offset + 2]} << 8) | data_[offset + 3];
        return SwapLong(raw, littleEndian_);
    }
    void PutWord(std::size_t offset, std::uint16_t value) const {
        const std::uint16_t raw = SwapWord(value, littleEndian_);
        data_[offset] = static_cast<std::uint8_t>(raw >> 8);
        data_[offset + 1] = static_cast<std::uint8_t>(raw);
    }
    void PutLong(std::size_t offset, std::uint32_t value) const {
        const std::uint32_t raw = SwapLong(value, littleEndian_);
        for (int i = 0; i < 4; ++i)
            data_[offset + i] = static_cast<std::uint8_t>(raw >> (24 - 8 * i));
    }

    // The size of an IFD with its entry count at offset, next-IFD field
    // included; nothing when the count or the entries leave the block.
    std::optional<std::size_t> IfdSize(std::uint64_t offset) const {
        if (!Fits(offset, kIfdCountSize)) return std::nullopt;
        const std::uint64_t size =
            kIfdCountSize + kIfdEntrySize * std::uint64_t{Word(offset)} + kIfdNextSize;
        if (!Fits(offset, size)) return std::nullopt;
        return static_cast<std::size_t>(size);
    }

    // A single value that may be stored as SHORT or LONG (ImageWidth,
    // JPEGInterchangeFormat...): the first SHORT of the value field for type
    // SHORT, the whole field otherwise.
    std::uint32_t ScalarValue(std::size_t entry) const {
        if (Word(entry + kEntryTypeOffset) == kTypeShort) return Word(entry + kEntryValueOffset);
        return Long(entry + kEntryValueOffset);
    }
    // The single value of an entry of type BYTE, SHORT or LONG, read in its
    // own type and size; nothing for another type or a count other than 1
    // (Orientation is a SHORT, but BYTE and LONG ones are met, and readers
    // take them). The entry must fit.
    std::optional<std::uint32_t> IntegerValue(std::size_t entry) const {
        if (Long(entry + kEntryCountOffset) != 1) return std::nullopt;
        switch (Word(entry + kEntryTypeOffset)) {
            case kTypeByte:
                return data_[entry + kEntryValueOffset];
            case kTypeShort:
                return Word(entry + kEntryValueOffset);
            case kTypeLong:
                return Long(entry + kEntryValueOffset);
            default:
                return std::nullopt;
        }
    }
    // Writes a single BYTE, SHORT or LONG value in the entry's own type and
    // size; an entry of another type or count, or a value its type cannot
    // hold, is left as it is (false). The entry must fit.
    bool PutScalarValue(std::size_t entry, std::uint32_t value) const {
        if (Long(entry + kEntryCountOffset) != 1) return false;
        switch (Word(entry + kEntryTypeOffset)) {
            case kTypeByte:
                if (value > 0xFF) return false;
                data_[entry + kEntryValueOffset] = static_cast<std::uint8_t>(value);
                return true;
            case kTypeShort:
                if (value > 0xFFFF) return false;
                PutWord(entry + kEntryValueOffset, static_cast<std::uint16_t>(value));
                return true;
            case kTypeLong:
                PutLong(entry + kEntryValueOffset, value);
                return true;
            default:
                return false;
        }
    }

  private:
    std::uint8_t* data_;
    std::size_t size_;
    bool littleEndian_;
};

}  // namespace plume
