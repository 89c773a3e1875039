// Multi-picture files (CIPA DC-007, "Multi-Picture Format"): the MP Index IFD
// of the primary image's APP2 "MPF\0" segment lists every image of the file
// with its size and its offset, counted from the MP header (the byte after
// "MPF\0"). Secondary images (a large preview, an HDR gain map, a depth or
// disparity map) follow the primary's EOI.
//
// Pure functions over byte buffers: no engine state, so a fuzz target can
// call them directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace plume {

// The APP2 identifier of a multi-picture segment (DC-007, 5.2.2).
inline constexpr std::uint8_t kMpfIdentifier[4] = {'M', 'P', 'F', 0};
inline constexpr std::size_t kMpfIdentifierSize = sizeof kMpfIdentifier;

// Individual image attribute (DC-007, 5.2.3.3.1): bits 24 to 26 the image
// format (0 = JPEG), bits 0 to 23 the MP type.
inline constexpr std::uint32_t kMpTypeMask = 0x00FFFFFF;
inline constexpr std::uint32_t kMpFormatMask = 0x07000000;
inline constexpr std::uint32_t kMpTypeLargeThumbnailVga = 0x010001;
inline constexpr std::uint32_t kMpTypeLargeThumbnailFullHd = 0x010002;
inline bool IsLargeThumbnail(std::uint32_t attribute) {
    const std::uint32_t type = attribute & kMpTypeMask;
    return type == kMpTypeLargeThumbnailVga || type == kMpTypeLargeThumbnailFullHd;
}

// One MP entry as the index holds it (DC-007, 5.2.3.3).
struct TMpEntry {
    std::uint32_t attribute = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;  // from the MP header; 0 for the primary
};

// The MP Index IFD of one segment.
struct TMpIndex {
    bool littleEndian = false;
    std::size_t entriesOffset = 0;  // of the first MP entry, from the MP header
    std::vector<TMpEntry> entries;
};

// Reads the MP Index IFD of an APP2 body that begins with "MPF\0" (body and
// size: the segment after its length word). Nothing when the body is not a
// multi-picture segment or its index cannot be read safely: the TIFF header,
// the IFD, NumberOfImages (0xB001) and the MPEntry block (0xB002, 16 bytes an
// image, as many as NumberOfImages says) must lie wholly inside the segment
// and the block must not overlap the header or the IFD.
std::optional<TMpIndex> ReadMpIndex(const std::uint8_t* body, std::size_t size);

// A secondary image as the rewrite placed it.
struct TSecondaryImage {
    std::size_t entry = 0;  // its MP entry (1 for the first secondary image)
    std::uint32_t attribute = 0;
    std::size_t inStart = 0, inSize = 0;    // in the input file
    std::size_t outStart = 0, outSize = 0;  // in the output file
    bool turned = false;                    // the turner's bytes replaced it
};

// Turns one secondary image (a JPEG of the index's image format 0). Returns
// the new bytes, or nothing to keep the image byte for byte.
using TSecondaryTurner = std::function<std::optional<std::vector<std::uint8_t>>(
    const std::uint8_t* image, std::size_t size, std::uint32_t attribute)>;

// Where the multi-picture segment lies in the input and in the output.
struct TMultiPicturePlace {
    std::size_t inBody = 0;      // input offset of the segment body ("MPF\0")
    std::size_t bodySize = 0;    // the segment's length field minus 2
    std::size_t outBody = 0;     // output offset of the same body, copied unchanged
    std::size_t primaryEnd = 0;  // input offset after the primary's EOI
};

// Writes the file's tail after the primary and makes the index true.
//
// Before the call output holds the new primary image, from its SOI to its
// EOI, with the input's segment body copied unchanged at place.outBody;
// input[0, place.primaryEnd) is the old primary. The call appends
// input[place.primaryEnd, end) to output with each secondary image that the
// index lists passed through turn (JPEG format only; gaps between images and
// bytes after the last one are kept), then writes into the output's index the
// new primary size (output.size() before the call) and each secondary image's
// new size and offset from the output's MP header. Nothing else changes:
// attributes, dependent-image numbers and every other byte of the segment are
// kept.
//
// When the index cannot be read, or lists images that leave the input,
// begin inside the primary, overlap one another, or would leave the 32-bit
// fields of the output, the tail is appended unchanged, the segment is left
// as it is and the result is empty. Otherwise the result lists the secondary
// images in file order. Either way, on return every MP entry of the output
// that the call rewrote names whole images inside the output: the primary
// from byte 0, each secondary image exactly the bytes the call wrote for it.
std::vector<TSecondaryImage> RewriteMultiPicture(const std::uint8_t* input, std::size_t inputSize,
                                                 const TMultiPicturePlace& place,
                                                 std::vector<std::uint8_t>& output,
                                                 const TSecondaryTurner& turn);

// The input offset after the primary's EOI: the first EOI marker from scanEnd
// (the first byte after the primary's entropy-coded data) on. Normally only
// fill bytes 0xFF come between (T.81 B.1.1.2); bytes an encoder left after
// the last MCU, or a segment, stay with the primary. Nothing when no EOI
// follows.
std::optional<std::size_t> PrimaryEnd(const std::uint8_t* input, std::size_t inputSize,
                                      std::size_t scanEnd);

}  // namespace plume
